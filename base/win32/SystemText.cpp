#include "base/win32/SystemText.h"

#include <vector>

namespace Velmora::Win32 {

std::wstring wide(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
    }
    return result;
}

std::string utf8(const wchar_t* text, std::size_t length) {
    if (length == 0) {
        return std::string();
    }
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), result.data(), size, nullptr,
                              nullptr);
    }
    return result;
}

std::string utf8(const std::wstring& text) {
    return utf8(text.data(), text.size());
}

std::wstring widePath(const std::string& path) {
    std::wstring result = wide(path);
    for (wchar_t& c : result) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    // Short paths, and paths that already have a prefix, go as they are.
    if (result.size() < MAX_PATH - 12 || result.compare(0, 4, L"\\\\?\\") == 0) {
        return result;
    }
    const DWORD length = ::GetFullPathNameW(result.c_str(), 0, nullptr, nullptr);
    if (length == 0) {
        return result;
    }
    std::vector<wchar_t> full(length + 1);
    const DWORD written = ::GetFullPathNameW(result.c_str(), length + 1, full.data(), nullptr);
    if (written == 0 || written > length) {
        return result;
    }
    const std::wstring absolute(full.data(), written);
    if (absolute.compare(0, 2, L"\\\\") == 0) {
        // \\server\share\... becomes \\?\UNC\server\share\...
        return L"\\\\?\\UNC\\" + absolute.substr(2);
    }
    return L"\\\\?\\" + absolute;
}

std::string errorText(DWORD code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return "No such file or directory";
    case ERROR_ACCESS_DENIED:
        return "Permission denied";
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return "File exists";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "No space left on device";
    case ERROR_FILENAME_EXCED_RANGE:
        return "File name too long";
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
        return "Broken pipe";
    case ERROR_DIRECTORY:
        return "Not a directory";
    case ERROR_DIR_NOT_EMPTY:
        return "Directory not empty";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return "Cannot allocate memory";
    case ERROR_WRITE_PROTECT:
        return "Read-only file system";
    case ERROR_NOT_SAME_DEVICE:
        return "Invalid cross-device link";
    default:
        break;
    }
    wchar_t* message = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                              FORMAT_MESSAGE_IGNORE_INSERTS,
                                          nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::string text;
    if (length > 0 && message != nullptr) {
        text = utf8(message, length);
    }
    if (message != nullptr) {
        ::LocalFree(message);
    }
    while (!text.empty() &&
           (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' || text.back() == '.')) {
        text.pop_back();
    }
    if (text.empty()) {
        text = "Windows error " + std::to_string(code);
    }
    return text;
}

std::string lastErrorText() {
    return errorText(::GetLastError());
}

} // namespace Velmora::Win32
