// A linked vertex + fragment program with uniforms set by name.
//
// Uniform locations are looked up once per name and cached for the life of the program (each first
// look-up logs "%s -> %d"). Setters never make the program current: call use() first. Link status
// is not checked; nothing here throws.
#pragma once

#include "engine/Shader.h"

#include <GL/glew.h>

#include <map>
#include <string>
#include <type_traits>

namespace Velmora {

class ShaderProgram {
public:
    // Fragment source first, vertex source second; kind applies to both. The fragment stage is
    // read, compiled and logged before the vertex stage, then the program is linked ("Linked.").
    ShaderProgram(std::string fragmentSource, std::string vertexSource, ShaderSourceKind kind);
    ~ShaderProgram();

    // Makes the program current unless it already is the last one made current through use().
    void use();

    GLint uniformLocation(std::string name);
    void setUniform1f(std::string name, float v);
    void setUniform1i(std::string name, int v);
    void setUniform4f(std::string name, float x, float y, float z, float w);
    void setUniformMatrix4fv(std::string name, GLsizei count, GLboolean transpose, const float* values);

    GLuint id() const { return programName; }

    // The id of the program most recently made current through use(); 0 at start.
    static GLuint lastUsedProgram() { return lastUsed; }

    ShaderProgram(const ShaderProgram&) = delete;
    ShaderProgram& operator=(const ShaderProgram&) = delete;

private:
    std::map<std::string, GLint> uniformLocations;
    GLuint programName = 0;

    // Process-wide record of the current program. Rule: only use() sets it (and calls
    // glUseProgram when it changes); no other code calls glUseProgram. The destructor forgets it
    // when it names the deleted program, because GL may hand the same id to a later program.
    static GLuint lastUsed;
};

static_assert(!std::is_copy_constructible<ShaderProgram>::value, "ShaderProgram owns a GL name");

} // namespace Velmora
