// One compiled shader stage, and reading shader source files.
//
// A Shader lives only while a ShaderProgram is being built. Nothing here throws: a stage that does
// not compile logs the driver's message at error level and ends with id() 0.
#pragma once

#include <GL/glew.h>

#include <cstdint>
#include <string>
#include <type_traits>

namespace Velmora {

// Where a shader's source text comes from.
enum ShaderSourceKind : int32_t {
    FromFile = 0,   // the source argument is a file path
    FromString = 1, // the source argument is the GLSL text itself
};

// The whole content of the file, unchanged (text mode); an empty string when it cannot be opened.
std::string readTextFile(std::string path);

class Shader {
public:
    // type is GL_VERTEX_SHADER or GL_FRAGMENT_SHADER. Logs "Compiling shader from file %s" or
    // "Compiling shader from an internal string", then compiles; a failed compile logs the info log.
    Shader(GLenum type, std::string source, ShaderSourceKind kind);
    ~Shader();

    GLuint id() const { return name; }
    ShaderSourceKind kind() const { return sourceKind; }
    // The source file path for FromFile, empty otherwise.
    const std::string& fileName() const { return path; }

    Shader(const Shader&) = delete;
    Shader& operator=(const Shader&) = delete;

private:
    void compile();

    GLuint name = 0;
    ShaderSourceKind sourceKind;
    std::string path;
};

static_assert(!std::is_copy_constructible<Shader>::value, "Shader owns a GL name");

} // namespace Velmora
