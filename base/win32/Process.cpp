// Child processes with CreateProcessW: the arguments quoted as the C runtime splits them, only the
// child's own ends of the pipes inherited, and its own process group, so that a Ctrl-C in the
// console reaches only us; interrupt() sends it a Ctrl-Break instead, or closes its windows.
#include "base/Process.h"

#include "base/win32/SystemText.h"

#include <cstdio>
#include <cwctype>

namespace Velmora {

using Win32::Handle;
using Win32::lastErrorText;
using Win32::wide;
using Win32::widePath;

namespace {

// Exit code given to a process we end with kill() or a failed interrupt().
constexpr UINT killedCode = 0xC000013A; // STATUS_CONTROL_C_EXIT, what Windows gives a Ctrl-C'd program

// One argument as CommandLineToArgvW and the C runtime read it back.
std::wstring quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring result = L"\"";
    for (auto c = argument.begin();; ++c) {
        std::size_t backslashes = 0;
        while (c != argument.end() && *c == L'\\') {
            ++c;
            ++backslashes;
        }
        if (c == argument.end()) {
            // Doubled, so that the closing quote stays a quote.
            result.append(backslashes * 2, L'\\');
            break;
        }
        if (*c == L'"') {
            result.append(backslashes * 2 + 1, L'\\');
        } else {
            result.append(backslashes, L'\\');
        }
        result.push_back(*c);
    }
    result.push_back(L'"');
    return result;
}

std::wstring upper(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towupper(c));
    }
    return text;
}

// Our environment with the given "NAME=value" variables in place of ours of the same name
// (Windows names ignore case), as a block for CREATE_UNICODE_ENVIRONMENT.
std::wstring environmentBlock(const std::vector<std::string>& extra) {
    std::vector<std::wstring> added;
    for (const std::string& variable : extra) {
        added.push_back(wide(variable));
    }
    auto nameOf = [](const std::wstring& entry) {
        // "=C:=C:\dir" entries (the per-drive folders) have a name that starts with '='.
        const std::size_t equals = entry.find(L'=', 1);
        return upper(entry.substr(0, equals));
    };
    std::wstring block;
    for (const std::wstring& entry : added) {
        block += entry;
        block.push_back(L'\0');
    }
    wchar_t* ours = ::GetEnvironmentStringsW();
    for (const wchar_t* entry = ours; entry != nullptr && *entry != L'\0'; entry += wcslen(entry) + 1) {
        const std::wstring text = entry;
        bool replaced = false;
        for (const std::wstring& variable : added) {
            replaced = replaced || nameOf(variable) == nameOf(text);
        }
        if (!replaced) {
            block += text;
            block.push_back(L'\0');
        }
    }
    if (ours != nullptr) {
        ::FreeEnvironmentStringsW(ours);
    }
    block.push_back(L'\0');
    return block;
}

// A handle the child inherits: the null device, or a file created (emptied) for its output.
Handle inheritableFile(const std::string& path, bool write, std::string& error) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const std::wstring name = path.empty() ? L"NUL" : widePath(path);
    Handle handle(::CreateFileW(name.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                                write && !path.empty() ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!handle.valid()) {
        error = (path.empty() ? std::string("NUL") : path) + ": " + lastErrorText();
    }
    return handle;
}

// A pipe whose `childEnd` (0 read, 1 write) alone is inheritable.
bool makePipe(Handle& read, Handle& write, int childEnd, DWORD size, std::string& error) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE ends[2] = {nullptr, nullptr};
    if (!::CreatePipe(&ends[0], &ends[1], &inherit, size)) {
        error = lastErrorText();
        return false;
    }
    read.reset(ends[0]);
    write.reset(ends[1]);
    ::SetHandleInformation(childEnd == 0 ? write.get() : read.get(), HANDLE_FLAG_INHERIT, 0);
    return true;
}

} // namespace

struct ChildProcess::State {
    Handle process;
    DWORD id = 0;
    bool ownGroup = false;
    bool killed = false;
    Handle input;
    Handle output;
};

std::string ExitStatus::describe() const {
    if (!started) {
        return "did not start";
    }
    if (exited) {
        // Codes from 0xC0000000 on are the system's reasons (an access violation, a Ctrl-C).
        if (static_cast<unsigned>(code) >= 0xC0000000u) {
            char text[64];
            std::snprintf(text, sizeof text, "ended with status 0x%08X", static_cast<unsigned>(code));
            return text;
        }
        return "exited with status " + std::to_string(code);
    }
    return "was ended";
}

