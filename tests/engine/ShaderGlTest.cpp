// Shader stages and programs against a real compiler: log lines and their order, uniform caching,
// redundant glUseProgram avoidance, and failures that must only be logged.
#include "engine/Shader.h"
#include "engine/ShaderProgram.h"
#include "tests/engine/GlTestSupport.h"
#include "tests/engine/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>

using GlTestSupport::integer;
using TestSupport::captureStdout;
using TestSupport::lines;
using Velmora::FromFile;
using Velmora::FromString;
using Velmora::ShaderProgram;

namespace {

const char* vertexSource = "#version 330 core\n"
                           "layout(location = 0) in vec3 position;\n"
                           "void main() { gl_Position = vec4(position, 1.0); }\n";

const char* fragmentSource = "#version 330 core\n"
                             "uniform float gain;\n"
                             "uniform int mode;\n"
                             "uniform vec4 tint;\n"
                             "uniform mat4 transform;\n"
                             "out vec4 colour;\n"
                             "void main() { colour = tint * gain + vec4(float(mode)) + transform[1]; }\n";

const char* brokenSource = "#version 330 core\nvoid main() { this is not glsl }\n";

} // namespace

TEST(ReadTextFile, KeepsTheTextExactly) {
    const std::string text = "// comment\n\n\nvoid main() {}\r\n  trailing line without end";
    EXPECT_EQ(Velmora::readTextFile(TestSupport::writeFile("exact.glsl", text)), text);
    EXPECT_EQ(Velmora::readTextFile(TestSupport::writeFile("empty.glsl", "")), "");
    EXPECT_EQ(Velmora::readTextFile(TestSupport::scratchPath("no-such-file.glsl")), "");
}

TEST(ShaderProgram, FromFileLogsFragmentThenVertexThenLinked) {
    const std::string fragmentPath = TestSupport::writeFile("good.fs", fragmentSource);
    const std::string vertexPath = TestSupport::writeFile("good.vs", vertexSource);
    std::unique_ptr<ShaderProgram> program;
    const std::string log =
        captureStdout([&] { program = std::make_unique<ShaderProgram>(fragmentPath, vertexPath, FromFile); });
    EXPECT_EQ(lines(log), (std::vector<std::string>{"DEBUG - Compiling shader from file " + fragmentPath,
                                                    "DEBUG - Compiling shader from file " + vertexPath,
                                                    "DEBUG - Linked."}));
    GLint linked = 0;
    glGetProgramiv(program->id(), GL_LINK_STATUS, &linked);
    EXPECT_EQ(linked, GL_TRUE);
}

TEST(ShaderProgram, CompileErrorsAreLoggedInPlaceAndNothingThrows) {
    const std::string brokenPath = TestSupport::writeFile("broken.fs", brokenSource);
    const std::string missingPath = TestSupport::scratchPath("missing.vs");
    std::unique_ptr<ShaderProgram> program;
    const std::string log =
        captureStdout([&] { program = std::make_unique<ShaderProgram>(brokenPath, missingPath, FromFile); });
    const std::vector<std::string> logged = lines(log);
    ASSERT_GE(logged.size(), 5u) << log;
    EXPECT_EQ(logged.front(), "DEBUG - Compiling shader from file " + brokenPath);
    EXPECT_EQ(logged.back(), "DEBUG - Linked.");
    // The driver's message may span lines; the vertex stage's line comes after the fragment's error.
    size_t vertexLine = 0;
    for (size_t i = 0; i < logged.size(); ++i) {
        if (logged[i] == "DEBUG - Compiling shader from file " + missingPath) {
            vertexLine = i;
        }
    }
    ASSERT_GT(vertexLine, 1u) << log;
    EXPECT_EQ(logged[1].rfind("ERROR - ", 0), 0u) << log;
    EXPECT_EQ(logged[vertexLine + 1].rfind("ERROR - ", 0), 0u) << log;

    // The unusable program is used as usual: nothing happens, nothing throws.
    captureStdout([&] {
        program->use();
        EXPECT_EQ(program->uniformLocation("gain"), -1);
        program->setUniform1f("gain", 2.0f);
    });
}

