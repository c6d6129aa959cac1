#include "edit/EditServer.h"

#include "base/Files.h"
#include "base/Platform.h"
#include "base/Vexception.h"

#include <asio.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace Velmora {

namespace {

using Clock = std::chrono::steady_clock;
using Tcp = asio::ip::tcp;

// A connection waiting for its next request (a page keeps one open between its calls).
constexpr auto idleTime = std::chrono::seconds(30);
// A request's head, from its first byte; its body, from the end of the head.
constexpr auto headTime = std::chrono::seconds(EditServer::headSeconds);
constexpr auto bodyTime = std::chrono::seconds(10);
// An answer must be taken by the client within this time.
constexpr auto writeTime = std::chrono::seconds(10);
// After a refusal the rest of the request is read and dropped for a moment, so that the client
// sees the answer rather than a reset connection; then the connection is closed.
constexpr auto lingerTime = std::chrono::seconds(1);
constexpr std::size_t maxLingerBytes = 4 << 20;
constexpr std::size_t maxHeadBytes = 16 << 10;
constexpr std::size_t maxConnections = 1024;
// Requests that only read published state, and those that wait for the drawing thread (at most its
// answer time each): separate workers, so that the first never wait behind the second.
constexpr std::size_t quickWorkers = 2;
constexpr std::size_t showWorkers = 4;
// Event streams: how often the network thread hands them their events, when a silent stream gets a
// comment (which finds out whether the page is still there), and how much may wait for a slow page.
constexpr auto streamInterval = std::chrono::milliseconds(20);
constexpr auto streamKeepAlive = std::chrono::seconds(5);
constexpr std::size_t maxStreamBacklog = 1 << 20;
// A page file larger than this is not served.
constexpr std::uint64_t maxPageFileBytes = 8 << 20;

bool sameSecret(const std::string& a, const std::string& b) {
    // Constant time for equal lengths: the comparison does not tell how much of a guess was right.
    if (a.size() != b.size()) {
        return false;
    }
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return difference == 0;
}

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

std::string trimmed(const std::string& text) {
    const std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos) {
        return "";
    }
    const std::size_t end = text.find_last_not_of(" \t");
    return text.substr(start, end + 1 - start);
}

std::string contentTypeOf(const std::string& path) {
    const std::size_t dot = path.find_last_of('.');
    const std::string extension = dot == std::string::npos ? "" : path.substr(dot + 1);
    if (extension == "html") {
        return "text/html; charset=utf-8";
    }
    if (extension == "js" || extension == "mjs") {
        return "text/javascript; charset=utf-8";
    }
    if (extension == "css") {
        return "text/css; charset=utf-8";
    }
    if (extension == "json") {
        return "application/json";
    }
    if (extension == "svg") {
        return "image/svg+xml";
    }
    if (extension == "png") {
        return "image/png";
    }
    if (extension == "ico") {
        return "image/x-icon";
    }
    return "";
}

// File names the page may have: letters, digits, '.', '-', '_', no leading dot.
bool servableName(const std::string& name) {
    if (name.empty() || name[0] == '.') {
        return false;
    }
    for (char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '.' || c == '-' || c == '_';
        if (!plain) {
            return false;
        }
    }
    return true;
}

