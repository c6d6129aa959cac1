// Framebuffers and the framebuffer stack against a real context: bindings and viewports after each
// stack operation, what is cleared and what is kept, attachments made by create, and the messages
// of every misuse.
#include "base/Vexception.h"
#include "engine/Framebuffer.h"
#include "engine/FramebufferStack.h"
#include "engine/Window.h"
#include "tests/engine/GlTestSupport.h"
#include "tests/engine/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <stdexcept>

using GlTestSupport::integer;
using GlTestSupport::pixel;
using GlTestSupport::viewport;
using TestSupport::captureStdout;
using Velmora::Framebuffer;
using Velmora::FramebufferStack;

namespace {

using Viewport = std::array<GLint, 4>;

Framebuffer* quietCreate(unsigned colorCount, int width, int height, bool depth) {
    Framebuffer* framebuffer = nullptr;
    captureStdout([&] { framebuffer = Framebuffer::create(colorCount, width, height, depth); });
    return framebuffer;
}

std::string vexceptionMessage(const std::function<void()>& body) {
    try {
        body();
    } catch (const Velmora::Vexception& exception) {
        return exception.what();
    }
    return "(nothing thrown)";
}

void expectWindowBound() {
    EXPECT_EQ(integer(GL_DRAW_FRAMEBUFFER_BINDING), 0);
    EXPECT_EQ(viewport(), (Viewport{0, 0, Velmora::Window::width(), Velmora::Window::height()}));
    EXPECT_EQ(Framebuffer::currentFramebuffer(), nullptr);
}

void expectBound(Framebuffer* framebuffer) {
    EXPECT_EQ(integer(GL_DRAW_FRAMEBUFFER_BINDING), static_cast<GLint>(framebuffer->id()));
    EXPECT_EQ(viewport(), (Viewport{0, 0, framebuffer->width(), framebuffer->height()}));
    EXPECT_EQ(Framebuffer::currentFramebuffer(), framebuffer);
}

void fill(float red, float green, float blue) {
    glClearColor(red, green, blue, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
}

using Pixel = std::array<unsigned char, 4>;

// Framebuffers live until the process ends; these are shared by the tests of this file.
Framebuffer* targetA() {
    static Framebuffer* framebuffer = quietCreate(1, 17, 11, true);
    return framebuffer;
}
Framebuffer* targetB() {
    static Framebuffer* framebuffer = quietCreate(1, 8, 6, true);
    return framebuffer;
}

} // namespace

TEST(Framebuffer, BindAndUnbindRestoreTheWindow) {
    Framebuffer* a = targetA();
    expectWindowBound();
    a->bind();
    expectBound(a);
    EXPECT_EQ(FramebufferStack::instance().size(), 1u);
    a->unbind();
    expectWindowBound();
    EXPECT_TRUE(FramebufferStack::instance().empty());
}

TEST(Framebuffer, NestedUnbindRebindsTheOuterTargetWithoutClearing) {
    Framebuffer* a = targetA();
    Framebuffer* b = targetB();
    a->bind();
    fill(1.0f, 0.0f, 0.0f);
    b->bind();
    expectBound(b);
    EXPECT_EQ(pixel(0, 0), (Pixel{0, 0, 0, 0})); // bind cleared b
    fill(0.0f, 1.0f, 0.0f);
    b->unbind();
    expectBound(a);
    EXPECT_EQ(pixel(16, 10), (Pixel{255, 0, 0, 255})); // a kept its contents
    a->unbind();
    expectWindowBound();
}

TEST(Framebuffer, BindingTwiceNeedsTwoUnbinds) {
    Framebuffer* a = targetA();
    a->bind();
    fill(0.0f, 0.0f, 1.0f);
    a->bind();
    fill(1.0f, 1.0f, 1.0f);
    a->unbind();
    expectBound(a);
    EXPECT_EQ(pixel(3, 3), (Pixel{255, 255, 255, 255}));
    a->unbind();
    expectWindowBound();
}

TEST(Framebuffer, BindClearsColourButNotDepth) {
    Framebuffer* a = targetA();
    a->bind();
    fill(1.0f, 0.0f, 1.0f);
    glClearDepth(0.25);
    glClear(GL_DEPTH_BUFFER_BIT);
    glClearDepth(1.0);
    a->unbind();
    a->bind();
    EXPECT_EQ(pixel(5, 5), (Pixel{0, 0, 0, 0}));
    float depth = -1.0f;
    glReadPixels(5, 5, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    EXPECT_NEAR(depth, 0.25f, 1e-3f);
    a->unbind();
}

TEST(Framebuffer, MisuseThrowsAndChangesNothing) {
    Framebuffer* a = targetA();
    Framebuffer* b = targetB();
    EXPECT_EQ(vexceptionMessage([&] { a->unbind(); }), "FBO stack is already empty!");
    expectWindowBound();

    a->bind();
    b->bind();
    EXPECT_EQ(vexceptionMessage([&] { a->unbind(); }), "Failed to unbind an FBO.");
    EXPECT_EQ(FramebufferStack::instance().size(), 2u);
    expectBound(b);

    // Bound in GL behind the stack's back, a is still not the top of the stack.
    glBindFramebuffer(GL_FRAMEBUFFER, a->id());
    EXPECT_EQ(vexceptionMessage([&] { a->requireBound(); }), "Fbo not bounded. Something HAS went wrong.");
    Velmora::Texture* spare = nullptr;
    captureStdout([&] { spare = new Velmora::Texture(GL_TEXTURE_2D); });
    EXPECT_EQ(vexceptionMessage([&] { a->addColorTexture(spare); }),
              "Fbo not bounded. Something HAS went wrong.");
    EXPECT_EQ(a->colorTextureCount(), 1u);
    captureStdout([&] { delete spare; });
    b->rebind();

    Velmora::Renderbuffer depth(GL_DEPTH_COMPONENT, 8, 6);
    EXPECT_EQ(vexceptionMessage([&] { b->addRenderbuffer(&depth, GL_DEPTH_ATTACHMENT); }),
              "Failed to add a new rbo to an fbo");
    GLint attached = 0;
    glGetFramebufferAttachmentParameteriv(GL_DRAW_FRAMEBUFFER, GL_DEPTH_ATTACHMENT,
                                          GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &attached);
    EXPECT_NE(attached, static_cast<GLint>(depth.id()));

    EXPECT_THROW(b->colorTexture(1), std::out_of_range);

    b->unbind();
    a->unbind();
    expectWindowBound();
}

TEST(Framebuffer, CreateMakesTheStandardTargetAndRestoresTheStack) {
    Framebuffer* outer = targetB();
    outer->bind();
    Framebuffer* framebuffer = nullptr;
    const std::string log = captureStdout([&] { framebuffer = Framebuffer::create(2, 31, 19, true); });
    // create binds and unbinds: the outer target is back, with its viewport.
    expectBound(outer);
    EXPECT_EQ(FramebufferStack::instance().size(), 1u);
    // Each colour texture is bound once more after its construction.
    const std::string warning0 =
        "WARNING - Texture " + std::to_string(framebuffer->colorTexture(0)->id()) + " already binded";
    EXPECT_NE(log.find(warning0), std::string::npos) << log;

    framebuffer->bind();
    ASSERT_EQ(framebuffer->colorTextureCount(), 2u);
    EXPECT_EQ(glCheckFramebufferStatus(GL_DRAW_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    for (unsigned i = 0; i < 2; ++i) {
        GLint name = 0;
        glGetFramebufferAttachmentParameteriv(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0 + i,
                                              GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &name);
        EXPECT_EQ(name, static_cast<GLint>(framebuffer->colorTexture(i)->id()));
        EXPECT_EQ(integer(GL_DRAW_BUFFER0 + i), static_cast<GLint>(GL_COLOR_ATTACHMENT0 + i));

        glBindTexture(GL_TEXTURE_2D, framebuffer->colorTexture(i)->id());
        GLint width = 0;
        GLint height = 0;
        GLint filter = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &filter);
        EXPECT_EQ(width, 31);
        EXPECT_EQ(height, 19);
        EXPECT_EQ(filter, GL_NEAREST);
    }
    GLint depthType = 0;
    glGetFramebufferAttachmentParameteriv(GL_DRAW_FRAMEBUFFER, GL_DEPTH_ATTACHMENT,
                                          GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE, &depthType);
    EXPECT_EQ(depthType, GL_RENDERBUFFER);
    GLint depthBits = 0;
    glGetFramebufferAttachmentParameteriv(GL_DRAW_FRAMEBUFFER, GL_DEPTH_ATTACHMENT,
                                          GL_FRAMEBUFFER_ATTACHMENT_DEPTH_SIZE, &depthBits);
    EXPECT_GT(depthBits, 0);
    framebuffer->unbind();
    outer->unbind();
    expectWindowBound();
}

TEST(Framebuffer, IncompleteTargetThrowsAndStaysBound) {
    Framebuffer* framebuffer = nullptr;
    std::string message;
    captureStdout(
        [&] { message = vexceptionMessage([&] { framebuffer = Framebuffer::create(0, 4, 4, false); }); });
    EXPECT_EQ(message, "Not Framebuffer complete.");
    ASSERT_EQ(FramebufferStack::instance().size(), 1u);
    Framebuffer* left = Framebuffer::currentFramebuffer();
    expectBound(left);
    left->unbind();
    expectWindowBound();
}