TEST(ShaderProgram, EmptyInfoLogGivesAnEmptyMessage) {
    // A driver that reports a log length of 0 for a failed compile.
    static PFNGLGETSHADERIVPROC real = nullptr;
    real = __glewGetShaderiv;
    __glewGetShaderiv = [](GLuint shader, GLenum pname, GLint* value) {
        real(shader, pname, value);
        if (pname == GL_INFO_LOG_LENGTH) {
            *value = 0;
        }
    };
    std::string log;
    {
        log = captureStdout([] { Velmora::Shader shader(GL_FRAGMENT_SHADER, brokenSource, FromString); });
    }
    __glewGetShaderiv = real;
    EXPECT_EQ(log, "DEBUG - Compiling shader from an internal string\nERROR - \n");
}

TEST(ShaderProgram, FailedStageHasIdZero) {
    captureStdout([] {
        Velmora::Shader broken(GL_FRAGMENT_SHADER, brokenSource, FromString);
        EXPECT_EQ(broken.id(), 0u);
        EXPECT_EQ(broken.fileName(), "");
        Velmora::Shader good(GL_VERTEX_SHADER, vertexSource, FromString);
        EXPECT_NE(good.id(), 0u);
        EXPECT_EQ(good.kind(), FromString);
    });
}

TEST(ShaderProgram, UniformLocationsAreLookedUpAndLoggedOncePerProgram) {
    std::unique_ptr<ShaderProgram> first;
    std::unique_ptr<ShaderProgram> second;
    captureStdout([&] {
        first = std::make_unique<ShaderProgram>(fragmentSource, vertexSource, FromString);
        second = std::make_unique<ShaderProgram>(fragmentSource, vertexSource, FromString);
    });
    GLint gain = -2;
    GLint unknown = -2;
    std::string log = captureStdout([&] {
        gain = first->uniformLocation("gain");
        EXPECT_EQ(first->uniformLocation("gain"), gain);
        unknown = first->uniformLocation("notThere");
        EXPECT_EQ(first->uniformLocation("notThere"), -1);
        first->use();
        first->setUniform1f("gain", 0.5f);
    });
    EXPECT_GE(gain, 0);
    EXPECT_EQ(unknown, -1);
    EXPECT_EQ(log, "DEBUG - gain -> " + std::to_string(gain) + "\nDEBUG - notThere -> -1\n");

    // The second program keeps its own cache.
    log = captureStdout([&] { second->uniformLocation("gain"); });
    EXPECT_EQ(log, "DEBUG - gain -> " + std::to_string(second->uniformLocation("gain")) + "\n");
}

TEST(ShaderProgram, SettersWriteTheCurrentProgramsUniforms) {
    std::unique_ptr<ShaderProgram> program;
    captureStdout([&] {
        program = std::make_unique<ShaderProgram>(fragmentSource, vertexSource, FromString);
        program->use();
        program->setUniform1f("gain", 0.75f);
        program->setUniform1i("mode", -3);
        program->setUniform4f("tint", 1.0f, 2.0f, 3.0f, 4.0f);
        float matrix[16];
        for (int i = 0; i < 16; ++i) {
            matrix[i] = static_cast<float>(i);
        }
        program->setUniformMatrix4fv("transform", 1, GL_FALSE, matrix);
    });
    const GLuint id = program->id();
    float gain = 0.0f;
    glGetUniformfv(id, program->uniformLocation("gain"), &gain);
    EXPECT_EQ(gain, 0.75f);
    GLint mode = 0;
    glGetUniformiv(id, program->uniformLocation("mode"), &mode);
    EXPECT_EQ(mode, -3);
    float tint[4] = {};
    glGetUniformfv(id, program->uniformLocation("tint"), tint);
    EXPECT_EQ(tint[3], 4.0f);
    float transform[16] = {};
    glGetUniformfv(id, program->uniformLocation("transform"), transform);
    EXPECT_EQ(transform[0], 0.0f);
    EXPECT_EQ(transform[15], 15.0f);
}