const char* reasonOf(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 415:
        return "Unsupported Media Type";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Unknown";
    }
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string percentDecoded(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() + 0 && hexDigit(text[i + 1]) >= 0 &&
                   hexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

struct Request {
    std::string method;
    std::string path;
    std::map<std::string, std::string> query;
    bool http10 = false;
    // Header names in lower case, in the order received.
    std::vector<std::pair<std::string, std::string>> headers;
    std::size_t contentLength = 0;
    std::string body;

    std::size_t count(const std::string& name) const {
        return static_cast<std::size_t>(std::count_if(
            headers.begin(), headers.end(), [&](const auto& header) { return header.first == name; }));
    }
    bool has(const std::string& name) const { return count(name) > 0; }
    std::string header(const std::string& name) const {
        for (const auto& [key, value] : headers) {
            if (key == name) {
                return value;
            }
        }
        return "";
    }
    bool keepAlive() const {
        const std::string connection = lower(header("connection"));
        if (http10) {
            return connection.find("keep-alive") != std::string::npos;
        }
        return connection.find("close") == std::string::npos;
    }
};

// The request line and headers; false with the reason.
bool parseHead(const std::string& head, Request& request, std::string& problem) {
    std::size_t at = head.find("\r\n");
    const std::string line = head.substr(0, at);
    const std::size_t first = line.find(' ');
    const std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    if (second == std::string::npos || line.find(' ', second + 1) != std::string::npos) {
        problem = "malformed request line";
        return false;
    }
    request.method = line.substr(0, first);
    const std::string target = line.substr(first + 1, second - first - 1);
    const std::string version = line.substr(second + 1);
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        problem = "only HTTP/1.1 is spoken here";
        return false;
    }
    request.http10 = version == "HTTP/1.0";
    if (target.empty() || target[0] != '/') {
        problem = "the request target must be a path";
        return false;
    }
    const std::size_t question = target.find('?');
    request.path = target.substr(0, question);
    if (question != std::string::npos) {
        const std::string query = target.substr(question + 1);
        std::size_t start = 0;
        while (start <= query.size()) {
            std::size_t end = query.find('&', start);
            end = end == std::string::npos ? query.size() : end;
            const std::string pair = query.substr(start, end - start);
            if (!pair.empty()) {
                const std::size_t equals = pair.find('=');
                const std::string key = percentDecoded(pair.substr(0, equals));
                if (request.query.count(key) == 0) {
                    request.query[key] =
                        equals == std::string::npos ? "" : percentDecoded(pair.substr(equals + 1));
                }
            }
            start = end + 1;
        }
    }
    while (at != std::string::npos && at + 2 < head.size()) {
        const std::size_t next = head.find("\r\n", at + 2);
        const std::string field =
            head.substr(at + 2, next == std::string::npos ? std::string::npos : next - at - 2);
        at = next;
        const std::size_t colon = field.find(':');
        if (colon == std::string::npos || colon == 0 || field[0] == ' ' || field[0] == '\t' ||
            field.find_first_of(" \t") < colon) {
            problem = "malformed header line";
            return false;
        }
        request.headers.emplace_back(lower(field.substr(0, colon)), trimmed(field.substr(colon + 1)));
    }
    return true;
}

} // namespace

// Jobs on threads of their own; stopping drops the queued ones and waits for the running ones.
class EditWorkerPool {
public:
    void start(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            threads.emplace_back([this] { run(); });
        }
    }
    void post(std::function<void()> job) {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (stopping) {
                return;
            }
            jobs.push_back(std::move(job));
        }
        ready.notify_one();
    }
    void stop(const std::function<void()>& pump) {
        std::deque<std::function<void()>> dropped;
        {
            std::lock_guard<std::mutex> guard(lock);
            stopping = true;
            dropped.swap(jobs);
        }
        ready.notify_all();
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(lock);
                if (running == 0) {
                    break;
                }
            }
            if (pump) {
                pump();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        threads.clear();
    }

private:
    void run() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> guard(lock);
                ready.wait(guard, [this] { return stopping || !jobs.empty(); });
                if (stopping) {
                    return;
                }
                job = std::move(jobs.front());
                jobs.pop_front();
                ++running;
            }
            job();
            std::lock_guard<std::mutex> guard(lock);
            --running;
        }
    }

    std::mutex lock;
    std::condition_variable ready;
    std::deque<std::function<void()>> jobs;
    std::vector<std::thread> threads;
    int running = 0;
    bool stopping = false;
};

class EditConnection;

class EditServer::Impl {
public:
    Impl(EditServer& owner) : owner(owner), acceptor(io), streamTimer(io) {}

