// Console logger: one line per call on standard output, "LEVEL - message".
// No time stamps, no filtering, no other sink, no locking: the program logs from one thread.
#pragma once

namespace Velmora {

class Logger {
public:
    static Logger& instance();

    void debug(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void warning(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void error(const char* format, ...) __attribute__((format(printf, 2, 3)));

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

private:
    Logger() = default;
};

} // namespace Velmora