TEST(ShaderProgram, UseSkipsRedundantCalls) {
    std::unique_ptr<ShaderProgram> a;
    std::unique_ptr<ShaderProgram> b;
    captureStdout([&] {
        a = std::make_unique<ShaderProgram>(fragmentSource, vertexSource, FromString);
        b = std::make_unique<ShaderProgram>(fragmentSource, vertexSource, FromString);
    });
    GlTestSupport::UseProgramCounter counter;
    a->use();
    a->use();
    EXPECT_EQ(counter.count(), 1);
    EXPECT_EQ(integer(GL_CURRENT_PROGRAM), static_cast<GLint>(a->id()));
    EXPECT_EQ(ShaderProgram::lastUsedProgram(), a->id());
    b->use();
    a->use();
    b->use();
    EXPECT_EQ(counter.count(), 4);
    EXPECT_EQ(integer(GL_CURRENT_PROGRAM), static_cast<GLint>(b->id()));
}

TEST(ShaderProgram, ANewProgramWithARecycledIdStillBecomesCurrent) {
    auto build = [] {
        std::unique_ptr<ShaderProgram> program;
        captureStdout(
            [&] { program = std::make_unique<ShaderProgram>(fragmentSource, vertexSource, FromString); });
        return program;
    };
    std::unique_ptr<ShaderProgram> first = build();
    first->use();
    first.reset();
    EXPECT_EQ(ShaderProgram::lastUsedProgram(), 0u);
    // GL may hand the deleted program's id to the next one; use() must not take it as current.
    std::unique_ptr<ShaderProgram> second = build();
    second->use();
    EXPECT_EQ(integer(GL_CURRENT_PROGRAM), static_cast<GLint>(second->id()));
}

TEST(ShaderProgram, ProblemsNameTheFileAndLineOfACompileError) {
    const std::string brokenPath = TestSupport::writeFile(
        "line3.fs", "#version 330 core\nout vec4 colour;\nvoid main() { colour = nope; }\n");
    const std::string vertexPath = TestSupport::writeFile("ok.vs", vertexSource);
    std::unique_ptr<ShaderProgram> program;
    captureStdout([&] { program = std::make_unique<ShaderProgram>(brokenPath, vertexPath, FromFile); });
    EXPECT_FALSE(program->linked());
    ASSERT_FALSE(program->problems().empty());
    EXPECT_EQ(program->problems()[0].file, brokenPath);
    EXPECT_EQ(program->problems()[0].line, 3);
    EXPECT_NE(program->problems()[0].message.find("nope"), std::string::npos)
        << program->problems()[0].message;

    // A missing file is a problem of its own, whatever the driver says about the empty source.
    const std::string missing = TestSupport::scratchPath("absent.fs");
    captureStdout([&] { program = std::make_unique<ShaderProgram>(missing, vertexPath, FromFile); });
    ASSERT_FALSE(program->problems().empty());
    EXPECT_EQ(program->problems()[0].file, missing);
    EXPECT_EQ(program->problems()[0].message.rfind("cannot read the file: ", 0), 0u);
}

TEST(ShaderProgram, LinkFailuresAreCheckedAndLoggedBeforeLinked) {
    // Both stages compile, but the vertex stage has no main().
    const char* noMain = "#version 330 core\nlayout(location = 0) in vec3 position;\n"
                         "vec4 helper() { return vec4(position, 1.0); }\n";
    std::unique_ptr<ShaderProgram> program;
    const std::string log =
        captureStdout([&] { program = std::make_unique<ShaderProgram>(fragmentSource, noMain, FromString); });
    EXPECT_FALSE(program->linked());
    ASSERT_FALSE(program->problems().empty());
    const std::vector<std::string> logged = lines(log);
    ASSERT_GE(logged.size(), 4u) << log;
    EXPECT_EQ(logged.back(), "DEBUG - Linked.");
    EXPECT_EQ(logged[logged.size() - 2].rfind("ERROR - ", 0), 0u) << log;
}