    void accept();
    void pumpStreams();
    void forget(const std::shared_ptr<EditConnection>& connection);

    EditService& service() { return owner.service; }
    const std::string& token() const { return owner.token; }
    int port() const { return owner.boundPort; }
    const std::map<std::string, std::string>& pageFiles() const { return owner.pageFiles; }

    EditServer& owner;
    asio::io_context io;
    Tcp::acceptor acceptor;
    asio::steady_timer streamTimer;
    std::thread network;
    EditWorkerPool quick;
    EditWorkerPool show;
    std::atomic<bool> stopping{false};
    // Network thread only.
    std::set<std::shared_ptr<EditConnection>> connections;
    std::set<std::shared_ptr<EditConnection>> streams;
    std::map<std::string, std::size_t> perClient;
};

class EditConnection : public std::enable_shared_from_this<EditConnection> {
public:
    EditConnection(EditServer::Impl& server, Tcp::socket socket, std::string client)
        : server(server), socket(std::move(socket)), timer(server.io), client(std::move(client)) {}

    const std::string& clientAddress() const { return client; }
    // Waiting for a request, or for the rest of its head, since then.
    bool waiting() const { return phase == Phase::Idle || phase == Phase::Head; }
    Clock::time_point waitingSince() const { return since; }

    void begin() {
        deadline(idleTime);
        read();
    }

    void close() {
        if (phase == Phase::Closed) {
            return;
        }
        phase = Phase::Closed;
        asio::error_code ignored;
        socket.shutdown(Tcp::socket::shutdown_both, ignored);
        socket.close(ignored);
        timer.cancel();
        if (subscriber) {
            server.service().events().unsubscribe(subscriber);
            subscriber.reset();
        }
        server.forget(shared_from_this());
    }

    // Network thread: hands an event stream what its subscriber holds.
    void pumpStream() {
        if (phase != Phase::Stream) {
            return;
        }
        std::string text;
        ServerEvent event;
        while (subscriber->next(event, std::chrono::milliseconds(0))) {
            text += "event: " + event.name + "\ndata: " + event.data + "\n\n";
        }
        if (ending) {
            return;
        }
        const bool ended = server.stopping || subscriber->closed();
        if (text.empty() && !ended && Clock::now() - lastSent >= streamKeepAlive) {
            text = ": keep-alive\n\n";
        }
        if (!text.empty()) {
            send(chunked ? chunkOf(text) : text);
        }
        if (ended) {
            ending = true;
            if (chunked) {
                send("0\r\n\r\n");
            }
            closeAfterWrite = true;
            if (!writing) {
                close();
            }
        }
    }

private:
    enum class Phase { Idle, Head, Body, Handling, Writing, Stream, Lingering, Closed };

    static std::string chunkOf(const std::string& text) {
        char size[20];
        std::snprintf(size, sizeof size, "%zx\r\n", text.size());
        return size + text + "\r\n";
    }

    void deadline(Clock::duration after) {
        since = Clock::now();
        const std::uint64_t generation = ++deadlineGeneration;
        timer.expires_after(after);
        timer.async_wait([self = shared_from_this(), generation](const asio::error_code& error) {
            if (!error && generation == self->deadlineGeneration) {
                self->close();
            }
        });
    }

    void noDeadline() {
        ++deadlineGeneration;
        timer.cancel();
    }

    void read() {
        if (reading || phase == Phase::Closed) {
            return;
        }
        reading = true;
        socket.async_read_some(asio::buffer(chunk),
                               [self = shared_from_this()](const asio::error_code& error, std::size_t got) {
                                   self->reading = false;
                                   self->onRead(error, got);
                               });
    }

