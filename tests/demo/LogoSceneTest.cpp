// The scene against a real GL context and a fixture ./data folder: construction order, the values
// every uniform receives, the camera, the spectrum texture, the feedback ping-pong and the state a
// frame leaves behind.
#include "DemoTestSupport.h"

#include "demo/Demo.h"
#include "demo/LogoScene.h"
#include "engine/FramebufferStack.h"
#include "engine/ShaderProgram.h"
#include "sync/SyncDevice.h"

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

namespace {

const std::vector<glm::vec3> heartRelaxed = {{0.01f, 0, 0},  {0, 0.01f, 0},  {0, 0, 0.01f},
                                             {-0.01f, 0, 0}, {0, -0.01f, 0}, {0, 0, -0.01f}};
const std::vector<glm::vec3> heartContracted = {
    {0.005f, 0, 0}, {0, 0.005f, 0}, {0, 0, 0.005f}, {-0.005f, 0, 0}};
const std::vector<glm::vec3> fetusPoints = {{0.02f, 0.01f, 0}, {0, 0.02f, 0}, {-0.02f, 0, 0.01f}};

// The tracks of the whole run (the sync device keeps a track once read, so they are written once).
struct TrackValue {
    const char* name;
    float value;
};
const TrackValue tracks[] = {
    {"camx", 0.5f},
    {"camy", -0.25f},
    {"camz", -8.0f},
    {"fov", 60.0f},
    {"xrot", 10.0f},
    {"yrot", 20.0f},
    {"zrot", 5.0f},
    {"bgParticleScale", 0.6f},
    {"addconst", 0.125f},
    {"fftCoef", 700.7f},
    {"fftScale", 2.5f},
    {"fftMin", 0.0625f},
    {"fftCHannel", 99.0f},
    {"distR", 0.01f},
    {"distSeed", 3.5f},
    {"vhsConst", 0.3f},
    {"feye", 0.2f},
    {"logoConst", 0.4f},
    {"sykinta", 0.7f},
    {"feedbackAmount", 0.5f},
    {"feedbackMultiplier", 1.5f},
    {"Macroblocksize", 16},
    {"brightness", 0.25f},
    {"hue", 0.1f},
    {"saturation", -0.2f},
    {"feedbacktype", 2.9f},
    {"additionwhite", 0.05f},
    {"darken", 0.15f},
    {"particlesize", 0.08f},
};

class SceneData : public ::testing::Environment {
public:
    void SetUp() override {
        data.reset(new DemoTest::DataFolder());
        data->writeFile("data/raw/jooh.txt", "0.1 0.2 0.3\n-0.4 0 0.5\n1 1 -1\n");
        data->writeBinaryCloud("heart_1.bin", heartRelaxed);
        data->writeBinaryCloud("heart_2.bin", heartContracted);
        data->writeBinaryCloud("fetus_512.bin", fetusPoints);
        for (const TrackValue& track : tracks) {
            data->writeConstantTrack(track.name, track.value);
        }
        // The draw switches: row 0 (the default row) draws everything; later rows turn clouds off.
        data->writeTrack("backgroundparticles", {{0, 1.0f, 0}, {100, 0.0f, 0}, {200, -1.0f, 0}});
        data->writeTrack("showRiro", {{0, 0.8f, 0}, {300, 0.0f, 0}});
        data->writeTrack("sikio", {{0, 0.6f, 0}, {300, -0.5f, 0}});
        // noisex, noisey, noisez have no files: no wobble.
    }
    void TearDown() override { data.reset(); }

private:
    std::unique_ptr<DemoTest::DataFolder> data;
};

std::string captureConstruction(std::unique_ptr<Demo::Demo>& demo) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    demo.reset(new Demo::Demo(DemoTest::showInputs()));
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

std::unique_ptr<Demo::LogoScene> quietScene() {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    std::unique_ptr<Demo::LogoScene> scene(new Demo::LogoScene(DemoTest::showInputs()));
    std::fflush(stdout);
    testing::internal::GetCapturedStdout();
    return scene;
}

// Runs `body` with the console captured and thrown away (uniform look-ups log a line each).
template <typename Body> void quietly(Body body) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    body();
    std::fflush(stdout);
    testing::internal::GetCapturedStdout();
}

