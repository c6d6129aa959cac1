// One compiled shader stage, and reading shader source files.
//
// A Shader lives only while a ShaderProgram is being built. Nothing here throws: a stage that does
// not compile logs the driver's message at error level, keeps it as problems (file, line, message)
// and ends with id() 0.
#pragma once

#include <GL/glew.h>

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

namespace Velmora {

// Where a shader's source text comes from.
enum ShaderSourceKind : int32_t {
    FromFile = 0,   // the source argument is a file path
    FromString = 1, // the source argument is the GLSL text itself
};

// Shader sources larger than this are refused (read as empty, with the reason).
constexpr unsigned long long maxShaderSourceBytes = 1 << 20;

// The whole content of the file, unchanged; an empty string when it cannot be read (not a regular
// file, or larger than maxShaderSourceBytes).
std::string readTextFile(std::string path);
// As above; false with the reason when it cannot be read.
bool readTextFile(const std::string& path, std::string& text, std::string& error);

// One problem found while building a program: the source file (empty for an internal string), the
// line the driver names (0 when it names none) and the driver's text.
struct ShaderProblem {
    std::string file;
    int line = 0;
    std::string message;
};

// The problems in a driver's info log, one per line that names a source line ("0:12(3): error:
// ..." and the other common forms); the whole log as one problem with line 0 when none does.
std::vector<ShaderProblem> parseShaderLog(const std::string& file, const std::string& log);

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
    // Why it did not compile (or its file could not be read); empty when it compiled.
    const std::vector<ShaderProblem>& problems() const { return found; }

    Shader(const Shader&) = delete;
    Shader& operator=(const Shader&) = delete;

private:
    void compile();

    GLuint name = 0;
    ShaderSourceKind sourceKind;
    std::string path;
    std::vector<ShaderProblem> found;
};

static_assert(!std::is_copy_constructible<Shader>::value, "Shader owns a GL name");

} // namespace Velmora
