// Console logger: one line per call, "LEVEL - message", on standard output; and the one route for
// messages meant for a person (say): progress, the errors and reports of the off-screen runs, the
// check and the edit mode, the edit server's address, each to the stream it belongs on.
//
// Safe from any thread: a line is formatted first and handed to the sink whole, under a lock, so
// lines from different threads never interleave. The sinks are standard output and standard error
// unless replaced (tests capture the lines; nothing else filters or re-routes them). No time
// stamps, no filtering.
#pragma once

#include "base/Compiler.h"

#include <functional>
#include <mutex>
#include <string>

namespace Velmora {

// The stream a message for a person goes to.
enum class LogStream {
    Output, // standard output: what a command produces (a report, a summary, an address)
    Error,  // standard error: problems and progress
};

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

    // A message meant for a person, exactly as given (line ends included). Output goes line by line
    // through the sink as plain lines do; Error goes to standard error, after standard output is
    // flushed so that the two stay in order on one terminal, or to the error sink.
    void say(LogStream stream, const std::string& text);

    // Replaces the sink; an empty function restores standard output. Returns the previous sink.
    Sink setSink(Sink sink);
    // Replaces the sink of say(LogStream::Error, ...), which receives the text as given; an empty
    // function restores standard error. Returns the previous one.
    Sink setErrorSink(Sink sink);

    // Flushes standard output and tells whether everything written to it so far arrived (not a
    // full disk, not a closed pipe); `error` then names the cause.
    [[nodiscard]] bool outputWritten(std::string& error);

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

private:
    Logger() = default;
    void write(const std::string& line);

    std::mutex lock;
    Sink sink;
    Sink errorSink;
};

} // namespace Velmora