// `expected` appears in `actual` in this order, other lines in between allowed.
::testing::AssertionResult inOrder(const std::vector<std::string>& actual,
                                   const std::vector<std::string>& expected) {
    size_t next = 0;
    for (const std::string& line : actual) {
        if (next < expected.size() && line == expected[next]) {
            ++next;
        }
    }
    if (next == expected.size()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "missing or out of order: \"" << expected[next] << "\" (entry " << next << ")";
}

float uniformFloat(Velmora::ShaderProgram& program, const char* name, int component = 0) {
    const GLint location = program.uniformLocation(name);
    EXPECT_NE(location, -1) << name << " is not an active uniform of program " << program.id();
    float values[16] = {};
    glGetUniformfv(program.id(), location, values);
    return values[component];
}

int uniformInt(Velmora::ShaderProgram& program, const char* name) {
    const GLint location = program.uniformLocation(name);
    EXPECT_NE(location, -1) << name << " is not an active uniform of program " << program.id();
    GLint value = 0;
    glGetUniformiv(program.id(), location, &value);
    return value;
}

glm::vec4 colormask(Velmora::ShaderProgram& program) {
    return glm::vec4(uniformFloat(program, "colormask", 0), uniformFloat(program, "colormask", 1),
                     uniformFloat(program, "colormask", 2), uniformFloat(program, "colormask", 3));
}

// Mean red value of a colour texture at the middle of the picture.
float centreRed(Velmora::Framebuffer* framebuffer) {
    std::vector<float> pixels(static_cast<size_t>(framebuffer->width() * framebuffer->height() * 4));
    glBindTexture(GL_TEXTURE_2D, framebuffer->colorTexture(0)->id());
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, pixels.data());
    // Put the binding back the way the texture record believes it is.
    const Velmora::Texture* bound = Velmora::Texture::boundTexture();
    glBindTexture(GL_TEXTURE_2D, bound != nullptr ? bound->id() : 0);
    const size_t centre =
        static_cast<size_t>((framebuffer->height() / 2) * framebuffer->width() + framebuffer->width() / 2);
    return pixels[centre * 4];
}

TEST(LogoScene, BuildsEverythingInOrderWithoutShaderErrors) {
    std::unique_ptr<Demo::Demo> demo;
    const std::vector<std::string> log = DemoTest::lines(captureConstruction(demo));
    const std::string particleFs = "DEBUG - Compiling shader from file ./data/shaders/particle.fs";
    const std::string particleVs = "DEBUG - Compiling shader from file ./data/shaders/particle.vs";
    const std::string trivial = "DEBUG - Compiling shader from file ./data/shaders/trivial.vs";
    const std::string texture = "DEBUG -   Texture(target)";
    const std::string linked = "DEBUG - Linked.";
    EXPECT_TRUE(inOrder(log, {
                                 "DEBUG - Hello Demo::Demo!",
                                 texture,
                                 "DEBUG - Texture(./data/img/foo.png)",
                                 "DEBUG - Loading image \"./data/img/foo.png\"",
                                 texture, // the spectrum
                                 particleFs,
                                 particleVs,
                                 linked,
                                 particleFs,
                                 particleVs,
                                 linked,
                                 particleFs,
                                 particleVs,
                                 linked,
                                 texture,
                                 texture,
                                 texture, // scene, processed, blur targets
                                 "DEBUG - Compiling shader from file ./data/shaders/feedback.fs",
                                 trivial,
                                 linked,
                                 texture,
                                 texture, // the feedback pair
                                 "DEBUG - Compiling shader from file ./data/shaders/bleh.fs",
                                 trivial,
                                 linked,
                                 "DEBUG - Compiling shader from file ./data/shaders/dirblur.fs",
                                 trivial,
                                 linked,
                                 "DEBUG - Compiling shader from file ./data/shaders/postproc.fs",
                                 trivial,
                                 linked,
                                 "LogoScene::readBParticles",
                                 "- 36",
                                 "0: 0.01, 0, 0",
                                 "5: 0, 0, -0.01",
                                 "LogoScene::readBParticles",
                                 "- 24",
                                 "LogoScene::readBParticles",
                                 "- 18",
                                 "2: -0.02, 0, 0.01",
                                 "DEBUG - Streaming..",
                                 "NO VITTU",
                                 "DEBUG - Streaming..",
                                 "jee",
                                 "DEBUG - Streaming..",
                                 "jee",
                             }));
    size_t textures = 0;
    for (const std::string& line : log) {
        EXPECT_NE(line.rfind("ERROR", 0), 0u) << line;
        textures += line == texture ? 1 : 0;
    }
    // Sprite, spectrum and one colour texture per framebuffer: nothing else is made.
    EXPECT_EQ(textures, 7u);
}

