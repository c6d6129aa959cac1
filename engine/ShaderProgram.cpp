#include "engine/ShaderProgram.h"

#include "base/Logger.h"

namespace Velmora {

GLuint ShaderProgram::lastUsed = 0;

ShaderProgram::ShaderProgram(std::string fragmentSource, std::string vertexSource, ShaderSourceKind kind) {
    programName = glCreateProgram();
    Shader fragment(GL_FRAGMENT_SHADER, std::move(fragmentSource), kind);
    Shader vertex(GL_VERTEX_SHADER, std::move(vertexSource), kind);
    glAttachShader(programName, fragment.id());
    glAttachShader(programName, vertex.id());
    glLinkProgram(programName);
    // The link status is not queried: a broken program draws nothing and its uniforms are -1.
    Logger::instance().debug("Linked.");
    // The stages are deleted here (vertex, then fragment) but stay attached, so GL keeps them
    // until the program goes.
}

ShaderProgram::~ShaderProgram() {
    glDeleteProgram(programName);
    if (lastUsed == programName) {
        lastUsed = 0;
    }
    programName = 0;
}

void ShaderProgram::use() {
    if (programName == lastUsed) {
        return;
    }
    lastUsed = programName;
    glUseProgram(programName);
}

GLint ShaderProgram::uniformLocation(std::string name) {
    auto found = uniformLocations.find(name);
    if (found != uniformLocations.end()) {
        return found->second;
    }
    GLint location = glGetUniformLocation(programName, name.c_str());
    Logger::instance().debug("%s -> %d", name.c_str(), location);
    uniformLocations.emplace(std::move(name), location);
    return location;
}

void ShaderProgram::setUniform1f(std::string name, float v) {
    glUniform1f(uniformLocation(std::move(name)), v);
}

void ShaderProgram::setUniform1i(std::string name, int v) {
    glUniform1i(uniformLocation(std::move(name)), v);
}

void ShaderProgram::setUniform4f(std::string name, float x, float y, float z, float w) {
    glUniform4f(uniformLocation(std::move(name)), x, y, z, w);
}

void ShaderProgram::setUniformMatrix4fv(std::string name, GLsizei count, GLboolean transpose,
                                        const float* values) {
    glUniformMatrix4fv(uniformLocation(std::move(name)), count, transpose, values);
}

} // namespace Velmora
