// A linked vertex + fragment program with uniforms set by name, or through handles.
//
// Uniform locations are looked up once per name and cached for the life of the program (each first
// look-up logs "%s -> %d"). A handle (uniform(name)) names a uniform once, for code that sets it
// every frame: setting through it copies no string and searches nothing, and it stays valid across
// reloads. Naming a handle looks nothing up; its location is looked up (and logged) where a set by
// name would have done it, at its first set. Setters never make the program current: call use()
// first. Nothing here
// throws: a stage that does not compile or a program that does not link is logged and described by
// problems(), and the owner decides what to do (the show draws on; the off-screen runs refuse).
//
// A program built from files can be rebuilt from them (reload, for live editing): a new program is
// compiled and linked, and only when it links does it replace the current one; otherwise the
// current one stays in use.
#pragma once

#include "engine/Shader.h"

#include <GL/glew.h>

#include <map>
#include <string>
#include <type_traits>
#include <vector>

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

    // A uniform of this program, named once.
    struct Uniform {
        int index = -1;
    };
    Uniform uniform(const std::string& name);
    GLint uniformLocation(Uniform uniform);
    void setUniform1f(Uniform uniform, float v);
    void setUniform1i(Uniform uniform, int v);
    void setUniform4f(Uniform uniform, float x, float y, float z, float w);
    void setUniformMatrix4fv(Uniform uniform, GLsizei count, GLboolean transpose, const float* values);

    GLuint id() const { return programName; }

    // The program linked (its link status, queried after linking).
    bool linked() const { return linkStatus; }
    // Why the last build or reload failed: each stage's compile errors, or the link error; empty
    // when it succeeded.
    const std::vector<ShaderProblem>& problems() const { return found; }
    // The source files (FromFile); empty for internal strings.
    const std::string& fragmentFile() const { return fragmentPath; }
    const std::string& vertexFile() const { return vertexPath; }
    bool usesFile(const std::string& path) const;

    // Rebuilds from the same files. When the new program links it replaces the current one (the
    // uniform cache starts over) and true is returned; otherwise the current one stays and
    // problems() says why. Internal strings cannot be reloaded (false, nothing changes).
    bool reload();

    // Every program alive, in creation order (process-wide record, for reloading by file).
    static const std::vector<ShaderProgram*>& all() { return registry; }

    // The id of the program most recently made current through use(); 0 at start.
    static GLuint lastUsedProgram() { return lastUsed; }

    ShaderProgram(const ShaderProgram&) = delete;
    ShaderProgram& operator=(const ShaderProgram&) = delete;

private:
    // Compiles both stages and links them into a new program name (0 when nothing could be made).
    GLuint build(const std::string& fragmentSource, const std::string& vertexSource, ShaderSourceKind kind,
                 bool& ok, std::vector<ShaderProblem>& problems);

    // Every uniform named so far, by handle index, and each name's index. A location is looked up
    // at its first use after the program was (re)built.
    struct UniformEntry {
        std::string name;
        GLint location = -1;
        bool resolved = false;
    };
    std::vector<UniformEntry> uniforms;
    std::map<std::string, int> uniformIndex;
    GLuint programName = 0;
    bool linkStatus = false;
    ShaderSourceKind sourceKind;
    std::string fragmentPath;
    std::string vertexPath;
    std::vector<ShaderProblem> found;

    // Process-wide list of live programs. Rule: the constructor appends, the destructor removes;
    // nothing else changes it.
    static std::vector<ShaderProgram*> registry;

    // Process-wide record of the current program. Rule: only use() sets it (and calls
    // glUseProgram when it changes); no other code calls glUseProgram. The destructor forgets it
    // when it names the deleted program, because GL may hand the same id to a later program.
    static GLuint lastUsed;
};

static_assert(!std::is_copy_constructible<ShaderProgram>::value, "ShaderProgram owns a GL name");

} // namespace Velmora