TEST(LogoScene, FillsTheCloudsScaledAndPadsShortHeartTargets) {
    std::unique_ptr<Demo::LogoScene> scene = quietScene();
    const std::vector<glm::vec3>& background = scene->backgroundCloud().particleList();
    ASSERT_EQ(background.size(), 3u);
    EXPECT_EQ(background[1], glm::vec3(-0.4f, 0, 0.5f) * 25.0f);
    EXPECT_TRUE(scene->backgroundCloud().targetList().empty());

    Demo::ParticleContainer& heart = scene->heartCloud();
    ASSERT_EQ(heart.particleList().size(), 6u);
    ASSERT_EQ(heart.targetList().size(), 6u);
    EXPECT_EQ(heart.particleList()[0], heartRelaxed[0] * 65.0f);
    EXPECT_EQ(heart.targetList()[3], heartContracted[3] * 65.0f);
    // heart_2 has two points fewer: those particles keep their own position as target.
    EXPECT_EQ(heart.targetList()[4], heart.particleList()[4]);
    EXPECT_EQ(heart.targetList()[5], heart.particleList()[5]);

    EXPECT_EQ(scene->fetusCloud().targetList(), scene->fetusCloud().particleList());
    EXPECT_EQ(scene->fetusCloud().particleList()[2], fetusPoints[2] * 65.0f);
}

