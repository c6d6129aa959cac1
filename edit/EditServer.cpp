#include "edit/EditServer.h"

#include "base/Files.h"
#include "base/Platform.h"
#include "base/Vexception.h"

#include <httplib.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace Velmora {

namespace {

// Streams and requests of a few editors at once; each open event stream holds one thread.
constexpr std::size_t serverThreads = 16;
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

void send(httplib::Response& response, const Reply& reply) {
    response.status = reply.status;
    response.set_header("Cache-Control", "no-store");
    response.set_header("X-Content-Type-Options", "nosniff");
    response.set_content(reply.body, reply.contentType.c_str());
}

// A query parameter as a finite number.
bool numberParameter(const httplib::Request& request, const char* name, double& value, std::string& problem) {
    if (!request.has_param(name)) {
        problem = std::string("missing parameter \"") + name + "\"";
        return false;
    }
    const std::string text = request.get_param_value(name);
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value)) {
        problem = std::string("parameter \"") + name + "\" must be a finite number";
        return false;
    }
    return true;
}

bool isJson(const httplib::Request& request) {
    const std::string type = request.get_header_value("Content-Type");
    const std::string plain = type.substr(0, type.find(';'));
    return plain == "application/json";
}

} // namespace

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
    // The page's own files, up to three levels of subfolders deep; tools and tests of the page are not
    // served.
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
                const FileInfo info = fileInfo(file);
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
    server = std::make_unique<httplib::Server>();
    server->new_task_queue = [] { return new httplib::ThreadPool(serverThreads); };
    server->set_payload_max_length(maxBodyBytes);
    server->set_keep_alive_max_count(1000);
    // Small answers go out at once, not after the peer's delayed acknowledgement.
    server->set_tcp_nodelay(true);
    // Another program must not be able to listen on the same port beside us.
    server->set_socket_options(
        [](socket_t socket) { prepareListeningSocket(static_cast<std::intptr_t>(socket)); });
    route();
    const int bound = desc.port == 0 ? server->bind_to_any_port("127.0.0.1") : desc.port;
    if (desc.port != 0 && !server->bind_to_port("127.0.0.1", desc.port)) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(desc.port) + " (Address already in use?)";
        server.reset();
        return false;
    }
    if (bound <= 0) {
        error = "cannot listen on 127.0.0.1";
        server.reset();
        return false;
    }
    boundPort = bound;
    listener = std::thread([this] { server->listen_after_bind(); });
    // Requests are accepted once the listening thread runs.
    for (int i = 0; i < 2000 && !server->is_running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void EditServer::stop() {
    if (!server) {
        return;
    }
    stopping = true;
    service.events().close();
    server->stop();
    if (listener.joinable()) {
        listener.join();
    }
    server.reset();
}

std::string EditServer::refusal(const httplib::Request& request, bool api) const {
    const std::string port = std::to_string(boundPort);
    const std::string host = request.get_header_value("Host");
    if (host != "127.0.0.1:" + port && host != "localhost:" + port) {
        return "this server answers only to 127.0.0.1:" + port;
    }
    if (request.has_header("Origin")) {
        const std::string origin = request.get_header_value("Origin");
        if (origin != "http://127.0.0.1:" + port && origin != "http://localhost:" + port) {
            return "requests from other origins are refused";
        }
    }
    (void)api;
    return "";
}

std::function<void(const httplib::Request&, httplib::Response&)>
EditServer::guarded(std::function<void(const httplib::Request&, httplib::Response&)> handler) {
    // Runs once the body has been read, so that a refused request leaves nothing unread on a
    // kept-alive connection.
    return [this, handler](const httplib::Request& request, httplib::Response& response) {
        const std::string problem = refusal(request, true);
        if (!problem.empty()) {
            send(response, Reply::error(403, problem));
            return;
        }
        const std::string given = request.has_header("X-Velmora-Token")
                                      ? request.get_header_value("X-Velmora-Token")
                                      : request.get_param_value("token");
        if (!sameSecret(given, token)) {
            send(response, Reply::error(401, "a valid token is needed (X-Velmora-Token or ?token=)"));
            return;
        }
        if ((request.method == "PUT" || request.method == "POST") && !isJson(request)) {
            send(response, Reply::error(415, "the body must be application/json"));
            return;
        }
        handler(request, response);
    };
}

void EditServer::route() {
    httplib::Server& s = *server;

    // The page's files: only the Host and Origin rules (they carry no body that could be left
    // unread on the connection).
    s.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        if (request.path.rfind("/api/", 0) == 0) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        const std::string problem = refusal(request, false);
        if (!problem.empty()) {
            send(response, Reply::error(403, problem));
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });

    // Bodies over the limit: httplib answers 413 before any handler; give it a JSON body too.
    s.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.body.empty()) {
            const char* message = response.status == 413   ? "the body is larger than 1 MiB"
                                  : response.status == 404 ? "no such resource"
                                                           : "the request could not be served";
            response.set_content(Reply::error(response.status, message).body, "application/json");
        }
    });

    const auto parseBody = [](const httplib::Request& request, nlohmann::json& body, std::string& problem) {
        try {
            body = nlohmann::json::parse(request.body);
            return true;
        } catch (const nlohmann::json::exception& error) {
            problem = std::string("malformed JSON: ") + error.what();
            return false;
        }
    };

    s.Get("/api/state", guarded([this](const httplib::Request&, httplib::Response& response) {
              send(response, service.state());
          }));

    s.Post("/api/transport",
           guarded([this, parseBody](const httplib::Request& request, httplib::Response& response) {
               nlohmann::json body;
               std::string problem;
               if (!parseBody(request, body, problem)) {
                   send(response, Reply::error(400, problem));
                   return;
               }
               send(response, service.transport(body));
           }));

    s.Get("/api/tracks", guarded([this](const httplib::Request&, httplib::Response& response) {
              send(response, service.tracks());
          }));

    s.Get(R"(/api/tracks/([A-Za-z0-9_]+))",
          guarded([this](const httplib::Request& request, httplib::Response& response) {
              send(response, service.track(request.matches[1]));
          }));

    s.Put(R"(/api/tracks/([A-Za-z0-9_]+))",
          guarded([this, parseBody](const httplib::Request& request, httplib::Response& response) {
              nlohmann::json body;
              std::string problem;
              if (!parseBody(request, body, problem)) {
                  send(response, Reply::error(400, problem));
                  return;
              }
              send(response, service.putTrack(request.matches[1], body));
          }));

    s.Get(R"(/api/tracks/([A-Za-z0-9_]+)/values)",
          guarded([this](const httplib::Request& request, httplib::Response& response) {
              double from = 0.0;
              double to = 0.0;
              double step = 0.0;
              std::string problem;
              if (!numberParameter(request, "from", from, problem) ||
                  !numberParameter(request, "to", to, problem) ||
                  !numberParameter(request, "step", step, problem)) {
                  send(response, Reply::error(400, problem));
                  return;
              }
              send(response, service.values(request.matches[1], from, to, step));
          }));

    s.Get("/api/audio/waveform",
          guarded([this](const httplib::Request& request, httplib::Response& response) {
              double rows = 0.0;
              std::string problem;
              if (!numberParameter(request, "rowsPerBucket", rows, problem)) {
                  send(response, Reply::error(400, problem));
                  return;
              }
              send(response, service.waveform(rows));
          }));

    s.Get("/api/audio/spectrum",
          guarded([this](const httplib::Request& request, httplib::Response& response) {
              double row = 0.0;
              std::string problem;
              if (!numberParameter(request, "row", row, problem)) {
                  send(response, Reply::error(400, problem));
                  return;
              }
              send(response, service.spectrum(row));
          }));

    s.Get("/api/frame.png", guarded([this](const httplib::Request& request, httplib::Response& response) {
              // ?width=W: a smaller picture for a preview (less to compress and to send).
              double width = 0.0;
              std::string problem;
              if (request.has_param("width") && (!numberParameter(request, "width", width, problem) ||
                                                 width != std::floor(width) || width < 1 || width > 16384)) {
                  send(
                      response,
                      Reply::error(400, "frame.png: \"width\" must be a whole number of pixels, 1 to 16384"));
                  return;
              }
              send(response, service.frame(static_cast<int>(width)));
          }));

    s.Get("/api/events", guarded([this](const httplib::Request&, httplib::Response& response) {
              std::shared_ptr<EventHub::Subscriber> subscriber = service.events().subscribe();
              // The current state first, so that a page is up to date as soon as it listens.
              const Reply now = service.state();
              response.set_header("Cache-Control", "no-store");
              response.set_chunked_content_provider(
                  "text/event-stream",
                  [this, subscriber, first = now.body, sentFirst = false](size_t,
                                                                          httplib::DataSink& sink) mutable {
                      if (!sentFirst) {
                          sentFirst = true;
                          const std::string text = "event: state\ndata: " + first + "\n\n";
                          return sink.write(text.data(), text.size());
                      }
                      ServerEvent event;
                      if (subscriber->next(event, std::chrono::milliseconds(250))) {
                          const std::string text = "event: " + event.name + "\ndata: " + event.data + "\n\n";
                          return sink.write(text.data(), text.size());
                      }
                      if (stopping || subscriber->closed()) {
                          sink.done();
                          return true;
                      }
                      // A comment now and then finds out whether the page is still there.
                      static const std::string keepAlive = ": keep-alive\n\n";
                      return sink.write(keepAlive.data(), keepAlive.size());
                  },
                  [this, subscriber](bool) { service.events().unsubscribe(subscriber); });
          }));

    // Anything else under /api/: the same rules first, so that nothing tells a stranger what exists.
    const auto unknown = guarded([](const httplib::Request&, httplib::Response& response) {
        send(response, Reply::error(404, "no such resource"));
    });
    s.Get(R"(/api/.*)", unknown);
    s.Post(R"(/api/.*)", unknown);
    s.Put(R"(/api/.*)", unknown);
    s.Delete(R"(/api/.*)", unknown);
    s.Patch(R"(/api/.*)", unknown);

    // The page: only files found at start, read when asked for.
    s.Get(R"(/.*)", [this](const httplib::Request& request, httplib::Response& response) {
        const auto file = pageFiles.find(request.path);
        if (file == pageFiles.end()) {
            send(response, Reply::error(404, "no such page file"));
            return;
        }
        Reply reply;
        std::string problem;
        if (!readRegularFile(file->second, maxPageFileBytes, reply.body, problem)) {
            send(response, Reply::error(500, file->second + ": " + problem));
            return;
        }
        reply.contentType = contentTypeOf(file->second);
        send(response, reply);
    });
}

} // namespace Velmora
