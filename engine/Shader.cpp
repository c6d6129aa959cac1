#include "engine/Shader.h"

#include "base/Files.h"
#include "base/Logger.h"

#include <cstdlib>
#include <vector>

namespace Velmora {

bool readTextFile(const std::string& path, std::string& text, std::string& error) {
    // Regular files only, so that a FIFO in a shader's place cannot stall the program; the text
    // reaches GL exactly as written.
    return readRegularFile(path, maxShaderSourceBytes, text, error);
}

std::string readTextFile(std::string path) {
    std::string text;
    std::string error;
    readTextFile(path, text, error);
    return text;
}

namespace {

// The source line named at the start of a driver's log line, or 0: Mesa "0:12(3): error: ...",
// others "ERROR: 0:12: ..." and "0(12) : error ...".
int sourceLineOf(const std::string& line) {
    std::size_t at = 0;
    if (line.compare(0, 7, "ERROR: ") == 0) {
        at = 7;
    } else if (line.compare(0, 9, "WARNING: ") == 0) {
        return 0;
    }
    char* end = nullptr;
    const char* start = line.c_str() + at;
    std::strtol(start, &end, 10); // the source string index
    if (end == start || (*end != ':' && *end != '(')) {
        return 0;
    }
    const char* number = end + 1;
    const long value = std::strtol(number, &end, 10);
    if (end == number || value <= 0 || value > 1000000) {
        return 0;
    }
    return static_cast<int>(value);
}

} // namespace

std::vector<ShaderProblem> parseShaderLog(const std::string& file, const std::string& log) {
    std::vector<ShaderProblem> problems;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find('\n', start);
        if (end == std::string::npos) {
            end = log.size();
        }
        std::string line = log.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\0')) {
            line.pop_back();
        }
        const int number = sourceLineOf(line);
        if (number > 0) {
            problems.push_back({file, number, line});
        }
        start = end + 1;
    }
    if (problems.empty()) {
        std::string text = log;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '\0')) {
            text.pop_back();
        }
        problems.push_back({file, 0, text.empty() ? "failed without a message from the driver" : text});
    }
    return problems;
}

Shader::Shader(GLenum type, std::string source, ShaderSourceKind kind) : sourceKind(kind) {
    name = glCreateShader(type);
    if (kind == FromFile) {
        Logger::instance().debug("Compiling shader from file %s", source.c_str());
        std::string text;
        std::string error;
        if (!readTextFile(source, text, error)) {
            // Logged like a failed compile: the one report of this problem on the console.
            Logger::instance().error("%s: cannot read the file: %s", source.c_str(), error.c_str());
            found.push_back({source, 0, "cannot read the file: " + error});
        }
        const char* pointer = text.c_str();
        glShaderSource(name, 1, &pointer, nullptr);
        path = source;
    } else if (kind == FromString) {
        Logger::instance().debug("Compiling shader from an internal string");
        const char* pointer = source.c_str();
        glShaderSource(name, 1, &pointer, nullptr);
    }
    compile();
}

void Shader::compile() {
    glCompileShader(name);
    GLint status = 0;
    glGetShaderiv(name, GL_COMPILE_STATUS, &status);
    if (status != 0) {
        return;
    }
    GLint length = 0;
    glGetShaderiv(name, GL_INFO_LOG_LENGTH, &length);
    // At least one byte, NUL from the start: a driver that reports no log gives an empty message
    // rather than whatever the buffer held.
    std::vector<char> log(length > 0 ? static_cast<size_t>(length) : 1, '\0');
    if (length > 0) {
        GLsizei written = 0;
        glGetShaderInfoLog(name, length, &written, log.data());
        log[written >= 0 && written < length ? written : length - 1] = '\0';
    }
    Logger::instance().error("%s", log.data());
    if (found.empty()) {
        found = parseShaderLog(path, log.data());
    }
    glDeleteShader(name);
    name = 0;
}

Shader::~Shader() {
    glDeleteShader(name);
    name = 0;
}

} // namespace Velmora
