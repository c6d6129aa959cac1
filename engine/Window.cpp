#include "engine/Window.h"

#include "base/Platform.h"
#include "base/Vexception.h"

#include <GL/glew.h>
// GLEW must come before GLFW so that GLFW does not pull in the system GL header first.
#include <GLFW/glfw3.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace Velmora {

Window& Window::instance() {
    // A function-local static: its destructor (glfwTerminate) runs at exit after every instance
    // made later (the vertex array, the sync device, the music) has been released.
    static Window window;
    return window;
}

Window::~Window() {
    glfwTerminate();
}

void Window::open(int width, int height, const char* title, bool fullscreen, bool vsync) {
    requestedWidth = width;
    requestedHeight = height;

    prepareWindowSystem();
    // An X server that many programs connect to at the same moment now and then refuses one
    // connection; a second try a moment later gets through.
    bool initialised = glfwInit() != 0;
    for (int attempt = 1; attempt < 3 && !initialised; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        initialised = glfwInit() != 0;
    }
    if (!initialised) {
        throw Vexception("Failed to initialize GLFW.");
    }
    // The program sets no hints; only an off-screen run asks for an invisible window.
    if (hidden) {
        glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    }

    GLFWmonitor* monitor = fullscreen ? glfwGetPrimaryMonitor() : nullptr;
    window = glfwCreateWindow(width, height, title, monitor, nullptr);
    if (window == nullptr) {
        glfwTerminate();
        throw "Failed to open a GLFW window";
    }

    glfwSetInputMode(window, GLFW_CURSOR, GLFW_CURSOR_HIDDEN);
    glfwMakeContextCurrent(window);
    if (!vsync) {
        glfwSwapInterval(0);
    }
    glfwSetKeyCallback(window, onKey);
}

namespace {
// Major and minor version at the start of a GL_VERSION string ("4.5 (Compatibility Profile) Mesa
// 22.3.6"); false when it does not start with "<digits>.<digits>".
bool parseVersion(const char* text, int* major, int* minor) {
    return text != nullptr && std::sscanf(text, "%d.%d", major, minor) == 2;
}
} // namespace

void Window::initGlew() {
    glewExperimental = GL_TRUE;
    if (glewInit() != GLEW_OK) {
        throw Vexception("Failed to initialize GLEW.");
    }
    // Vertex-array objects, framebuffer objects, instancing with divisors and half-float textures
    // are OpenGL 3.3; an older context would fail later in obscure ways, so say so now.
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    int major = 0;
    int minor = 0;
    if (!parseVersion(version, &major, &minor) || major < 3 || (major == 3 && minor < 3)) {
        throw Vexception(std::string("OpenGL 3.3 or newer is needed, but the context is OpenGL ") +
                         (version != nullptr ? version : "(unknown)"));
    }
}

void Window::pollEvents() {
    glfwPollEvents();
}

void Window::waitEvents(double seconds) {
    glfwWaitEventsTimeout(seconds);
}

double Window::time() {
    return glfwGetTime();
}

void Window::wake() {
    glfwPostEmptyEvent();
}

void Window::setTitle(const std::string& title) {
    if (window != nullptr) {
        glfwSetWindowTitle(window, title.c_str());
    }
}

void Window::setKeyHandler(std::function<void(const KeyPress&)> handler) {
    keyHandler = std::move(handler);
}

bool Window::shouldClose() const {
    return glfwWindowShouldClose(window) != 0;
}

void Window::swapBuffers() {
    glfwSwapBuffers(window);
}

int Window::width() {
    return instance().requestedWidth;
}

int Window::height() {
    return instance().requestedHeight;
}

void Window::setHidden(bool hide) {
    hidden = hide;
}

void Window::onKey(GLFWwindow* window, int key, int scancode, int action, int mods) {
    (void)scancode;
    if (key == GLFW_KEY_ESCAPE && action == GLFW_PRESS) {
        glfwSetWindowShouldClose(window, GL_TRUE);
        return;
    }
    const std::function<void(const KeyPress&)>& handler = instance().keyHandler;
    if (!handler || action == GLFW_RELEASE) {
        return;
    }
    KeyPress press;
    press.shift = (mods & GLFW_MOD_SHIFT) != 0;
    press.repeat = action == GLFW_REPEAT;
    switch (key) {
    case GLFW_KEY_SPACE:
        press.key = Key::Space;
        break;
    case GLFW_KEY_LEFT:
        press.key = Key::Left;
        break;
    case GLFW_KEY_RIGHT:
        press.key = Key::Right;
        break;
    case GLFW_KEY_PAGE_UP:
        press.key = Key::PageUp;
        break;
    case GLFW_KEY_PAGE_DOWN:
        press.key = Key::PageDown;
        break;
    case GLFW_KEY_HOME:
        press.key = Key::Home;
        break;
    case GLFW_KEY_END:
        press.key = Key::End;
        break;
    case GLFW_KEY_LEFT_BRACKET:
        press.key = Key::LeftBracket;
        break;
    case GLFW_KEY_RIGHT_BRACKET:
        press.key = Key::RightBracket;
        break;
    case GLFW_KEY_BACKSPACE:
        press.key = Key::Backspace;
        break;
    default:
        return;
    }
    handler(press);
}

} // namespace Velmora
