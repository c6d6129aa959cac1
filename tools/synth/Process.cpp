#include "tools/synth/Process.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Synth {

namespace {

// Starts `args` with the given descriptors as its standard input and output (-1: leave it).
pid_t spawn(const std::vector<std::string>& args, int in, int out) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0)
        posix_spawn_file_actions_adddup2(&actions, in, 0);
    if (out >= 0) {
        posix_spawn_file_actions_adddup2(&actions, out, 1);
        posix_spawn_file_actions_adddup2(&actions, out, 2);
    }
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed ? -1 : pid;
}

int waitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

int runCapture(const std::vector<std::string>& args, std::string& output) {
    output.clear();
    int fds[2];
    if (args.empty() || pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = spawn(args, devNull, fds[1]);
    close(fds[1]);
    if (devNull >= 0)
        close(devNull);
    if (pid < 0) {
        close(fds[0]);
        return -1;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(fds[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        output.append(buffer, size_t(got));
    }
    close(fds[0]);
    return waitFor(pid);
}

} // namespace Synth
