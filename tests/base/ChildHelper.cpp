// A small program the process tests start instead of a shell, the same on every platform:
//   velmora_test_child echo CODE         copies standard input to standard output, writes "err" on
//                                        standard error, exits with CODE
//   velmora_test_child args A B ...      prints each argument on a line of its own
//   velmora_test_child env NAME          prints the variable's value
//   velmora_test_child cwd               prints the name of its working folder's last component
//   velmora_test_child sleep SECONDS     sleeps, exits 0
//   velmora_test_child interruptible     prints "ready", then exits 3 when asked to end (Ctrl-C,
//                                        Ctrl-Break, SIGTERM), 4 when nobody asks within 60 s
#include "base/Files.h"
#include "base/Platform.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    Velmora::prepareProcess();
    Velmora::ProgramArguments arguments(argc, argv);
    char** words = arguments.values();
    const std::string mode = arguments.count() > 1 ? words[1] : "";
    if (mode == "echo" && arguments.count() == 3) {
        char buffer[4096];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) {
            std::fwrite(buffer, 1, got, stdout);
        }
        std::fflush(stdout);
        std::fputs("err\n", stderr);
        return std::atoi(words[2]);
    }
    if (mode == "args") {
        for (int i = 2; i < arguments.count(); ++i) {
            std::printf("%s\n", words[i]);
        }
        return 0;
    }
    if (mode == "env" && arguments.count() == 3) {
        std::printf("%s\n", Velmora::environmentVariable(words[2]).c_str());
        return 0;
    }
    if (mode == "cwd") {
        const std::string here = std::filesystem::current_path().u8string();
        std::printf("%s\n", Velmora::baseName(here).c_str());
        return 0;
    }
    if (mode == "sleep" && arguments.count() == 3) {
        std::this_thread::sleep_for(std::chrono::duration<double>(std::atof(words[2])));
        return 0;
    }
    if (mode == "interruptible") {
        Velmora::InterruptGuard guard;
        std::puts("ready");
        std::fflush(stdout);
        for (int i = 0; i < 6000; ++i) {
            if (Velmora::InterruptGuard::requested()) {
                return 3;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return 4;
    }
    std::fprintf(stderr, "velmora_test_child: unknown mode\n");
    return 2;
}