    void onRead(const asio::error_code& error, std::size_t got) {
        if (phase == Phase::Closed) {
            return;
        }
        if (error) {
            // The client went away (or the server is closing).
            if (!writing || phase == Phase::Stream) {
                close();
            } else {
                closeAfterWrite = true;
            }
            return;
        }
        if (phase == Phase::Stream) {
            // A stream reads nothing more; a client that sends on regardless is dropped.
            lingered += got;
            if (lingered > maxHeadBytes) {
                close();
                return;
            }
            read();
            return;
        }
        if (phase == Phase::Lingering) {
            lingered += got;
            if (lingered > maxLingerBytes) {
                close();
                return;
            }
            read();
            return;
        }
        input.append(chunk.data(), got);
        process();
    }

    // Handles what has arrived: the head, then the body, then the request.
    void process() {
        if (phase == Phase::Idle) {
            if (input.empty()) {
                read();
                return;
            }
            phase = Phase::Head;
            deadline(headTime);
        }
        if (phase == Phase::Head) {
            const std::size_t end = input.find("\r\n\r\n");
            if (end == std::string::npos) {
                if (input.size() > maxHeadBytes) {
                    refuse(431,
                           "the request's head is larger than " + std::to_string(maxHeadBytes) + " bytes");
                    return;
                }
                read();
                return;
            }
            request = Request();
            std::string problem;
            const bool parsed = end <= maxHeadBytes && parseHead(input.substr(0, end), request, problem);
            input.erase(0, end + 4);
            if (!parsed) {
                refuse(end > maxHeadBytes ? 431 : 400,
                       problem.empty() ? "the request's head is too large" : problem);
                return;
            }
            if (!check()) {
                return;
            }
            phase = Phase::Body;
            deadline(bodyTime);
        }
        if (phase == Phase::Body) {
            if (input.size() < request.contentLength) {
                read();
                return;
            }
            request.body = input.substr(0, request.contentLength);
            input.erase(0, request.contentLength);
            phase = Phase::Handling;
            noDeadline();
            dispatch();
        }
    }

    // Every rule that the head alone decides, before any of the body is read. False when refused.
    bool check() {
        const std::string port = std::to_string(server.port());
        if (request.count("host") != 1) {
            refuse(400, "a request must have exactly one Host header");
            return false;
        }
        const std::string host = request.header("host");
        if (host != "127.0.0.1:" + port && host != "localhost:" + port) {
            refuse(403, "this server answers only to 127.0.0.1:" + port);
            return false;
        }
        if (request.has("origin")) {
            const std::string origin = request.header("origin");
            if (request.count("origin") != 1 ||
                (origin != "http://127.0.0.1:" + port && origin != "http://localhost:" + port)) {
                refuse(403, "requests from other origins are refused");
                return false;
            }
        }
        // Strangers learn nothing more: the token before anything else of an API request.
        const bool api = request.path.rfind("/api/", 0) == 0;
        if (api) {
            const auto query = request.query.find("token");
            const std::string given = request.has("x-velmora-token") ? request.header("x-velmora-token")
                                      : query != request.query.end() ? query->second
                                                                     : std::string();
            if (!sameSecret(given, server.token())) {
                refuse(401, "a valid token is needed (X-Velmora-Token or ?token=)");
                return false;
            }
        }
        if (request.has("transfer-encoding")) {
            refuse(411, "a body must come with a Content-Length (chunked bodies are not taken)");
            return false;
        }
        if (request.has("content-length")) {
            const std::string length = request.header("content-length");
            bool same = true;
            for (const auto& [key, value] : request.headers) {
                same = same && (key != "content-length" || value == length);
            }
            if (!same || length.empty() || length.size() > 12 ||
                length.find_first_not_of("0123456789") != std::string::npos) {
                refuse(400, "malformed Content-Length");
                return false;
            }
            request.contentLength = static_cast<std::size_t>(std::strtoull(length.c_str(), nullptr, 10));
            if (request.contentLength > EditServer::maxBodyBytes) {
                refuse(413, "the body is larger than 1 MiB");
                return false;
            }
        }
        if (api) {
            if (request.method == "PUT" || request.method == "POST") {
                const std::string type = request.header("content-type");
                if (lower(trimmed(type.substr(0, type.find(';')))) != "application/json") {
                    refuse(415, "the body must be application/json");
                    return false;
                }
            }
        } else if (request.method != "GET") {
            refuse(405, "the page's files are only read (GET)");
            return false;
        }
        return true;
    }

