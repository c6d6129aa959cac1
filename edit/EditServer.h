// The edit mode's HTTP server: 127.0.0.1 only, a per-run token, Host and Origin checks, capped
// bodies, JSON only, and no request that names a path (tracks come from a fixed list, page files
// from the list found at start). It parses and checks requests and hands them to an EditService;
// it never touches the show itself. Server-sent events stream from the service's EventHub.
//
// No client can stall it or make it hold much memory. One network thread reads and writes every
// connection without blocking (Asio): a request's head must arrive within a few seconds of its
// first byte and its body soon after, every rule that needs only the head (Host, Origin, token,
// media type, size) is checked before the body is read, and a refused request's connection is
// closed unread. Only complete requests reach the worker threads, those that wait for the drawing
// thread on workers of their own, so that reading the state never waits behind them; event streams
// are written by the network thread and hold no worker. Each client address may hold a bounded
// number of connections.
#pragma once

#include "edit/EventHub.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace Velmora {

struct Reply {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";

    static Reply json(const nlohmann::json& value, int status = 200);
    // {"error": message}, one line.
    static Reply error(int status, const std::string& message);
};

// What the server asks of the running edit session. Called on server threads: implementations
// read published snapshots or queue work for the drawing thread and wait for it.
class EditService {
public:
    virtual ~EditService() = default;
    virtual Reply state() = 0;
    virtual Reply transport(const nlohmann::json& body) = 0;
    virtual Reply tracks() = 0;
    virtual Reply track(const std::string& name) = 0;
    virtual Reply putTrack(const std::string& name, const nlohmann::json& body) = 0;
    virtual Reply values(const std::string& name, double from, double to, double step) = 0;
    virtual Reply waveform(double rowsPerBucket) = 0;
    virtual Reply spectrum(double row) = 0;
    // The last frame as PNG; maxWidth > 0 shrinks it by a whole factor to at most that width.
    virtual Reply frame(int maxWidth) = 0;
    virtual EventHub& events() = 0;
};

struct EditServerDesc {
    int port = 0;           // 0: any free port
    std::string token;      // required on every /api/ request
    std::string pageFolder; // the editor's files; empty: no page
};

class EditServer {
public:
    static constexpr std::size_t maxBodyBytes = 1 << 20;
    // A request's head (request line and headers) must be complete this long after its first byte.
    static constexpr int headSeconds = 5;
    // Connections one client address may hold at once (event streams included).
    static constexpr std::size_t maxConnectionsPerClient = 256;

    explicit EditServer(EditService& service);
    ~EditServer();

    // Binds 127.0.0.1 and starts serving on threads of its own. False with the reason ("Address
    // already in use") when the port cannot be had.
    bool start(const EditServerDesc& desc, std::string& error);
    int port() const { return boundPort; }
    // Ends every stream and connection at once, stops serving and waits for the server threads.
    // Requests that wait for the drawing thread are answered by `pump`, called (on the caller's
    // thread) while they run; without it they wait for their own time limit.
    void stop(const std::function<void()>& pump = nullptr);

    // A new token: 128 random bits as 32 lower-case hex digits. Throws Vexception when the system
    // has no random source.
    static std::string makeToken();

    EditServer(const EditServer&) = delete;
    EditServer& operator=(const EditServer&) = delete;

    class Impl;

private:
    void scanPage(const std::string& folder);

    EditService& service;
    std::unique_ptr<Impl> impl;
    std::string token;
    int boundPort = 0;
    // URL path -> file, fixed at start.
    std::map<std::string, std::string> pageFiles;
};

} // namespace Velmora