TEST(LogoScene, EveryUniformReceivesItsTrackValue) {
    std::unique_ptr<Demo::LogoScene> scene = quietScene();
    quietly([&] {
        scene->update(0.5);
        scene->draw();
    });
    quietly([&] {
        Velmora::ShaderProgram& background = *scene->backgroundCloud().program();
        EXPECT_EQ(uniformInt(background, "animated"), 0);
        EXPECT_FLOAT_EQ(uniformFloat(background, "fisheye"), 0.2f);
        // The unscaled draw came last.
        EXPECT_EQ(colormask(background), glm::vec4(1, 1, 1, 1));
        EXPECT_FLOAT_EQ(uniformFloat(background, "particlesize"), 0.08f);
        EXPECT_FLOAT_EQ(uniformFloat(background, "iGlobalTime"), 0.5f);
        EXPECT_EQ(uniformInt(background, "particleTex"), 1);

        Velmora::ShaderProgram& heart = *scene->heartCloud().program();
        EXPECT_EQ(uniformInt(heart, "animated"), 1);
        EXPECT_EQ(colormask(heart),
                  glm::vec4(float(0.8f * 0.5), float(0.8f * 0.95), float(0.8f * 0.75), 1.0f));
        EXPECT_FLOAT_EQ(uniformFloat(heart, "particlesize"), 0.04f);
        EXPECT_FLOAT_EQ(uniformFloat(heart, "frame"), 0.7f);
        EXPECT_EQ(uniformFloat(heart, "fisheye"), 0.0f);

        Velmora::ShaderProgram& fetus = *scene->fetusCloud().program();
        EXPECT_EQ(uniformInt(fetus, "animated"), 0);
        EXPECT_EQ(colormask(fetus),
                  glm::vec4(float(0.6f * 0.5), float(0.6f * 0.95), float(0.6f * 0.75), 1.0f));
        EXPECT_FLOAT_EQ(uniformFloat(fetus, "particlesize"), 0.04f);
        EXPECT_EQ(uniformFloat(fetus, "frame"), 0.0f);

        Velmora::ShaderProgram& bleh = scene->blehStage().program();
        EXPECT_EQ(uniformInt(bleh, "tex"), 1);
        EXPECT_FLOAT_EQ(uniformFloat(bleh, "addconst"), 0.125f);
        EXPECT_FLOAT_EQ(uniformFloat(bleh, "iGlobalTime"), 0.5f);

        Velmora::ShaderProgram& feedback = scene->feedbackStage().program();
        EXPECT_EQ(uniformInt(feedback, "mode"), 2);
        EXPECT_FLOAT_EQ(uniformFloat(feedback, "itime"), 0.5f);
        EXPECT_FLOAT_EQ(uniformFloat(feedback, "bufferw"), 320.0f);
        EXPECT_EQ(uniformInt(feedback, "fromtex"), 0);
        EXPECT_EQ(uniformInt(feedback, "inputtex"), 1);
        EXPECT_FLOAT_EQ(uniformFloat(feedback, "fa"), 0.5f);
        EXPECT_FLOAT_EQ(uniformFloat(feedback, "multiplier"), 1.5f);
        EXPECT_FLOAT_EQ(uniformFloat(feedback, "macroSize"), 16.0f);

        Velmora::ShaderProgram& dirblur = scene->dirblurStage().program();
        EXPECT_EQ(uniformInt(dirblur, "inputtex"), 0);
        EXPECT_EQ(uniformFloat(dirblur, "invx"), 0.0125f);
        EXPECT_EQ(uniformFloat(dirblur, "invy"), static_cast<float>(4.0 / 180.0));
        EXPECT_EQ(uniformFloat(dirblur, "wa"), 0.25f);
        EXPECT_EQ(uniformFloat(dirblur, "wb"), 1.25f);
        EXPECT_EQ(uniformFloat(dirblur, "wc"), 0.5f);
        EXPECT_FLOAT_EQ(uniformFloat(dirblur, "logoConst"), 0.4f);

        Velmora::ShaderProgram& postproc = scene->postprocStage().program();
        EXPECT_EQ(uniformInt(postproc, "inputtex"), 1);
        // No music is open: the spectrum stays as it started, all zeros.
        EXPECT_EQ(uniformFloat(postproc, "fftChannel"), 0.0f);
        EXPECT_FLOAT_EQ(uniformFloat(postproc, "fftCoef"), 700.7f);
        EXPECT_FLOAT_EQ(uniformFloat(postproc, "fftScale"), 2.5f);
        EXPECT_FLOAT_EQ(uniformFloat(postproc, "fftMin"), 0.0625f);
        EXPECT_FLOAT_EQ(uniformFloat(postproc, "wexmoorpostcoef"), 0.05f);
        EXPECT_FLOAT_EQ(uniformFloat(postproc, "darken"), 0.15f);
        EXPECT_FLOAT_EQ(uniformFloat(postproc, "brightness"), 0.25f);
        EXPECT_FLOAT_EQ(uniformFloat(postproc, "distR"), 0.01f);
        EXPECT_FLOAT_EQ(uniformFloat(postproc, "distSeed"), 3.5f);
        EXPECT_FLOAT_EQ(uniformFloat(postproc, "vhsConst"), 0.3f);
        EXPECT_FLOAT_EQ(uniformFloat(postproc, "hueshift"), 0.1f);
        EXPECT_FLOAT_EQ(uniformFloat(postproc, "saturation"), -0.2f);
        EXPECT_FLOAT_EQ(uniformFloat(postproc, "time"), 0.5f);
    });
    for (int i = 0; i < 512; ++i) {
        ASSERT_EQ(scene->spectrumValues()[i], 0.0f) << i;
    }
}