    // Answers and closes without reading what is left of the request.
    void refuse(int status, const std::string& message) {
        phase = Phase::Writing;
        noDeadline();
        answer(Reply::error(status, message), false);
    }

    void dispatch();

public:
    void answer(const Reply& reply, bool keepAlive) {
        if (phase == Phase::Closed) {
            return;
        }
        phase = Phase::Writing;
        closeAfterWrite = !keepAlive;
        std::string text = "HTTP/1.1 " + std::to_string(reply.status) + " " + reasonOf(reply.status) + "\r\n";
        if (!reply.contentType.empty()) {
            text += "Content-Type: " + reply.contentType + "\r\n";
        }
        text += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
        text += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n";
        text += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
        text += reply.body;
        deadline(writeTime);
        send(std::move(text));
    }

    void startStream(const std::string& firstState) {
        phase = Phase::Stream;
        noDeadline();
        subscriber = server.service().events().subscribe();
        chunked = !request.http10;
        std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
                           "X-Content-Type-Options: nosniff\r\n";
        head += chunked ? "Transfer-Encoding: chunked\r\n\r\n" : "Connection: close\r\n\r\n";
        const std::string first = "event: state\ndata: " + firstState + "\n\n";
        send(head + (chunked ? chunkOf(first) : first));
        server.streams.insert(shared_from_this());
        lingered = 0;
        read();
    }

private:
    void send(std::string bytes) {
        backlog += bytes.size();
        output.push_back(std::move(bytes));
        if (phase == Phase::Stream && backlog > maxStreamBacklog) {
            // A page that does not read its stream is dropped, not buffered for.
            close();
            return;
        }
        writeNext();
    }

    void writeNext() {
        if (writing || output.empty() || phase == Phase::Closed) {
            return;
        }
        writing = true;
        auto bytes = std::make_shared<std::string>(std::move(output.front()));
        output.pop_front();
        asio::async_write(socket, asio::buffer(*bytes),
                          [self = shared_from_this(), bytes](const asio::error_code& error, std::size_t) {
                              self->writing = false;
                              self->backlog -= bytes->size();
                              self->written(error);
                          });
    }

    void written(const asio::error_code& error) {
        if (phase == Phase::Closed) {
            return;
        }
        if (error) {
            close();
            return;
        }
        if (!output.empty()) {
            writeNext();
            return;
        }
        if (phase == Phase::Stream) {
            lastSent = Clock::now();
            if (closeAfterWrite) {
                close();
            }
            return;
        }
        if (closeAfterWrite) {
            // Read and drop the rest for a moment, so that the client reads the answer first.
            asio::error_code ignored;
            socket.shutdown(Tcp::socket::shutdown_send, ignored);
            phase = Phase::Lingering;
            lingered = 0;
            input.clear();
            deadline(lingerTime);
            read();
            return;
        }
        phase = Phase::Idle;
        deadline(idleTime);
        process();
    }

    EditServer::Impl& server;
    Tcp::socket socket;
    asio::steady_timer timer;
    std::string client;
    std::uint64_t deadlineGeneration = 0;
    Phase phase = Phase::Idle;
    Clock::time_point since = Clock::now();
    std::array<char, 8192> chunk{};
    std::string input;
    Request request;
    bool reading = false;
    bool writing = false;
    bool closeAfterWrite = false;
    std::deque<std::string> output;
    std::size_t backlog = 0;
    std::size_t lingered = 0;
    bool chunked = true;
    bool ending = false;
    std::shared_ptr<EventHub::Subscriber> subscriber;
    Clock::time_point lastSent = Clock::now();
};

