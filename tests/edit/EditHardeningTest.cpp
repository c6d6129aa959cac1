// A server no local program can stall or bloat: bodies over the limit refused unread (chunked or
// not, with or without the token), slow and idle clients and open event streams beside a page that
// still gets its answers, signals that end edit mode at once whatever clients do, a stalled drawing
// thread whose refused requests never happen afterwards, and the small rules of the API document.
// The real `velmora --edit`, over loopback only, every wait bounded.
#include "tests/edit/EditFixture.h"

#include "base/Files.h"

#include <asio.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <thread>

#ifndef _WIN32
#include <csignal>
#include <sys/types.h>
#include <unistd.h>
#endif

using namespace EditTest;
using Clock = std::chrono::steady_clock;
using Tcp = asio::ip::tcp;

namespace {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A raw connection that sends and reads exactly what the test says, never blocking for long.
class Raw {
public:
    Raw(asio::io_context& io, int port) : socket(io) {
        asio::error_code error;
        socket.connect(
            Tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), static_cast<unsigned short>(port)), error);
        connected = !error;
        socket.non_blocking(true, error);
    }
    bool ok() const { return connected && !broken; }
    // Sends what the socket takes within `seconds`; false once the server has closed the connection.
    bool send(const std::string& bytes, double seconds = 5.0) {
        std::size_t at = 0;
        const auto start = Clock::now();
        while (at < bytes.size() && !broken) {
            asio::error_code error;
            const std::size_t sent =
                socket.write_some(asio::buffer(bytes.data() + at, bytes.size() - at), error);
            if (error == asio::error::would_block) {
                if (secondsSince(start) > seconds) {
                    return false;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                continue;
            }
            if (error) {
                broken = true;
                return false;
            }
            at += sent;
            sentBytes += sent;
        }
        return !broken;
    }
    // Reads what arrives within `seconds`, until `enough` holds for what was read or the server
    // closes the connection.
    template <typename Enough> std::string read(double seconds, Enough enough) {
        const auto start = Clock::now();
        char buffer[65536];
        while (!enough(received) && !ended && secondsSince(start) < seconds) {
            asio::error_code error;
            const std::size_t got = socket.read_some(asio::buffer(buffer), error);
            if (error == asio::error::would_block) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            if (error) {
                ended = true;
                break;
            }
            received.append(buffer, got);
        }
        return received;
    }
    // The whole answer to a request (its head and the Content-Length bytes after it).
    std::string answer(double seconds = 10.0) {
        return read(seconds, [](const std::string& text) {
            const std::size_t end = text.find("\r\n\r\n");
            if (end == std::string::npos) {
                return false;
            }
            const std::size_t length = text.find("Content-Length: ");
            return length != std::string::npos &&
                   text.size() >= end + 4 + std::strtoull(text.c_str() + length + 16, nullptr, 10);
        });
    }
    // Whether the server closed the connection within `seconds` (reading and dropping what comes).
    bool closedWithin(double seconds) {
        read(seconds, [](const std::string&) { return false; });
        return ended;
    }
    std::size_t sent() const { return sentBytes; }

private:
    Tcp::socket socket;
    bool connected = false;
    bool broken = false;
    bool ended = false;
    std::size_t sentBytes = 0;
    std::string received;
};

int statusOf(const std::string& answer) {
    return answer.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(answer.c_str() + 9) : 0;
}

// The program's peak resident memory in MiB (Linux), or -1.
double peakMiB(long pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
        }
    }
    return -1.0;
}

std::string head(const std::string& requestLine, int port, const std::string& more = "") {
    return requestLine + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n" + more + "\r\n";
}

} // namespace