ChildProcess::ChildProcess() : state(std::make_unique<State>()) {}

ChildProcess::~ChildProcess() {
    if (state->process.valid()) {
        closeInput();
        kill();
        wait();
    }
}

bool ChildProcess::start(const ProcessDesc& desc, std::string& error) {
    Handle childInput;
    Handle childOutput;
    Handle childError;
    Handle ourInput;
    Handle ourOutput;
    if (desc.pipeInput) {
        // A large pipe lets a whole frame's rows go through in few writes.
        if (!makePipe(childInput, ourInput, 0, 1 << 20, error)) {
            return false;
        }
    } else {
        childInput = inheritableFile("", false, error);
    }
    if (desc.captureOutput) {
        if (!makePipe(ourOutput, childOutput, 1, 0, error)) {
            return false;
        }
    } else {
        childOutput = inheritableFile(desc.outputFile, true, error);
        if (childOutput.valid()) {
            childError = inheritableFile(desc.errorFile, true, error);
        }
    }
    if (!childInput.valid() || !childOutput.valid() || (!desc.captureOutput && !childError.valid())) {
        return false;
    }
    const HANDLE errorHandle = desc.captureOutput ? childOutput.get() : childError.get();

    // Only these handles go to the child, whatever else is inheritable at the moment (another
    // thread may be starting a process of its own).
    HANDLE inherited[3] = {childInput.get(), childOutput.get(), errorHandle};
    const DWORD inheritedCount = desc.captureOutput ? 2 : 3;
    SIZE_T listSize = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<unsigned char> listMemory(listSize);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listMemory.data());
    if (!::InitializeProcThreadAttributeList(list, 1, 0, &listSize) ||
        !::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                     inheritedCount * sizeof(HANDLE), nullptr, nullptr)) {
        error = lastErrorText();
        return false;
    }
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = childInput.get();
    startup.StartupInfo.hStdOutput = childOutput.get();
    startup.StartupInfo.hStdError = errorHandle;
    startup.lpAttributeList = list;

    const std::wstring program = widePath(desc.program);
    std::wstring commandLine = quoted(wide(desc.program));
    for (const std::string& argument : desc.arguments) {
        commandLine += L" " + quoted(wide(argument));
    }
    std::wstring environment = environmentBlock(desc.environment);
    DWORD flags = CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT;
    if (desc.ownProcessGroup) {
        flags |= CREATE_NEW_PROCESS_GROUP;
    }
    PROCESS_INFORMATION info{};
    const std::wstring folder =
        desc.workingDirectory.empty() ? std::wstring() : widePath(desc.workingDirectory);
    const BOOL started = ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags,
                                          environment.data(), folder.empty() ? nullptr : folder.c_str(),
                                          &startup.StartupInfo, &info);
    const DWORD code = ::GetLastError();
    ::DeleteProcThreadAttributeList(list);
    if (!started) {
        error = Win32::errorText(code);
        return false;
    }
    if (info.hThread != nullptr) {
        ::CloseHandle(info.hThread);
    }
    if (info.hProcess == nullptr) {
        // (wine starts Linux programs so: they run, but cannot be waited for)
        error = "the system gave no handle to wait for it";
        return false;
    }
    state->process.reset(info.hProcess);
    state->id = info.dwProcessId;
    state->ownGroup = desc.ownProcessGroup;
    state->killed = false;
    state->input = std::move(ourInput);
    state->output = std::move(ourOutput);
    return true;
}

bool ChildProcess::writeInput(const void* data, std::size_t size, std::string& error) {
    if (!state->input.valid()) {
        error = "its input is closed";
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 24));
        DWORD written = 0;
        if (!::WriteFile(state->input.get(), bytes + done, chunk, &written, nullptr)) {
            error = lastErrorText();
            return false;
        }
        done += written;
    }
    return true;
}

void ChildProcess::closeInput() {
    state->input.reset();
}

std::string ChildProcess::readAllOutput() {
    std::string text;
    if (!state->output.valid()) {
        return text;
    }
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(state->output.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        text.append(buffer, got);
    }
    state->output.reset();
    return text;
}

ExitStatus ChildProcess::wait() {
    ExitStatus status;
    if (!state->process.valid()) {
        return status;
    }
    ::WaitForSingleObject(state->process.get(), INFINITE);
    return *waitFor(0.0);
}

