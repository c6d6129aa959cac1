#include "engine/ShaderProgram.h"

#include "base/Logger.h"

#include <algorithm>

namespace Velmora {

GLuint ShaderProgram::lastUsed = 0;
std::vector<ShaderProgram*> ShaderProgram::registry;

namespace {

std::string programLog(GLuint program) {
    GLint length = 0;
    glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> log(length > 0 ? static_cast<size_t>(length) : 1, '\0');
    if (length > 0) {
        GLsizei written = 0;
        glGetProgramInfoLog(program, length, &written, log.data());
        log[written >= 0 && written < length ? written : length - 1] = '\0';
    }
    std::string text = log.data();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

} // namespace

ShaderProgram::ShaderProgram(std::string fragmentSource, std::string vertexSource, ShaderSourceKind kind)
    : sourceKind(kind) {
    if (kind == FromFile) {
        fragmentPath = fragmentSource;
        vertexPath = vertexSource;
    }
    programName = build(fragmentSource, vertexSource, kind, linkStatus, found);
    registry.push_back(this);
}

GLuint ShaderProgram::build(const std::string& fragmentSource, const std::string& vertexSource,
                            ShaderSourceKind kind, bool& ok, std::vector<ShaderProblem>& problems) {
    problems.clear();
    const GLuint program = glCreateProgram();
    Shader fragment(GL_FRAGMENT_SHADER, fragmentSource, kind);
    Shader vertex(GL_VERTEX_SHADER, vertexSource, kind);
    glAttachShader(program, fragment.id());
    glAttachShader(program, vertex.id());
    glLinkProgram(program);
    GLint status = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &status);
    ok = status == GL_TRUE;
    problems = fragment.problems();
    problems.insert(problems.end(), vertex.problems().begin(), vertex.problems().end());
    if (!ok && problems.empty()) {
        // Both stages compiled, so the link itself failed (mismatched inputs and outputs, limits).
        const std::string log = programLog(program);
        Logger::instance().error("%s", log.c_str());
        problems = parseShaderLog(kind == FromFile ? fragmentSource : "", log);
    }
    if (ok && !problems.empty()) {
        ok = false; // an unreadable file compiled as an empty stage cannot be right
    }
    Logger::instance().debug("Linked.");
    // The stages are deleted here (vertex, then fragment) but stay attached, so GL keeps them
    // until the program goes.
    return program;
}

ShaderProgram::~ShaderProgram() {
    glDeleteProgram(programName);
    if (lastUsed == programName) {
        lastUsed = 0;
    }
    programName = 0;
    registry.erase(std::remove(registry.begin(), registry.end(), this), registry.end());
}

bool ShaderProgram::usesFile(const std::string& path) const {
    return sourceKind == FromFile && (path == fragmentPath || path == vertexPath);
}

bool ShaderProgram::reload() {
    if (sourceKind != FromFile) {
        return false;
    }
    bool ok = false;
    std::vector<ShaderProblem> problems;
    const GLuint rebuilt = build(fragmentPath, vertexPath, sourceKind, ok, problems);
    found = std::move(problems);
    if (!ok) {
        glDeleteProgram(rebuilt);
        return false;
    }
    glDeleteProgram(programName);
    if (lastUsed == programName) {
        lastUsed = 0;
    }
    programName = rebuilt;
    linkStatus = true;
    // The new program's locations are looked up again, each at its next use.
    for (UniformEntry& entry : uniforms) {
        entry.resolved = false;
    }
    return true;
}

void ShaderProgram::use() {
    if (programName == lastUsed) {
        return;
    }
    lastUsed = programName;
    glUseProgram(programName);
}

ShaderProgram::Uniform ShaderProgram::uniform(const std::string& name) {
    auto found = uniformIndex.find(name);
    if (found != uniformIndex.end()) {
        return Uniform{found->second};
    }
    const int index = static_cast<int>(uniforms.size());
    uniforms.push_back(UniformEntry{name, -1, false});
    uniformIndex.emplace(name, index);
    return Uniform{index};
}

GLint ShaderProgram::uniformLocation(Uniform handle) {
    if (handle.index < 0 || handle.index >= static_cast<int>(uniforms.size())) {
        return -1;
    }
    UniformEntry& entry = uniforms[static_cast<size_t>(handle.index)];
    if (!entry.resolved) {
        entry.location = glGetUniformLocation(programName, entry.name.c_str());
        entry.resolved = true;
        Logger::instance().debug("%s -> %d", entry.name.c_str(), entry.location);
    }
    return entry.location;
}

GLint ShaderProgram::uniformLocation(std::string name) {
    return uniformLocation(uniform(name));
}

void ShaderProgram::setUniform1f(Uniform handle, float v) {
    glUniform1f(uniformLocation(handle), v);
}

void ShaderProgram::setUniform1i(Uniform handle, int v) {
    glUniform1i(uniformLocation(handle), v);
}

void ShaderProgram::setUniform4f(Uniform handle, float x, float y, float z, float w) {
    glUniform4f(uniformLocation(handle), x, y, z, w);
}

void ShaderProgram::setUniformMatrix4fv(Uniform handle, GLsizei count, GLboolean transpose,
                                        const float* values) {
    glUniformMatrix4fv(uniformLocation(handle), count, transpose, values);
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
