// Console logger: one line per call, "LEVEL - message", on standard output.
//
// Safe from any thread: a line is formatted first and handed to the sink whole, under a lock, so
// lines from different threads never interleave. The sink is standard output unless replaced
// (tests capture the lines; nothing else filters or re-routes them). No time stamps, no filtering.
#pragma once

#include "base/Compiler.h"

#include <functional>
#include <mutex>
#include <string>

namespace Velmora {

class Logger {
public:
    // Receives each finished line, without its line end.
    using Sink = std::function<void(const std::string& line)>;

    static Logger& instance();

    void debug(const char* format, ...) VELMORA_PRINTF_FORMAT(2, 3);
    void warning(const char* format, ...) VELMORA_PRINTF_FORMAT(2, 3);
    void error(const char* format, ...) VELMORA_PRINTF_FORMAT(2, 3);
    // A line without a level (progress lines of the loaders).
    void plain(const std::string& line);

    // Replaces the sink; an empty function restores standard output. Returns the previous sink.
    Sink setSink(Sink sink);

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

private:
    Logger() = default;
    void write(const std::string& line);

    std::mutex lock;
    Sink sink;
};

} // namespace Velmora
