// Server-sent events from the drawing thread to every open event stream. Publishing never blocks
// on a slow reader: each subscriber has a bounded queue, and when it is full the oldest "state"
// event makes room (a newer state follows anyway).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Velmora {

struct ServerEvent {
    std::string name; // "state", "track", "error", "reloaded"
    std::string data; // one line of JSON
};

class EventHub {
public:
    class Subscriber {
    public:
        // Waits up to `timeout` for the next event; false on timeout or once the hub is closed.
        bool next(ServerEvent& event, std::chrono::milliseconds timeout);
        bool closed() const;

    private:
        friend class EventHub;
        mutable std::mutex lock;
        std::condition_variable ready;
        std::deque<ServerEvent> queue;
        bool isClosed = false;
    };

    static constexpr std::size_t queueLimit = 256;

    std::shared_ptr<Subscriber> subscribe();
    void unsubscribe(const std::shared_ptr<Subscriber>& subscriber);
    void publish(const std::string& name, const std::string& data);
    // Ends every stream; later subscribers start closed.
    void close();
    std::size_t subscriberCount() const;

private:
    mutable std::mutex lock;
    std::vector<std::shared_ptr<Subscriber>> subscribers;
    bool isClosed = false;
};

} // namespace Velmora
