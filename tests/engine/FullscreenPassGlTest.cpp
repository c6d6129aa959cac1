// FullscreenPass against a real context: its construction log, exact coverage of odd-sized
// targets, and the state it leaves behind.
#include "engine/Framebuffer.h"
#include "engine/FullscreenPass.h"
#include "tests/engine/GlTestSupport.h"
#include "tests/engine/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using GlTestSupport::integer;
using TestSupport::captureStdout;
using TestSupport::lines;
using Velmora::FullscreenPass;

namespace {

// Writes a constant colour: additive blending then counts how often each pixel was shaded.
std::string constantShader(const std::string& name, float value) {
    return TestSupport::writeFile(name, "#version 330 core\n"
                                        "out vec4 colour;\n"
                                        "void main() { colour = vec4(" +
                                            std::to_string(value) + "); }\n");
}

std::unique_ptr<FullscreenPass> quietPass(const std::string& path) {
    std::unique_ptr<FullscreenPass> pass;
    captureStdout([&] { pass = std::make_unique<FullscreenPass>(path); });
    return pass;
}

} // namespace

TEST(FullscreenPass, ConstructionLogsFragmentThenSharedVertexStage) {
    const std::string path = constantShader("quarter.fs", 0.25f);
    std::unique_ptr<FullscreenPass> pass;
    const std::string log = captureStdout([&] { pass = std::make_unique<FullscreenPass>(path); });
    EXPECT_EQ(lines(log),
              (std::vector<std::string>{"DEBUG - Compiling shader from file " + path,
                                        "DEBUG - Compiling shader from file ./data/shaders/trivial.vs",
                                        "DEBUG - Linked."}));
    GLint linked = 0;
    glGetProgramiv(pass->program().id(), GL_LINK_STATUS, &linked);
    EXPECT_EQ(linked, GL_TRUE);
}

class FullscreenPassCoverage : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(FullscreenPassCoverage, ShadesEveryPixelExactlyOnce) {
    const auto [width, height] = GetParam();
    std::unique_ptr<FullscreenPass> pass = quietPass(constantShader("coverage.fs", 0.25f));
    Velmora::Framebuffer* target = nullptr;
    captureStdout([&] { target = Velmora::Framebuffer::create(1, width, height, false); });

    target->bind();
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    pass->program().use();
    pass->draw();
    glDisable(GL_BLEND);

    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    target->unbind();
    int wrong = 0;
    for (size_t i = 0; i < pixels.size(); ++i) {
        // 0.25 once is 64; twice would be 128, never is 0.
        if (pixels[i] < 63 || pixels[i] > 65) {
            ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0) << "of " << pixels.size() << " samples at " << width << "x" << height;
}

INSTANTIATE_TEST_SUITE_P(OddSizes, FullscreenPassCoverage,
                         testing::Values(std::make_pair(37, 23), std::make_pair(1, 1), std::make_pair(129, 3),
                                         std::make_pair(2, 255)));

TEST(FullscreenPass, DrawLeavesItsProgramCurrentAndAttributeZeroDisabled) {
    std::unique_ptr<FullscreenPass> first = quietPass(constantShader("first.fs", 0.5f));
    std::unique_ptr<FullscreenPass> second = quietPass(constantShader("second.fs", 0.75f));
    Velmora::Framebuffer* target = nullptr;
    captureStdout([&] { target = Velmora::Framebuffer::create(1, 9, 7, false); });
    target->bind();

    GlTestSupport::UseProgramCounter counter;
    first->draw();
    first->draw();
    EXPECT_EQ(counter.count(), 1);
    EXPECT_EQ(integer(GL_CURRENT_PROGRAM), static_cast<GLint>(first->program().id()));
    second->draw();
    EXPECT_EQ(counter.count(), 2);
    EXPECT_EQ(integer(GL_CURRENT_PROGRAM), static_cast<GLint>(second->program().id()));
    EXPECT_EQ(GlTestSupport::pixel(4, 3)[0], 191); // drawn without blending: the last pass wins

    GLint enabled = -1;
    glGetVertexAttribiv(0, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &enabled);
    EXPECT_EQ(enabled, GL_FALSE);
    target->unbind();
}