TEST(LogoScene, SpectrumBinStaysInsideTheArray) {
    EXPECT_EQ(Demo::LogoScene::spectrumBin(2.9), 2);
    EXPECT_EQ(Demo::LogoScene::spectrumBin(511.99), 511);
    EXPECT_EQ(Demo::LogoScene::spectrumBin(700.7), 511);
    EXPECT_EQ(Demo::LogoScene::spectrumBin(-0.7), 0);
    EXPECT_EQ(Demo::LogoScene::spectrumBin(-3.0), 0);
    EXPECT_EQ(Demo::LogoScene::spectrumBin(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(Demo::LogoScene::spectrumBin(1e300), 511);
    EXPECT_EQ(Demo::LogoScene::spectrumBin(-std::numeric_limits<double>::infinity()), 0);
}

TEST(LogoScene, CameraLooksAlongTheRotatedAxisFromTheTrackPosition) {
    std::unique_ptr<Demo::LogoScene> scene = quietScene();
    quietly([&] { scene->update(0.25); });
    EXPECT_FLOAT_EQ(scene->elapsedTime(), 0.25f);

    // Turned about x first, then y, then z; angles with pi taken as 3.141.
    const double ax = 10 * 3.141 / 180, ay = 20 * 3.141 / 180, az = 5 * 3.141 / 180;
    glm::dvec3 f(0, -std::sin(ax), std::cos(ax));
    f = glm::dvec3(f.x * std::cos(ay) + f.z * std::sin(ay), f.y, -f.x * std::sin(ay) + f.z * std::cos(ay));
    f = glm::dvec3(f.x * std::cos(az) - f.y * std::sin(az), f.x * std::sin(az) + f.y * std::cos(az), f.z);
    const glm::vec4 forward = Demo::orientation * glm::vec4(0, 0, 1, 0);
    EXPECT_NEAR(forward.x, f.x, 1e-5);
    EXPECT_NEAR(forward.y, f.y, 1e-5);
    EXPECT_NEAR(forward.z, f.z, 1e-5);

    for (Demo::ParticleContainer* cloud :
         {&scene->backgroundCloud(), &scene->heartCloud(), &scene->fetusCloud()}) {
        const glm::mat4& view = cloud->view();
        const glm::vec4 eye = view * glm::vec4(0.5f, -0.25f, -8.0f, 1.0f);
        EXPECT_NEAR(glm::length(glm::vec3(eye)), 0.0f, 1e-5);
        const glm::vec4 ahead = view * (glm::vec4(0.5f, -0.25f, -8.0f, 1.0f) + forward);
        EXPECT_NEAR(ahead.z, -1.0f, 1e-5);
        EXPECT_NEAR(ahead.x, 0.0f, 1e-5);

        const glm::mat4& projection = cloud->projection();
        const float g = 1.0f / std::tan(60.0f * 3.141f / 180.0f / 2.0f);
        EXPECT_NEAR(projection[1][1], g, 1e-5);
        EXPECT_NEAR(projection[0][0], g / (16.0f / 9.0f), 1e-5);
        EXPECT_NEAR(projection[3][2], -2.0f * 100.0f * 0.1f / (100.0f - 0.1f), 1e-5);
    }

    // The spectrum went into a 510 x 1 half-float texture, left bound.
    EXPECT_EQ(Velmora::Texture::boundTexture(), &scene->spectrumImage());
    GLint width = 0, height = 0, format = 0, minFilter = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
    EXPECT_EQ(width, 510);
    EXPECT_EQ(height, 1);
    EXPECT_EQ(format, GL_R16F);
    EXPECT_EQ(minFilter, GL_LINEAR_MIPMAP_LINEAR);

    // No time passing: the same camera.
    const glm::mat4 before = scene->heartCloud().view();
    quietly([&] { scene->update(0.0); });
    EXPECT_EQ(scene->heartCloud().view(), before);
}

TEST(LogoScene, FeedbackTargetsSwapRolesEveryFrame) {
    std::unique_ptr<Demo::LogoScene> scene = quietScene();
    Velmora::Framebuffer* a = scene->feedbackFirst();
    Velmora::Framebuffer* b = scene->feedbackSecond();
    quietly([&] {
        scene->update(0.1);
        scene->draw();
    });
    // Frame 0 writes B (the haze of "addconst" lights the middle) and reads A, still clear.
    EXPECT_EQ(scene->frames(), 1);
    EXPECT_GT(centreRed(b), 0.0f);
    EXPECT_EQ(centreRed(a), 0.0f);
    quietly([&] {
        scene->update(0.1);
        scene->draw();
    });
    EXPECT_EQ(scene->frames(), 2);
    EXPECT_GT(centreRed(a), 0.0f);
}

TEST(LogoScene, FrameEndsOnTheWindowWithTheFinalPassState) {
    std::unique_ptr<Demo::LogoScene> scene = quietScene();
    for (int frame = 0; frame < 3; ++frame) {
        quietly([&] {
            scene->update(1.0 / 30.0);
            scene->draw();
        });
        EXPECT_TRUE(Velmora::FramebufferStack::instance().empty());
        GLint binding = -1;
        glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &binding);
        EXPECT_EQ(binding, 0);
        GLint viewport[4] = {};
        glGetIntegerv(GL_VIEWPORT, viewport);
        EXPECT_EQ(viewport[2], 320);
        EXPECT_EQ(viewport[3], 180);
        EXPECT_FALSE(glIsEnabled(GL_BLEND));
        GLint program = 0;
        glGetIntegerv(GL_CURRENT_PROGRAM, &program);
        EXPECT_EQ(static_cast<GLuint>(program), scene->postprocStage().program().id());
        EXPECT_EQ(Velmora::Texture::boundTexture(), scene->blurLayer()->colorTexture(0));
    }
    // Something reached the window.
    unsigned char centre[4] = {};
    glReadPixels(160, 90, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, centre);
    EXPECT_GT(centre[0] + centre[1] + centre[2], 0);
}

// Triangles generated by one frame: two per particle drawn, two per full-screen pass.
GLuint trianglesOfFrame(Demo::LogoScene& scene, double row) {
    Velmora::ShowClock& clock = DemoTest::player().clock();
    clock.hold(row, row / 24.0);
    GLuint query = 0;
    glGenQueries(1, &query);
    quietly([&] {
        scene.update(0.0);
        glBeginQuery(GL_PRIMITIVES_GENERATED, query);
        scene.draw();
        glEndQuery(GL_PRIMITIVES_GENERATED);
    });
    GLuint count = 0;
    glGetQueryObjectuiv(query, GL_QUERY_RESULT, &count);
    glDeleteQueries(1, &query);
    clock.follow();
    return count;
}

TEST(LogoScene, CloudsAreDrawnOnlyWhileTheirTracksAllowIt) {
    std::unique_ptr<Demo::LogoScene> scene = quietScene();
    const GLuint passes = 4 * 2;
    const GLuint background = 3 * 2;
    const GLuint heart = 6 * 2;
    const GLuint fetus = 3 * 2;
    // Everything: the background twice (scaled and unscaled), heart, fetus.
    EXPECT_EQ(trianglesOfFrame(*scene, 0.0), passes + 2 * background + heart + fetus);
    // "backgroundparticles" exactly 0 still draws the scaled background; below 0 it does not.
    EXPECT_EQ(trianglesOfFrame(*scene, 150.0), passes + 2 * background + heart + fetus);
    EXPECT_EQ(trianglesOfFrame(*scene, 250.0), passes + background + heart + fetus);
    // "showRiro" at 0 and "sikio" below 0 skip their clouds.
    EXPECT_EQ(trianglesOfFrame(*scene, 350.0), passes + background);
}

TEST(LogoScene, EveryProgramLinks) {
    std::unique_ptr<Demo::LogoScene> scene = quietScene();
    const GLuint programs[] = {
        scene->backgroundCloud().program()->id(), scene->heartCloud().program()->id(),
        scene->fetusCloud().program()->id(),      scene->blehStage().program().id(),
        scene->feedbackStage().program().id(),    scene->dirblurStage().program().id(),
        scene->postprocStage().program().id(),
    };
    for (GLuint program : programs) {
        GLint linked = 0;
        glGetProgramiv(program, GL_LINK_STATUS, &linked);
        EXPECT_EQ(linked, GL_TRUE) << program;
    }
}

} // namespace

int main(int argc, char** argv) {
    ::testing::AddGlobalTestEnvironment(new SceneData());
    return DemoTest::runGlTests(argc, argv, 320, 180);
}
