// Text at the edge of the Windows API, shared by the win32 implementation files: the program's
// strings are UTF-8 and its paths use '/', the wide API wants UTF-16 and accepts both separators,
// and its errors are codes that we turn into the same sentences as on other platforms.
#pragma once

#include <string>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace Velmora::Win32 {

// UTF-8 to UTF-16 and back; invalid sequences become U+FFFD.
std::wstring wide(const std::string& text);
std::string utf8(const wchar_t* text, std::size_t length);
std::string utf8(const std::wstring& text);

// A path for the wide file API: '/' turned into '\', and a path too long for the classic limit
// (260 characters) made absolute and given the "\\?\" prefix, which lifts the limit.
std::wstring widePath(const std::string& path);

// The system's error `code` as a sentence: the common ones in the words the POSIX build uses
// ("No such file or directory", "Permission denied", "No space left on device", ...), the others
// as Windows words them, without the final full stop.
std::string errorText(DWORD code);
// errorText(GetLastError()).
std::string lastErrorText();

// True for '/' and '\'.
inline bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

// Closes a handle on destruction.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE value) : handle(value) {}
    ~Handle() { reset(); }
    Handle(Handle&& other) noexcept : handle(other.release()) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    bool valid() const { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle; }
    HANDLE release() {
        HANDLE value = handle;
        handle = INVALID_HANDLE_VALUE;
        return value;
    }
    void reset(HANDLE value = INVALID_HANDLE_VALUE) {
        if (valid()) {
            ::CloseHandle(handle);
        }
        handle = value;
    }

private:
    HANDLE handle = INVALID_HANDLE_VALUE;
};

} // namespace Velmora::Win32
