#include "base/Logger.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace Velmora {

namespace {

std::string format(const char* level, const char* text, va_list arguments) {
    std::string line = std::string(level) + " - ";
    va_list copy;
    va_copy(copy, arguments);
    const int length = std::vsnprintf(nullptr, 0, text, copy);
    va_end(copy);
    if (length > 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), text, arguments);
        line.append(buffer.data(), static_cast<size_t>(length));
    }
    return line;
}

} // namespace

Logger& Logger::instance() {
    static Logger logger;
    return logger;
}

void Logger::write(const std::string& line) {
    std::lock_guard<std::mutex> guard(lock);
    if (sink) {
        sink(line);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

Logger::Sink Logger::setSink(Sink replacement) {
    std::lock_guard<std::mutex> guard(lock);
    Sink previous = std::move(sink);
    sink = std::move(replacement);
    return previous;
}

void Logger::debug(const char* text, ...) {
    va_list arguments;
    va_start(arguments, text);
    std::string line = format("DEBUG", text, arguments);
    va_end(arguments);
    write(line);
}

void Logger::warning(const char* text, ...) {
    va_list arguments;
    va_start(arguments, text);
    std::string line = format("WARNING", text, arguments);
    va_end(arguments);
    write(line);
}

void Logger::error(const char* text, ...) {
    va_list arguments;
    va_start(arguments, text);
    std::string line = format("ERROR", text, arguments);
    va_end(arguments);
    write(line);
}

void Logger::plain(const std::string& line) {
    write(line);
}

void Logger::say(LogStream stream, const std::string& text) {
    if (stream == LogStream::Output) {
        std::lock_guard<std::mutex> guard(lock);
        if (!sink) {
            std::fwrite(text.data(), 1, text.size(), stdout);
            return;
        }
        // The sink takes whole lines without their line ends.
        size_t begin = 0;
        while (begin < text.size()) {
            size_t end = text.find('\n', begin);
            if (end == std::string::npos) {
                end = text.size();
            }
            sink(text.substr(begin, end - begin));
            begin = end + 1;
        }
        return;
    }
    std::lock_guard<std::mutex> guard(lock);
    if (errorSink) {
        errorSink(text);
        return;
    }
    std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

Logger::Sink Logger::setErrorSink(Sink replacement) {
    std::lock_guard<std::mutex> guard(lock);
    Sink previous = std::move(errorSink);
    errorSink = std::move(replacement);
    return previous;
}

bool Logger::outputWritten(std::string& error) {
    std::lock_guard<std::mutex> guard(lock);
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        error = errno != 0 ? std::strerror(errno) : "a write failed";
        return false;
    }
    return true;
}

} // namespace Velmora
