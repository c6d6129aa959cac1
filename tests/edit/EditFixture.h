// A real `velmora --edit` for the tests: a copy of the repository's data folder in a scratch
// folder (shaders and tracks copied so that tests may change them; sprite, clouds and soundtrack
// linked), the program started there under the test's X server with SDL's dummy sound driver, its
// address read from its first line, and an HTTP client for its API.
#pragma once

#include "tests/support/TestFiles.h"

#include "base/Process.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace EditTest {

// Whether this build runs under AddressSanitizer (slower, and its leak check takes time at exit).
#if defined(__SANITIZE_ADDRESS__)
constexpr bool underSanitizer = true;
#else
constexpr bool underSanitizer = false;
#endif

using Json = nlohmann::json;

struct Answer {
    int status = 0;
    std::string body;
    std::string contentType;
    Json json() const { return Json::parse(body, nullptr, false); }
};

class EditProcess {
public:
    // Starts the program with --edit --size 320x180 and `arguments` (--paused by default).
    // `prepare`, when given, is called with the scratch folder once the files are in place and
    // before the program starts.
    explicit EditProcess(std::vector<std::string> arguments = {"--paused"},
                         const std::function<void(const std::string&)>& prepare = nullptr);
    // Asks the program to end and waits for it (killing it after a while).
    ~EditProcess();

    const std::string& root() const { return folder; }
    std::string file(const std::string& relative) const { return folder + "/" + relative; }
    int port() const { return serverPort; }
    const std::string& token() const { return serverToken; }
    bool started() const { return serverPort > 0; }
    // The program's process id.
    long processId() const { return process.id(); }
    // What the program wrote so far.
    std::string output() const;
    std::string errors() const;

    Answer get(const std::string& path, const httplib::Headers& headers = {});
    Answer post(const std::string& path, const std::string& body,
                const std::string& type = "application/json", const httplib::Headers& headers = {});
    Answer put(const std::string& path, const std::string& body, const std::string& type = "application/json",
               const httplib::Headers& headers = {});
    Json state() { return get("/api/state").json(); }
    Json transport(const Json& command) { return post("/api/transport", command.dump()).json(); }

    // Waits until `ready(state)` holds (polling /api/state) or `seconds` pass; the last state.
    template <typename Ready> Json waitFor(Ready ready, double seconds = 20.0);

    // Ends the program (SIGTERM) and returns its exit status; -1 when it had to be killed. Under
    // AddressSanitizer the program checks for leaks at exit: leaks alone count as a clean exit here
    // (see leaksOfOurs), any other report does not.
    int stop();
    // Waits up to `seconds` for the program to end by itself (after a signal the test sent); its
    // exit status as stop() gives it, or nothing when it still runs.
    std::optional<int> waitForExit(double seconds);
    // Under AddressSanitizer, after stop: the leak reports whose allocation stack goes through our
    // own sources (the GL driver's and system libraries' own leaks are not ours to fix).
    std::vector<std::string> leaksOfOurs() const;

private:
    int exitCode(const Velmora::ExitStatus& status) const;
    httplib::Headers withToken(const httplib::Headers& headers) const;

    std::unique_ptr<VelmoraTest::ScratchFolder> scratch;
    std::string folder;
    Velmora::ChildProcess process;
    std::unique_ptr<httplib::Client> client;
    int serverPort = 0;
    std::string serverToken;
    bool stopped = false;
    std::optional<Velmora::ExitStatus> finished;
};

// The frame of /api/frame.png as RGB bytes; empty when it is not a PNG.
std::vector<unsigned char> decodePngRgb(const std::string& bytes, int* width, int* height);
// A PNG file's pixels as RGB bytes.
std::vector<unsigned char> readPngRgb(const std::string& path, int* width, int* height);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
// Renames `from` over `to`, as editors save (on Windows too, where a plain rename refuses to
// replace); false when it fails.
bool renameOver(const std::string& from, const std::string& to);
// Runs a program and returns what it printed on standard output; its status in *status.
std::string runProgram(const std::string& program, const std::vector<std::string>& arguments, int* status,
                       const std::string& folder = "");

template <typename Ready> Json EditProcess::waitFor(Ready ready, double seconds) {
    Json last;
    const int steps = static_cast<int>(seconds * 100);
    for (int i = 0; i < steps; ++i) {
        last = state();
        if (ready(last)) {
            return last;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return last;
}

} // namespace EditTest
