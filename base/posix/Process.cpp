#include "base/Process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Velmora {

struct ChildProcess::State {
    pid_t pid = -1;
    int input = -1;
    int output = -1;
};

std::string ExitStatus::describe() const {
    if (!started) {
        return "did not start";
    }
    if (exited) {
        return "exited with status " + std::to_string(code);
    }
    if (signal != 0) {
        return "was killed by signal " + std::to_string(signal);
    }
    return "stopped";
}

ChildProcess::ChildProcess() : state(std::make_unique<State>()) {}

ChildProcess::~ChildProcess() {
    if (state->pid > 0) {
        closeInput();
        kill();
        wait();
    }
    if (state->output >= 0) {
        ::close(state->output);
    }
}

bool ChildProcess::start(const ProcessDesc& desc, std::string& error) {
    int inputEnds[2] = {-1, -1};
    int outputEnds[2] = {-1, -1};
    if (desc.pipeInput && ::pipe2(inputEnds, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (desc.captureOutput && ::pipe2(outputEnds, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        if (inputEnds[0] >= 0) {
            ::close(inputEnds[0]);
            ::close(inputEnds[1]);
        }
        return false;
    }
    if (desc.pipeInput) {
        // A larger pipe lets a whole frame's rows go through in few writes.
        ::fcntl(inputEnds[1], F_SETPIPE_SZ, 1 << 20);
    }

    std::vector<std::string> words = desc.arguments;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(desc.program.c_str()));
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (desc.pipeInput) {
        posix_spawn_file_actions_adddup2(&actions, inputEnds[0], 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    if (desc.captureOutput) {
        posix_spawn_file_actions_adddup2(&actions, outputEnds[1], 1);
        posix_spawn_file_actions_adddup2(&actions, outputEnds[1], 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1,
                                         desc.outputFile.empty() ? "/dev/null" : desc.outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (desc.errorFile.empty()) {
            posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        } else {
            posix_spawn_file_actions_addopen(&actions, 2, desc.errorFile.c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0600);
        }
    }
    if (!desc.workingDirectory.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, desc.workingDirectory.c_str());
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The child starts with default signal handling and nothing blocked, whatever we changed.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    sigset_t noMask;
    sigemptyset(&noMask);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &noMask);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (desc.ownProcessGroup) {
        posix_spawnattr_setpgroup(&attributes, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&attributes, flags);
    // Our environment with the description's variables in place of ours of the same name.
    std::vector<std::string> variables = desc.environment;
    std::vector<char*> envp;
    for (std::string& variable : variables) {
        envp.push_back(variable.data());
    }
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string name(*entry, std::strcspn(*entry, "="));
        bool replaced = false;
        for (const std::string& variable : desc.environment) {
            replaced = replaced || variable.compare(0, name.size() + 1, name + "=") == 0;
        }
        if (!replaced) {
            envp.push_back(*entry);
        }
    }
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int result =
        ::posix_spawn(&pid, desc.program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (desc.pipeInput) {
        ::close(inputEnds[0]);
    }
    if (desc.captureOutput) {
        ::close(outputEnds[1]);
    }
    if (result != 0) {
        error = std::strerror(result);
        if (desc.pipeInput) {
            ::close(inputEnds[1]);
        }
        if (desc.captureOutput) {
            ::close(outputEnds[0]);
        }
        return false;
    }
    state->pid = pid;
    state->input = desc.pipeInput ? inputEnds[1] : -1;
    state->output = desc.captureOutput ? outputEnds[0] : -1;
    return true;
}

bool ChildProcess::writeInput(const void* data, std::size_t size, std::string& error) {
    if (state->input < 0) {
        error = "its input is closed";
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(state->input, bytes + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = std::strerror(n < 0 ? errno : EIO);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void ChildProcess::closeInput() {
    if (state->input >= 0) {
        ::close(state->input);
        state->input = -1;
    }
}

std::string ChildProcess::readAllOutput() {
    std::string text;
    if (state->output < 0) {
        return text;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(state->output, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(state->output);
    state->output = -1;
    return text;
}

ExitStatus ChildProcess::wait() {
    ExitStatus status;
    if (state->pid <= 0) {
        return status;
    }
    status.started = true;
    int raw = 0;
    while (::waitpid(state->pid, &raw, 0) < 0) {
        if (errno != EINTR) {
            state->pid = -1;
            return status;
        }
    }
    state->pid = -1;
    status.exited = WIFEXITED(raw);
    status.code = status.exited ? WEXITSTATUS(raw) : -1;
    status.signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
    return status;
}

std::optional<ExitStatus> ChildProcess::waitFor(double seconds) {
    if (state->pid <= 0) {
        return wait();
    }
    for (double waited = 0.0;; waited += 0.005) {
        int raw = 0;
        const pid_t done = ::waitpid(state->pid, &raw, WNOHANG);
        if (done == state->pid) {
            ExitStatus status;
            status.started = true;
            status.exited = WIFEXITED(raw);
            status.code = status.exited ? WEXITSTATUS(raw) : -1;
            status.signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
            state->pid = -1;
            return status;
        }
        if (done < 0 && errno != EINTR) {
            state->pid = -1;
            return ExitStatus{};
        }
        if (waited >= seconds) {
            return std::nullopt;
        }
        ::usleep(5000);
    }
}

void ChildProcess::interrupt() {
    if (state->pid > 0) {
        ::kill(state->pid, SIGTERM);
    }
}

void ChildProcess::kill() {
    if (state->pid > 0) {
        ::kill(state->pid, SIGKILL);
    }
}

long ChildProcess::id() const {
    return state->pid > 0 ? static_cast<long>(state->pid) : 0;
}

bool ChildProcess::running() const {
    return state->pid > 0;
}

std::string findProgramOnPath(const std::string& program) {
    if (program.find('/') != std::string::npos) {
        return ::access(program.c_str(), X_OK) == 0 ? program : "";
    }
    const char* path = std::getenv("PATH");
    if (path == nullptr) {
        return "";
    }
    std::string list = path;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t colon = list.find(':', start);
        std::string folder =
            list.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (folder.empty()) {
            folder = ".";
        }
        const std::string candidate = folder + "/" + program;
        struct stat info;
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (colon == std::string::npos) {
            break;
        }
        start = colon + 1;
    }
    return "";
}

} // namespace Velmora
