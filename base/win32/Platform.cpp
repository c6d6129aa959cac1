// Process-wide services on Windows: standard handles, the console's control events, the system's
// random source, Winsock options and the environment in UTF-16.
#include "base/Platform.h"

#include "base/win32/SystemText.h"

#include <winsock2.h>

#include <bcrypt.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <atomic>
#include <cstdlib>

namespace Velmora {

namespace {

std::atomic<DWORD> interruptEvent{0};
std::atomic<bool> interruptSeen{false};
int guards = 0;

BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        interruptEvent = event;
        interruptSeen = true;
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The system ends the process when this returns: give the main loop the time it has (about
        // five seconds) to stop; its exit ends this thread with the process.
        interruptEvent = event;
        interruptSeen = true;
        ::Sleep(10000);
        return TRUE;
    default:
        return FALSE;
    }
}

UINT previousOutputCodePage = 0;

void restoreCodePage() {
    if (previousOutputCodePage != 0) {
        ::SetConsoleOutputCP(previousOutputCodePage);
    }
}

// The C runtime's stream `fd` on the null device when its handle is missing or invalid (a program
// started without a console or with a handle closed).
void ensureStandardStream(int fd, DWORD which, std::FILE* stream) {
    const HANDLE handle = ::GetStdHandle(which);
    const bool valid =
        handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
    if (valid && ::_get_osfhandle(fd) != -1 && ::_get_osfhandle(fd) != -2) {
        return;
    }
    if (std::freopen("NUL", fd == 0 ? "r" : "w", stream) != nullptr) {
        ::SetStdHandle(which, reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream))));
    }
}

} // namespace

void prepareProcess() {
    ensureStandardStream(0, STD_INPUT_HANDLE, stdin);
    ensureStandardStream(1, STD_OUTPUT_HANDLE, stdout);
    ensureStandardStream(2, STD_ERROR_HANDLE, stderr);
    // Our text is UTF-8 (paths included): the console shows it so while we run.
    if (::GetConsoleWindow() != nullptr) {
        const UINT current = ::GetConsoleOutputCP();
        if (current != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8)) {
            previousOutputCodePage = current;
            std::atexit(restoreCodePage);
        }
    }
}

void prepareWindowSystem() {
    // Loaded from the system folder only, and pinned: no FreeLibrary unloads it before exit. (It is
    // missing on some editions; the window library then does without game controllers.)
    const HMODULE library = ::LoadLibraryExW(L"xinput1_4.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library != nullptr) {
        HMODULE pinned = nullptr;
        ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, L"xinput1_4.dll", &pinned);
    }
}

long currentProcessId() {
    return static_cast<long>(::GetCurrentProcessId());
}

bool processRunning(long id) {
    if (id <= 0) {
        return true;
    }
    const HANDLE process =
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(id));
    if (process == nullptr) {
        // No such process; any other refusal (another user's process) means it runs.
        return ::GetLastError() != ERROR_INVALID_PARAMETER;
    }
    const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return running;
}

ProgramArguments::ProgramArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide != nullptr && count == argc) {
        for (int i = 0; i < count; ++i) {
            words.push_back(Win32::utf8(wide[i], wcslen(wide[i])));
        }
    } else {
        // Not the command line the C runtime split (it should always be): argv as it came.
        for (int i = 0; i < argc; ++i) {
            words.emplace_back(argv[i] != nullptr ? argv[i] : "");
        }
    }
    if (wide != nullptr) {
        ::LocalFree(wide);
    }
    for (std::string& word : words) {
        pointers.push_back(word.data());
    }
    pointers.push_back(nullptr);
}

bool randomBytes(void* out, std::size_t count) {
    auto* bytes = static_cast<unsigned char*>(out);
    while (count > 0) {
        const ULONG chunk = static_cast<ULONG>(count < (1u << 30) ? count : (1u << 30));
        if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, bytes, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
            return false;
        }
        bytes += chunk;
        count -= chunk;
    }
    return true;
}

void prepareListeningSocket(std::intptr_t socket) {
    // Exclusive: no other program can bind the port beside us, not even with SO_REUSEADDR (which on
    // Windows would let it take our connections).
    BOOL yes = TRUE;
    ::setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                 reinterpret_cast<const char*>(&yes), sizeof yes);
}

std::string executablePath() {
    std::wstring path(32768, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) {
        return "";
    }
    return Win32::utf8(path.data(), length);
}

std::string environmentVariable(const std::string& name) {
    const std::wstring wideName = Win32::wide(name);
    const DWORD size = ::GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0) {
        return "";
    }
    std::wstring value(size, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
    return length < size ? Win32::utf8(value.data(), length) : "";
}

double processCpuSeconds() {
    FILETIME created;
    FILETIME ended;
    FILETIME kernel;
    FILETIME user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &ended, &kernel, &user)) {
        return 0.0;
    }
    auto seconds = [](const FILETIME& time) {
        return static_cast<double>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime) /
               1e7;
    };
    return seconds(kernel) + seconds(user);
}

bool setEnvironmentVariable(const std::string& name, const std::string& value) {
    // The C runtime's copy too (getenv, and libraries such as SDL that read it), not only the
    // system's.
    return ::SetEnvironmentVariableW(Win32::wide(name).c_str(), Win32::wide(value).c_str()) &&
           ::_wputenv_s(Win32::wide(name).c_str(), Win32::wide(value).c_str()) == 0;
}

bool isTerminal(std::FILE* stream) {
    // A console, not merely a character device (_isatty says yes to NUL as well).
    const intptr_t handle = ::_get_osfhandle(::_fileno(stream));
    DWORD mode = 0;
    return handle != -1 && ::GetConsoleMode(reinterpret_cast<HANDLE>(handle), &mode) != FALSE;
}

InterruptGuard::InterruptGuard() {
    if (guards++ > 0) {
        return;
    }
    interruptEvent = 0;
    interruptSeen = false;
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

InterruptGuard::~InterruptGuard() {
    if (--guards > 0) {
        return;
    }
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}

bool InterruptGuard::requested() {
    return interruptSeen;
}

std::string InterruptGuard::what() {
    if (!interruptSeen) {
        return "";
    }
    switch (interruptEvent.load()) {
    case CTRL_C_EVENT:
        return "Ctrl-C";
    case CTRL_BREAK_EVENT:
        return "Ctrl-Break";
    case CTRL_CLOSE_EVENT:
        return "the console's closing";
    case CTRL_LOGOFF_EVENT:
        return "the user's logging off";
    case CTRL_SHUTDOWN_EVENT:
        return "the system's shutdown";
    default:
        return "console event " + std::to_string(interruptEvent.load());
    }
}

void ignoreBrokenPipes() {
    // Nothing to do: a write to a pipe without a reader fails with ERROR_NO_DATA, no signal.
}

} // namespace Velmora