namespace {

// A query parameter as a finite number.
bool numberParameter(const Request& request, const char* name, double& value, std::string& problem) {
    const auto found = request.query.find(name);
    if (found == request.query.end()) {
        problem = std::string("missing parameter \"") + name + "\"";
        return false;
    }
    const std::string& text = found->second;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value)) {
        problem = std::string("parameter \"") + name + "\" must be a finite number";
        return false;
    }
    return true;
}

bool parseBody(const std::string& text, nlohmann::json& body, std::string& problem) {
    try {
        body = nlohmann::json::parse(text);
        return true;
    } catch (const nlohmann::json::exception& error) {
        problem = std::string("malformed JSON: ") + error.what();
        return false;
    }
}

// The track name in "/api/tracks/NAME" + rest, when NAME is a plain word.
bool trackPath(const std::string& path, const std::string& rest, std::string& name) {
    const std::string prefix = "/api/tracks/";
    if (path.size() <= prefix.size() + rest.size() || path.compare(0, prefix.size(), prefix) != 0 ||
        path.compare(path.size() - rest.size(), rest.size(), rest) != 0) {
        return false;
    }
    name = path.substr(prefix.size(), path.size() - prefix.size() - rest.size());
    for (char c : name) {
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!plain) {
            return false;
        }
    }
    return true;
}

} // namespace

void EditConnection::dispatch() {
    EditService& service = server.service();
    const Request& r = request;
    const bool keepAlive = r.keepAlive();
    std::function<Reply()> work;
    bool waitsForShow = false;
    std::string name;

    if (r.method == "GET" && r.path == "/api/events") {
        startStream(service.state().body);
        return;
    }
    if (r.method == "GET" && r.path == "/api/state") {
        work = [&service] { return service.state(); };
    } else if (r.method == "POST" && r.path == "/api/transport") {
        waitsForShow = true;
        work = [&service, body = r.body] {
            nlohmann::json json;
            std::string problem;
            if (!parseBody(body, json, problem)) {
                return Reply::error(400, problem);
            }
            return service.transport(json);
        };
    } else if (r.method == "GET" && r.path == "/api/tracks") {
        work = [&service] { return service.tracks(); };
    } else if (r.method == "GET" && trackPath(r.path, "/values", name)) {
        double from = 0.0;
        double to = 0.0;
        double step = 0.0;
        std::string problem;
        if (!numberParameter(r, "from", from, problem) || !numberParameter(r, "to", to, problem) ||
            !numberParameter(r, "step", step, problem)) {
            work = [problem] { return Reply::error(400, problem); };
        } else {
            work = [&service, name, from, to, step] { return service.values(name, from, to, step); };
        }
    } else if (r.method == "GET" && trackPath(r.path, "", name)) {
        work = [&service, name] { return service.track(name); };
    } else if (r.method == "PUT" && trackPath(r.path, "", name)) {
        waitsForShow = true;
        work = [&service, name, body = r.body] {
            nlohmann::json json;
            std::string problem;
            if (!parseBody(body, json, problem)) {
                return Reply::error(400, problem);
            }
            return service.putTrack(name, json);
        };
    } else if (r.method == "GET" && r.path == "/api/audio/waveform") {
        double rows = 0.0;
        std::string problem;
        if (!numberParameter(r, "rowsPerBucket", rows, problem)) {
            work = [problem] { return Reply::error(400, problem); };
        } else {
            work = [&service, rows] { return service.waveform(rows); };
        }
    } else if (r.method == "GET" && r.path == "/api/audio/spectrum") {
        double row = 0.0;
        std::string problem;
        if (!numberParameter(r, "row", row, problem)) {
            work = [problem] { return Reply::error(400, problem); };
        } else {
            work = [&service, row] { return service.spectrum(row); };
        }
    } else if (r.method == "GET" && r.path == "/api/frame.png") {
        // ?width=W: a smaller picture for a preview (less to compress and to send).
        double width = 0.0;
        std::string problem;
        if (r.query.count("width") != 0 && (!numberParameter(r, "width", width, problem) ||
                                            width != std::floor(width) || width < 1 || width > 16384)) {
            work = [] {
                return Reply::error(400, "frame.png: \"width\" must be a whole number of pixels, 1 to 16384");
            };
        } else {
            waitsForShow = true;
            work = [&service, width] { return service.frame(static_cast<int>(width)); };
        }
    } else if (r.path.rfind("/api/", 0) == 0) {
        work = [] { return Reply::error(404, "no such resource"); };
    } else {
        // The page: only files found at start, and only while each is still a regular file (not a
        // link that could lead outside the page's folder).
        const auto file = server.pageFiles().find(r.path);
        if (file == server.pageFiles().end()) {
            work = [] { return Reply::error(404, "no such page file"); };
        } else {
            work = [path = file->second] {
                const FileInfo info = linkInfo(path);
                Reply reply;
                std::string problem;
                if (info.type != FileType::Regular || info.isLink) {
                    return Reply::error(404, "no such page file");
                }
                if (!readRegularFile(path, maxPageFileBytes, reply.body, problem)) {
                    return Reply::error(500, path + ": " + problem);
                }
                reply.contentType = contentTypeOf(path);
                return reply;
            };
        }
    }
    EditWorkerPool& pool = waitsForShow ? server.show : server.quick;
    asio::io_context& io = server.io;
    pool.post([self = shared_from_this(), work = std::move(work), keepAlive, &io] {
        Reply reply = work();
        asio::post(io, [self, reply = std::move(reply), keepAlive] { self->answer(reply, keepAlive); });
    });
}

