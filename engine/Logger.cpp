#include "engine/Logger.h"

#include <cstdarg>
#include <cstdio>

namespace Velmora {

namespace {
// A line is three separate writes: the level, the formatted message, the line end.
void writeLine(const char* level, const char* format, va_list arguments) {
    std::printf("%s - ", level);
    std::vprintf(format, arguments);
    std::printf("\n");
}
} // namespace

Logger& Logger::instance() {
    static Logger logger;
    return logger;
}

void Logger::debug(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    writeLine("DEBUG", format, arguments);
    va_end(arguments);
}

void Logger::warning(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    writeLine("WARNING", format, arguments);
    va_end(arguments);
}

void Logger::error(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    writeLine("ERROR", format, arguments);
    va_end(arguments);
}

} // namespace Velmora
