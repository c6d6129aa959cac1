#include "engine/Shader.h"

#include "base/Logger.h"

#include <fstream>
#include <iterator>
#include <vector>

namespace Velmora {

std::string readTextFile(std::string path) {
    std::ifstream file(path);
    std::string text;
    if (!file) {
        return text;
    }
    // Character by character through the stream buffer: the text reaches GL exactly as written.
    text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return text;
}

Shader::Shader(GLenum type, std::string source, ShaderSourceKind kind) : sourceKind(kind) {
    name = glCreateShader(type);
    if (kind == FromFile) {
        Logger::instance().debug("Compiling shader from file %s", source.c_str());
        std::string text = readTextFile(source);
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
    glDeleteShader(name);
    name = 0;
}

Shader::~Shader() {
    glDeleteShader(name);
    name = 0;
}

} // namespace Velmora