TEST(EditHardening, BodiesOverTheLimitAreRefusedBeforeTheyAreRead) {
    EditProcess edit;
    ASSERT_TRUE(edit.started()) << edit.errors();
    asio::io_context io;
    const int port = edit.port();
    const Json before = edit.get("/api/tracks/hue").json();
    const double peakBefore = peakMiB(edit.processId());

    struct Attack {
        const char* what;
        std::string head;
        int status;
        std::size_t bytes;
    };
    const std::string token = "X-Velmora-Token: " + edit.token() + "\r\n";
    const std::vector<Attack> attacks = {
        {"192 MiB chunked, no token",
         head("POST /api/transport", port,
              "Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n"),
         401, 192u << 20},
        {"256 MiB chunked, with the token",
         head("PUT /api/tracks/hue", port,
              token + "Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n"),
         411, 256u << 20},
        {"256 MiB by length, with the token",
         head("PUT /api/tracks/hue", port,
              token + "Content-Type: application/json\r\nContent-Length: 268435456\r\n"),
         413, 256u << 20},
        {"a body from another origin",
         head("PUT /api/tracks/hue", port,
              token + "Origin: http://evil.example\r\nContent-Type: application/json\r\nContent-Length: "
                      "1000000\r\n"),
         403, 64u << 20},
    };
    for (const Attack& attack : attacks) {
        SCOPED_TRACE(attack.what);
        Raw raw(io, port);
        ASSERT_TRUE(raw.ok());
        ASSERT_TRUE(raw.send(attack.head));
        // The answer comes from the head alone.
        const std::string answer = raw.answer();
        EXPECT_EQ(statusOf(answer), attack.status) << answer;
        EXPECT_NE(answer.find("Connection: close"), std::string::npos) << answer;
        // And the body is not taken: the connection is closed long before it could be sent.
        const std::string chunk = "10000\r\n" + std::string(0x10000, '[') + "\r\n";
        const auto start = Clock::now();
        while (raw.sent() < attack.bytes && secondsSince(start) < 20.0 && raw.send(chunk, 2.0)) {
        }
        EXPECT_LT(raw.sent(), attack.bytes / 4) << "the server went on reading";
        EXPECT_TRUE(raw.closedWithin(5.0));
    }
    const double peakAfter = peakMiB(edit.processId());
    std::cout << "[ figures  ] peak RSS " << peakBefore << " MiB before, " << peakAfter
              << " MiB after the over-limit bodies (192 MiB chunked without a token, 256 MiB chunked and "
                 "256 MiB by length with it)\n";
    if (peakBefore > 0) {
        EXPECT_LT(peakAfter - peakBefore, 32.0) << "the bodies were buffered";
    }
    EXPECT_EQ(edit.get("/api/tracks/hue").json(), before) << "nothing changed";
    EXPECT_EQ(edit.get("/api/state").status, 200);
    EXPECT_EQ(edit.stop(), 0) << edit.errors();
}

