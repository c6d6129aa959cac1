// The edit mode's HTTP server: 127.0.0.1 only, a per-run token, Host and Origin checks, capped
// bodies, JSON only, and no request that names a path (tracks come from a fixed list, page files
// from the list found at start). It parses and checks requests and hands them to an EditService;
// it never touches the show itself. Server-sent events stream from the service's EventHub.
#pragma once

#include "edit/EventHub.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

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

    explicit EditServer(EditService& service);
    ~EditServer();

    // Binds 127.0.0.1 and starts serving on threads of its own. False with the reason ("Address
    // already in use") when the port cannot be had.
    bool start(const EditServerDesc& desc, std::string& error);
    int port() const { return boundPort; }
    // Ends every stream, stops serving and waits for the server threads.
    void stop();

    // A new token: 128 random bits as 32 lower-case hex digits. Throws Vexception when the system
    // has no random source.
    static std::string makeToken();

    EditServer(const EditServer&) = delete;
    EditServer& operator=(const EditServer&) = delete;

private:
    void route();
    // Why a request is refused by the Host and Origin rules; empty when it is not.
    std::string refusal(const httplib::Request& request, bool api) const;
    // The handler behind every rule of the API: Host, Origin, token, content type.
    std::function<void(const httplib::Request&, httplib::Response&)>
    guarded(std::function<void(const httplib::Request&, httplib::Response&)> handler);
    void scanPage(const std::string& folder);

    EditService& service;
    std::unique_ptr<httplib::Server> server;
    std::thread listener;
    std::string token;
    int boundPort = 0;
    std::atomic<bool> stopping{false};
    // URL path -> file, fixed at start.
    std::map<std::string, std::string> pageFiles;
};

} // namespace Velmora
