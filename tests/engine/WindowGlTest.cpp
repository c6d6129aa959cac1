// The window, in its own process because it is opened once and terminated at exit: the size before
// and after open, a failed open, and the Escape key.
#include "engine/Window.h"

#include <GL/glew.h>
// GLEW first, then GLFW for the key and action codes fed to the callback.
#include <GLFW/glfw3.h>

#include <gtest/gtest.h>

#include <cstring>

using Velmora::Window;

TEST(Window, OpensOnceWithTheRequestedSizeAndHandlesEscape) {
    Window& window = Window::instance();
    EXPECT_EQ(&window, &Window::instance());
    EXPECT_EQ(Window::width(), 0);
    EXPECT_EQ(Window::height(), 0);
    EXPECT_EQ(window.handle(), nullptr);
    window.setHidden(true);

    // A size GLFW refuses: the window is not made, GLFW is terminated, a plain C string is thrown.
    const char* thrown = nullptr;
    try {
        window.open(0, 0, "Velmora window test", false, false);
    } catch (const char* message) {
        thrown = message;
    }
    ASSERT_NE(thrown, nullptr);
    EXPECT_STREQ(thrown, "Failed to open a GLFW window");
    EXPECT_EQ(window.handle(), nullptr);

    // GLFW can be started again after that.
    window.open(123, 45, "Velmora window test", false, false);
    ASSERT_NE(window.handle(), nullptr);
    EXPECT_EQ(Window::width(), 123);
    EXPECT_EQ(window.height(), 45);
    EXPECT_EQ(glfwGetCurrentContext(), window.handle());
    EXPECT_EQ(glfwGetInputMode(window.handle(), GLFW_CURSOR), GLFW_CURSOR_HIDDEN);
    EXPECT_EQ(glfwGetWindowAttrib(window.handle(), GLFW_VISIBLE), GLFW_FALSE);
    GLFWkeyfun installed = glfwSetKeyCallback(window.handle(), nullptr);
    EXPECT_EQ(installed, &Window::onKey);
    glfwSetKeyCallback(window.handle(), installed);
    Window::initGlew();
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    ASSERT_NE(version, nullptr);
    std::printf("context: OpenGL %s\n", version);

    // Only a press of Escape closes; releases, repeats and other keys do not.
    EXPECT_FALSE(window.shouldClose());
    Window::onKey(window.handle(), GLFW_KEY_ESCAPE, 0, GLFW_RELEASE, 0);
    Window::onKey(window.handle(), GLFW_KEY_ESCAPE, 0, GLFW_REPEAT, 0);
    Window::onKey(window.handle(), GLFW_KEY_Q, 0, GLFW_PRESS, 0);
    Window::onKey(window.handle(), GLFW_KEY_ENTER, 0, GLFW_PRESS, 0);
    window.pollEvents();
    EXPECT_FALSE(window.shouldClose());
    Window::onKey(window.handle(), GLFW_KEY_ESCAPE, 0, GLFW_PRESS, GLFW_MOD_SHIFT);
    EXPECT_TRUE(window.shouldClose());
    window.swapBuffers();
    window.pollEvents();
    EXPECT_TRUE(window.shouldClose());
}