void EditServer::Impl::accept() {
    acceptor.async_accept([this](const asio::error_code& error, Tcp::socket socket) {
        if (stopping || !acceptor.is_open()) {
            return;
        }
        if (!error) {
            asio::error_code problem;
            const Tcp::endpoint peer = socket.remote_endpoint(problem);
            const std::string client = problem ? std::string("?") : peer.address().to_string();
            if (connections.size() >= maxConnections || perClient[client] >= maxConnectionsPerClient) {
                // Over the bound: the client's connection that has waited longest without a whole
                // request makes room; with none such, the new one is closed before anything is read.
                std::shared_ptr<EditConnection> oldest;
                for (const std::shared_ptr<EditConnection>& connection : connections) {
                    if (connection->clientAddress() == client && connection->waiting() &&
                        (!oldest || connection->waitingSince() < oldest->waitingSince())) {
                        oldest = connection;
                    }
                }
                if (oldest) {
                    oldest->close();
                }
            }
            if (connections.size() >= maxConnections || perClient[client] >= maxConnectionsPerClient) {
                socket.close(problem);
            } else {
                socket.set_option(Tcp::no_delay(true), problem);
                auto connection = std::make_shared<EditConnection>(*this, std::move(socket), client);
                connections.insert(connection);
                ++perClient[client];
                connection->begin();
            }
        }
        accept();
    });
}

void EditServer::Impl::forget(const std::shared_ptr<EditConnection>& connection) {
    if (connections.erase(connection) != 0) {
        const auto count = perClient.find(connection->clientAddress());
        if (count != perClient.end() && --count->second == 0) {
            perClient.erase(count);
        }
    }
    streams.erase(connection);
}

void EditServer::Impl::pumpStreams() {
    streamTimer.expires_after(streamInterval);
    streamTimer.async_wait([this](const asio::error_code& error) {
        if (error || stopping) {
            return;
        }
        // A copy: a stream may end (and leave the set) while it is handed its events.
        const std::vector<std::shared_ptr<EditConnection>> open(streams.begin(), streams.end());
        for (const std::shared_ptr<EditConnection>& stream : open) {
            stream->pumpStream();
        }
        pumpStreams();
    });
}