TEST(EditHardening, SlowClientsAndOpenStreamsDoNotStarveThePage) {
    EditProcess edit({"--from", "30"});
    ASSERT_TRUE(edit.started()) << edit.errors();
    asio::io_context io;
    const int port = edit.port();
    constexpr int slow = 64;

    // 64 connections that send their head one line a second, and 64 event streams that never read.
    std::vector<std::unique_ptr<Raw>> tricklers;
    std::vector<std::unique_ptr<Raw>> streams;
    const auto start = Clock::now();
    for (int i = 0; i < slow; ++i) {
        tricklers.push_back(std::make_unique<Raw>(io, port));
        ASSERT_TRUE(tricklers.back()->send("GET /api/state HTTP/1.1\r\n"));
        streams.push_back(std::make_unique<Raw>(io, port));
        ASSERT_TRUE(streams.back()->send(head("GET /api/events?token=" + edit.token(), port)));
    }
    std::atomic<bool> done{false};
    std::atomic<int> cut{0};
    std::thread trickle;
    // Whatever happens below, the trickling thread ends with the test.
    struct Join {
        std::atomic<bool>& done;
        std::thread& thread;
        ~Join() {
            done = true;
            if (thread.joinable()) {
                thread.join();
            }
        }
    } join{done, trickle};
    trickle = std::thread([&] {
        for (int second = 0; !done && second < 30; ++second) {
            for (auto& raw : tricklers) {
                if (raw->ok() && !raw->send("X-Slow-" + std::to_string(second) + ": 1\r\n", 0.1)) {
                    ++cut;
                }
            }
            for (int i = 0; i < 100 && !done; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));

    // The page's own requests meanwhile.
    std::vector<double> times;
    for (int i = 0; i < 200; ++i) {
        const auto asked = Clock::now();
        const Answer state = edit.get("/api/state");
        if (state.status != 200) {
            ADD_FAILURE() << "GET /api/state answered " << state.status << " after " << secondsSince(asked)
                          << " s";
            break;
        }
        times.push_back(secondsSince(asked) * 1000.0);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(times.size(), 200u);
    std::sort(times.begin(), times.end());
    const double p50 = times[times.size() / 2];
    const double p99 = times[times.size() * 99 / 100];
    std::cout << "[ figures  ] GET /api/state beside " << slow << " trickling connections and " << slow
              << " event streams: p50 " << p50 << " ms, p99 " << p99 << " ms\n";
#ifndef _WIN32
    // Starved, these requests would wait for the slow clients' seconds (or never be answered). The
    // bound is loose because this machine may be loaded by anything else; the figures above are
    // the measurement (a few ms p50, well under 100 ms p99 on an idle machine). Under wine (the
    // Windows build's tests) every call is emulated: the figures are shown, not judged.
    EXPECT_LT(p99, underSanitizer ? 2000.0 : 1000.0);
#endif
    // The streams are served: one that reads has its state.
    EXPECT_NE(
        streams[0]
            ->read(5.0, [](const std::string& t) { return t.find("event: state") != std::string::npos; })
            .find("event: state"),
        std::string::npos);

    // The trickling heads are cut at their time limit (5 s from their first byte), not served.
    int closed = 0;
    for (auto& raw : tricklers) {
        const double left = std::max(1.0, 9.0 - secondsSince(start));
        closed += raw->closedWithin(left) ? 1 : 0;
    }
    EXPECT_EQ(closed, slow);
    EXPECT_EQ(edit.get("/api/state").status, 200);

    // Far more idle connections than one client may hold: the oldest make room for new ones, and
    // the page is still answered.
    std::vector<std::unique_ptr<Raw>> idle;
    for (int i = 0; i < 400; ++i) {
        idle.push_back(std::make_unique<Raw>(io, port));
    }
    httplib::Client fresh("127.0.0.1", port);
    fresh.set_read_timeout(5, 0);
    auto answer = fresh.Get("/api/state", {{"X-Velmora-Token", edit.token()}});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_EQ(edit.stop(), 0) << edit.errors();
}

#ifndef _WIN32
TEST(EditHardening, SignalsEndEditModeAtOnceWhateverClientsDo) {
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal == SIGTERM ? "SIGTERM" : "SIGINT");
        EditProcess edit;
        ASSERT_TRUE(edit.started()) << edit.errors();
        asio::io_context io;
        std::vector<std::unique_ptr<Raw>> clients;
        for (int i = 0; i < 16; ++i) {
            clients.push_back(std::make_unique<Raw>(io, edit.port()));
            clients.back()->send("GET /api/state HTTP/1.1\r\nX-Slow: 1\r\n");
            clients.push_back(std::make_unique<Raw>(io, edit.port()));
            clients.back()->send(head("GET /api/events?token=" + edit.token(), edit.port()));
            clients.push_back(std::make_unique<Raw>(io, edit.port()));
            clients.back()->send(head("PUT /api/tracks/hue", edit.port(),
                                      "X-Velmora-Token: " + edit.token() +
                                          "\r\nContent-Type: application/json\r\nContent-Length: 1000\r\n") +
                                 "{\"rev");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto sent = Clock::now();
        ASSERT_EQ(::kill(static_cast<pid_t>(edit.processId()), signal), 0);
        // The sanitizers' leak check at exit takes its own time.
        const std::optional<int> status = edit.waitForExit(underSanitizer ? 15.0 : 5.0);
        const double took = secondsSince(sent);
        ASSERT_TRUE(status) << "still running after the signal";
        EXPECT_EQ(*status, 0) << edit.errors();
        if (!underSanitizer) {
            EXPECT_LT(took, 2.0);
        }
        std::cout << "[ figures  ] ended " << took << " s after the signal\n";
    }
}

// The drawing thread stalls (the test stops its X server, as a hung driver would): a PUT is refused
// with 503 at the documented 2 s, and once the display resumes it never happens after all.
TEST(EditHardening, ARequestRefusedForAStalledShowIsNeverAppliedLater) {
    if (std::getenv("VELMORA_MAY_STOP_DISPLAY") == nullptr) {
        GTEST_SKIP() << "stops the display every test shares: run alone as the test edit.stalled_display";
    }
    const char* display = std::getenv("DISPLAY");
    const std::string number = display != nullptr && display[0] == ':'
                                   ? std::string(display + 1).substr(0, std::string(display + 1).find('.'))
                                   : "";
    std::ifstream lock("/tmp/.X" + number + "-lock");
    long server = 0;
    if (number.empty() || !(lock >> server) || server <= 1) {
        GTEST_SKIP() << "no local X server to stop (DISPLAY " << (display ? display : "unset") << ")";
    }
    EditProcess edit;
    ASSERT_TRUE(edit.started()) << edit.errors();
    const std::string source = edit.file("data/science/src/hue.txt");
    const std::string text = readFile(source);
    const Json before = edit.get("/api/tracks/hue").json();
    Json keys = before["keys"];
    keys[0]["value"] = 42;

    ASSERT_EQ(::kill(static_cast<pid_t>(server), SIGSTOP), 0);
    struct Resume {
        long pid;
        ~Resume() { ::kill(static_cast<pid_t>(pid), SIGCONT); }
    } resume{server};
    // Let the drawing thread run into the stopped display.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto asked = Clock::now();
    const Answer put =
        edit.put("/api/tracks/hue", Json{{"revision", before["revision"]}, {"keys", keys}}.dump());
    const double took = secondsSince(asked);
    ::kill(static_cast<pid_t>(server), SIGCONT);
    if (put.status == 200) {
        GTEST_SKIP() << "stopping the X server did not stall the drawing thread here";
    }
    EXPECT_EQ(put.status, 503) << put.body;
    EXPECT_GT(took, 1.5);
    EXPECT_LT(took, 4.0) << "the document says 2 s";

    // The display is back: the refused edit must not happen now.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(edit.get("/api/tracks/hue").json(), before);
    EXPECT_EQ(readFile(source), text);
    const Answer again =
        edit.put("/api/tracks/hue", Json{{"revision", before["revision"]}, {"keys", keys}}.dump());
    EXPECT_EQ(again.status, 200) << again.body;
    EXPECT_EQ(edit.stop(), 0) << edit.errors();
}
#endif

TEST(EditHardening, TheSmallRulesOfTheApiDocument) {
    EditProcess edit({"--paused"}, [](const std::string& folder) {
        // A page file that is a link leading outside the page's folder.
        VelmoraTest::writeFile(folder + "/secret.js", "the author's secret");
        VelmoraTest::makeSymlink(folder + "/secret.js", folder + "/editor/src/leak.js");
    });
    ASSERT_TRUE(edit.started()) << edit.errors();
    asio::io_context io;
    const int port = edit.port();
    const std::string token = "X-Velmora-Token: " + edit.token() + "\r\n";
    const auto ask = [&](const std::string& request) {
        Raw raw(io, port);
        raw.send(request);
        return raw.answer();
    };
    // An empty Origin is another origin.
    EXPECT_EQ(statusOf(ask(head("GET /api/state", port, token + "Origin: \r\n"))), 403);
    // Two Host headers.
    EXPECT_EQ(statusOf(ask(head("GET /api/state", port, token + "Host: evil.example\r\n"))), 400);
    EXPECT_EQ(statusOf(ask(head("GET /api/state", port, token))), 200);
    // The media type in any letter case, with parameters.
    EXPECT_EQ(edit.post("/api/transport", "{\"seek\": 8}", "Application/JSON; charset=UTF-8").status, 200);
    EXPECT_EQ(edit.post("/api/transport", "{\"seek\": 8}", "text/json").status, 415);
    // Page files only as regular files inside editor/.
    httplib::Client page("127.0.0.1", port);
    auto leak = page.Get("/src/leak.js");
    ASSERT_TRUE(leak);
    EXPECT_EQ(leak->status, 404);
    EXPECT_EQ(leak->body.find("secret"), std::string::npos);
    std::string moved;
    ASSERT_TRUE(Velmora::renameFile(edit.file("editor/style.css"), edit.file("style.css"), moved)) << moved;
    VelmoraTest::makeSymlink(edit.file("style.css"), edit.file("editor/style.css"));
    auto style = page.Get("/style.css");
    ASSERT_TRUE(style);
    EXPECT_EQ(style->status, 404) << "a file replaced by a link after the start";
    EXPECT_EQ(page.Get("/")->status, 200);
    EXPECT_EQ(edit.stop(), 0) << edit.errors();
}