TEST(ShaderProgram, ReloadReplacesTheProgramOnlyWhenTheNewOneLinks) {
    const std::string fragmentPath = TestSupport::writeFile("live.fs", fragmentSource);
    const std::string vertexPath = TestSupport::writeFile("live.vs", vertexSource);
    std::unique_ptr<ShaderProgram> program;
    captureStdout([&] { program = std::make_unique<ShaderProgram>(fragmentPath, vertexPath, FromFile); });
    ASSERT_TRUE(program->linked());
    EXPECT_TRUE(program->usesFile(fragmentPath));
    program->use();
    const GLuint before = program->id();

    // A broken edit: the running program stays, the problem names the file and line.
    TestSupport::writeFile("live.fs", "#version 330 core\n\nvoid main() { broken }\n");
    captureStdout([&] { EXPECT_FALSE(program->reload()); });
    EXPECT_EQ(program->id(), before);
    EXPECT_TRUE(program->linked());
    ASSERT_FALSE(program->problems().empty());
    EXPECT_EQ(program->problems()[0].line, 3);
    EXPECT_EQ(integer(GL_CURRENT_PROGRAM), static_cast<GLint>(before));

    // The fix: a new program, a fresh uniform cache, and use() makes the new one current.
    TestSupport::writeFile("live.fs", fragmentSource);
    captureStdout([&] { EXPECT_TRUE(program->reload()); });
    EXPECT_TRUE(program->problems().empty());
    program->use();
    EXPECT_EQ(integer(GL_CURRENT_PROGRAM), static_cast<GLint>(program->id()));
    std::string log = captureStdout([&] { program->uniformLocation("gain"); });
    EXPECT_EQ(log.rfind("DEBUG - gain -> ", 0), 0u) << log;

    // Internal strings have nothing to reload from.
    std::unique_ptr<ShaderProgram> internal;
    captureStdout(
        [&] { internal = std::make_unique<ShaderProgram>(fragmentSource, vertexSource, FromString); });
    EXPECT_FALSE(internal->reload());
    EXPECT_TRUE(internal->linked());
}

// A handle names a uniform once: naming looks nothing up, its first set looks the location up and
// logs it as a set by name would (once, shared with the by-name cache), and after a reload it
// finds the uniform in the new program, wherever it now is.
TEST(ShaderProgram, HandlesSetTheNamedUniformAndOutliveAReload) {
    const std::string fragmentPath = TestSupport::writeFile("handles.fs", fragmentSource);
    const std::string vertexPath = TestSupport::writeFile("handles.vs", vertexSource);
    std::unique_ptr<ShaderProgram> program;
    captureStdout([&] { program = std::make_unique<ShaderProgram>(fragmentPath, vertexPath, FromFile); });
    program->use();
    ShaderProgram::Uniform gain;
    ShaderProgram::Uniform typo;
    EXPECT_EQ(captureStdout([&] {
                  gain = program->uniform("gain");
                  typo = program->uniform("gian");
              }),
              "");
    EXPECT_EQ(program->uniform("gain").index, gain.index);
    std::string log = captureStdout([&] {
        program->setUniform1f(gain, 0.5f);
        program->setUniform1f(gain, 0.25f);
        program->setUniform1f("gain", 0.25f);
        program->setUniform1f(typo, 9.0f);
        program->setUniform1f(ShaderProgram::Uniform(), 9.0f);
    });
    EXPECT_EQ(lines(log),
              (std::vector<std::string>{"DEBUG - gain -> " + std::to_string(program->uniformLocation(gain)),
                                        "DEBUG - gian -> -1"}));
    EXPECT_EQ(program->uniformLocation(typo), -1);
    float value = 0.0f;
    glGetUniformfv(program->id(), program->uniformLocation(gain), &value);
    EXPECT_EQ(value, 0.25f);

    // The reloaded program declares more uniforms before "gain".
    std::string moved = fragmentSource;
    moved.insert(moved.find("uniform float gain;"), "uniform vec4 a;\nuniform vec4 b;\nuniform vec4 c;\n");
    moved.replace(moved.find("colour = "), 9, "colour = a + b + c + ");
    TestSupport::writeFile("handles.fs", moved);
    captureStdout([&] { ASSERT_TRUE(program->reload()); });
    program->use();
    log = captureStdout([&] { program->setUniform1f(gain, 0.75f); });
    const GLint location = glGetUniformLocation(program->id(), "gain");
    EXPECT_EQ(log, "DEBUG - gain -> " + std::to_string(location) + "\n");
    EXPECT_EQ(program->uniformLocation(gain), location);
    glGetUniformfv(program->id(), location, &value);
    EXPECT_EQ(value, 0.75f);
}