Reply Reply::json(const nlohmann::json& value, int status) {
    Reply reply;
    reply.status = status;
    reply.body = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return reply;
}

Reply Reply::error(int status, const std::string& message) {
    return json(nlohmann::json{{"error", message}}, status);
}

EditServer::EditServer(EditService& service) : service(service) {}

EditServer::~EditServer() {
    stop();
}

std::string EditServer::makeToken() {
    unsigned char bytes[16];
    if (!randomBytes(bytes, sizeof bytes)) {
        throw Vexception("No random source for the edit server's token.");
    }
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

void EditServer::scanPage(const std::string& folder) {
    pageFiles.clear();
    if (folder.empty()) {
        return;
    }
    // The page's own files, up to three levels of subfolders deep, never through a link; tools and
    // tests of the page are not served.
    std::vector<std::pair<std::string, std::string>> pending = {{"", folder}};
    for (std::size_t depth = 0; depth < 4 && !pending.empty(); ++depth) {
        std::vector<std::pair<std::string, std::string>> next;
        for (const auto& [url, path] : pending) {
            for (const std::string& name : listDirectory(path)) {
                if (!servableName(name) || name == "node_modules" || name == "tests" ||
                    name == "package.json" || name == "package-lock.json" ||
                    name.rfind("playwright", 0) == 0) {
                    continue;
                }
                const std::string file = path + "/" + name;
                const FileInfo info = linkInfo(file);
                if (info.isLink) {
                    continue;
                }
                if (info.type == FileType::Directory) {
                    next.emplace_back(url + "/" + name, file);
                } else if (info.type == FileType::Regular && !contentTypeOf(name).empty()) {
                    pageFiles[url + "/" + name] = file;
                }
            }
        }
        pending.swap(next);
    }
    const auto index = pageFiles.find("/index.html");
    if (index != pageFiles.end()) {
        pageFiles["/"] = index->second;
    }
}

bool EditServer::start(const EditServerDesc& desc, std::string& error) {
    token = desc.token;
    scanPage(desc.pageFolder);
    impl = std::make_unique<Impl>(*this);
    asio::error_code problem;
    const Tcp::endpoint endpoint(asio::ip::make_address_v4("127.0.0.1"),
                                 static_cast<unsigned short>(desc.port));
    impl->acceptor.open(endpoint.protocol(), problem);
    if (!problem) {
        // Another program must not be able to listen on the same port beside us.
        prepareListeningSocket(static_cast<std::intptr_t>(impl->acceptor.native_handle()));
        impl->acceptor.bind(endpoint, problem);
    }
    if (!problem) {
        impl->acceptor.listen(asio::socket_base::max_listen_connections, problem);
    }
    if (problem) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(desc.port) + " (" + problem.message() + ")";
        impl.reset();
        return false;
    }
    boundPort = impl->acceptor.local_endpoint().port();
    impl->quick.start(quickWorkers);
    impl->show.start(showWorkers);
    impl->accept();
    impl->pumpStreams();
    Impl* server = impl.get();
    impl->network = std::thread([server] { server->io.run(); });
    return true;
}

void EditServer::stop(const std::function<void()>& pump) {
    if (!impl) {
        return;
    }
    impl->stopping = true;
    service.events().close();
    // Every connection ends at once, whatever it was doing; then the network thread.
    Impl* server = impl.get();
    asio::post(impl->io, [server] {
        asio::error_code ignored;
        server->acceptor.close(ignored);
        server->streamTimer.cancel();
        const std::vector<std::shared_ptr<EditConnection>> open(server->connections.begin(),
                                                                server->connections.end());
        for (const std::shared_ptr<EditConnection>& connection : open) {
            connection->close();
        }
        server->io.stop();
    });
    if (impl->network.joinable()) {
        impl->network.join();
    }
    impl->quick.stop(pump);
    impl->show.stop(pump);
    impl.reset();
}

} // namespace Velmora