std::optional<ExitStatus> ChildProcess::waitFor(double seconds) {
    ExitStatus status;
    if (!state->process.valid()) {
        return status;
    }
    const double milliseconds = seconds * 1000.0;
    const DWORD timeout = milliseconds <= 0.0     ? 0
                          : milliseconds >= 4.0e9 ? INFINITE - 1
                                                  : static_cast<DWORD>(milliseconds + 0.5);
    const DWORD waited = ::WaitForSingleObject(state->process.get(), timeout);
    if (waited == WAIT_TIMEOUT) {
        return std::nullopt;
    }
    status.started = true;
    DWORD code = 0;
    if (waited == WAIT_OBJECT_0 && ::GetExitCodeProcess(state->process.get(), &code)) {
        // A process we ended is reported as ended, not as exited with our code.
        status.exited = !(state->killed && code == killedCode);
        status.code = status.exited ? static_cast<int>(code) : -1;
    }
    state->process.reset();
    state->id = 0;
    return status;
}

void ChildProcess::interrupt() {
    if (!state->process.valid()) {
        return;
    }
    // A console program of its own group on our console gets a Ctrl-Break, which console programs
    // take as a request to end. Otherwise its windows are asked to close, as the close box does.
    // Only a program that can be asked neither way is ended at once.
    if (state->ownGroup && ::GetConsoleWindow() != nullptr &&
        ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, state->id)) {
        return;
    }
    struct Search {
        DWORD id;
        int asked;
    } search{state->id, 0};
    ::EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* search = reinterpret_cast<Search*>(parameter);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            if (owner == search->id && ::IsWindowVisible(window) && ::PostMessageW(window, WM_CLOSE, 0, 0)) {
                ++search->asked;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.asked == 0) {
        kill();
    }
}

void ChildProcess::kill() {
    if (state->process.valid() && ::WaitForSingleObject(state->process.get(), 0) == WAIT_TIMEOUT) {
        state->killed = ::TerminateProcess(state->process.get(), killedCode) != FALSE;
    }
}

long ChildProcess::id() const {
    return state->process.valid() ? static_cast<long>(state->id) : 0;
}

bool ChildProcess::running() const {
    return state->process.valid();
}

namespace {

bool isProgramFile(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(widePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// `path`, or `path` + ".exe" when the name has no extension of its own.
std::string withSuffix(const std::string& path) {
    if (isProgramFile(path)) {
        return path;
    }
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.find_last_of('.');
    if ((dot == std::string::npos || (slash != std::string::npos && dot < slash)) &&
        isProgramFile(path + ".exe")) {
        return path + ".exe";
    }
    return "";
}

std::string ownFolder() {
    std::vector<wchar_t> name(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) {
            return "";
        }
        if (length < name.size()) {
            std::string path = Win32::utf8(name.data(), length);
            const std::size_t slash = path.find_last_of("/\\");
            return slash == std::string::npos ? "" : path.substr(0, slash);
        }
        name.resize(name.size() * 2);
    }
}

} // namespace

std::string findProgramOnPath(const std::string& program) {
    if (program.find_first_of("/\\:") != std::string::npos) {
        return withSuffix(program);
    }
    // As Windows looks for programs: our own folder first (a program put beside ours), then PATH.
    std::vector<std::string> folders;
    const std::string own = ownFolder();
    if (!own.empty()) {
        folders.push_back(own);
    }
    const DWORD size = ::GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (size > 0) {
        std::wstring value(size, L'\0');
        const DWORD length = ::GetEnvironmentVariableW(L"PATH", value.data(), size);
        const std::string list = Win32::utf8(value.data(), length < size ? length : 0);
        std::size_t start = 0;
        while (start <= list.size()) {
            const std::size_t semicolon = list.find(';', start);
            std::string folder =
                list.substr(start, semicolon == std::string::npos ? std::string::npos : semicolon - start);
            // PATH entries may be quoted.
            if (folder.size() >= 2 && folder.front() == '"' && folder.back() == '"') {
                folder = folder.substr(1, folder.size() - 2);
            }
            if (!folder.empty()) {
                folders.push_back(folder);
            }
            if (semicolon == std::string::npos) {
                break;
            }
            start = semicolon + 1;
        }
    }
    for (const std::string& folder : folders) {
        const std::string found = withSuffix(folder + "\\" + program);
        if (!found.empty()) {
            return found;
        }
    }
    return "";
}

} // namespace Velmora
