// The one window of the program and its OpenGL context (GLFW underneath).
//
// Opened once by the entry point; afterwards used every frame to swap buffers, poll events and test
// the close flag, and asked for its size by code that makes window-sized targets. There is no close
// or destroy operation: glfwTerminate() runs at process exit, after every other process-wide
// instance made later has been released. Only this class's source and the app include GLFW.
#pragma once

#include <functional>
#include <string>
#include <type_traits>

struct GLFWwindow;

namespace Velmora {

// Keys an edit session reacts to, named here so that only the window's source knows GLFW.
enum class Key {
    Space,
    Left,
    Right,
    PageUp,
    PageDown,
    Home,
    End,
    LeftBracket,
    RightBracket,
    Backspace,
    Other
};
struct KeyPress {
    Key key = Key::Other;
    bool shift = false;
    bool repeat = false;
};

class Window {
public:
    // The one instance; the first call arranges for glfwTerminate() at process exit.
    static Window& instance();

    // Opens the window (fullscreen on the primary monitor when asked) and makes its context
    // current. vsync false asks for swap interval 0; true leaves the driver's interval alone.
    // Throws Vexception "Failed to initialize GLFW." or the C string "Failed to open a GLFW window".
    void open(int width, int height, const char* title, bool fullscreen, bool vsync);

    // Loads the GL entry points for the current context. Throws Vexception "Failed to initialize
    // GLEW." and, when the context is older than OpenGL 3.3, a Vexception naming the version found.
    static void initGlew();

    void pollEvents();
    // Waits for events at most `seconds`, then handles them as pollEvents does.
    void waitEvents(double seconds);
    bool shouldClose() const;
    void swapBuffers();
    void setTitle(const std::string& title);
    // Seconds on the window system's clock since it started (the live show's frame times).
    static double time();
    // Ends a waitEvents early; safe from any thread.
    static void wake();
    // Receives every key press and repeat except Escape (which still sets the close flag), on this
    // thread, inside pollEvents or waitEvents. Empty: keys other than Escape are ignored.
    void setKeyHandler(std::function<void(const KeyPress&)> handler);

    // The size given to open (0 before): the requested size, not the framebuffer's. Static so that
    // both Window::width() and Window::instance().width() read the one instance.
    static int width();
    static int height();

    // Off-screen runs and tests: open the window invisible. Call before open; by default no window
    // hint is set at all, so the context is exactly GLFW's default.
    void setHidden(bool hidden);

    // Null until open succeeds.
    GLFWwindow* handle() const { return window; }

    // Key callback installed by open: Escape pressed sets the close flag; everything else is ignored.
    static void onKey(GLFWwindow* window, int key, int scancode, int action, int mods);

    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

private:
    Window() = default;
    ~Window();

    GLFWwindow* window = nullptr;
    std::function<void(const KeyPress&)> keyHandler;
    int requestedWidth = 0;
    int requestedHeight = 0;
    bool hidden = false;
};

static_assert(!std::is_copy_constructible<Window>::value, "Window is a single instance");

} // namespace Velmora
