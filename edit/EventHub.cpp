#include "edit/EventHub.h"

#include <algorithm>

namespace Velmora {

bool EventHub::Subscriber::next(ServerEvent& event, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(lock);
    ready.wait_for(guard, timeout, [this] { return isClosed || !queue.empty(); });
    if (isClosed || queue.empty()) {
        return false;
    }
    event = std::move(queue.front());
    queue.pop_front();
    return true;
}

bool EventHub::Subscriber::closed() const {
    std::lock_guard<std::mutex> guard(lock);
    return isClosed;
}

std::shared_ptr<EventHub::Subscriber> EventHub::subscribe() {
    auto subscriber = std::make_shared<Subscriber>();
    std::lock_guard<std::mutex> guard(lock);
    subscriber->isClosed = isClosed;
    subscribers.push_back(subscriber);
    return subscriber;
}

void EventHub::unsubscribe(const std::shared_ptr<Subscriber>& subscriber) {
    std::lock_guard<std::mutex> guard(lock);
    subscribers.erase(std::remove(subscribers.begin(), subscribers.end(), subscriber), subscribers.end());
}

void EventHub::publish(const std::string& name, const std::string& data) {
    std::lock_guard<std::mutex> guard(lock);
    for (const std::shared_ptr<Subscriber>& subscriber : subscribers) {
        {
            std::lock_guard<std::mutex> queued(subscriber->lock);
            std::deque<ServerEvent>& queue = subscriber->queue;
            if (queue.size() >= queueLimit) {
                auto oldestState =
                    std::find_if(queue.begin(), queue.end(), [](const ServerEvent& e) { return e.name == "state"; });
                queue.erase(oldestState != queue.end() ? oldestState : queue.begin());
            }
            queue.push_back({name, data});
        }
        subscriber->ready.notify_one();
    }
}

void EventHub::close() {
    std::lock_guard<std::mutex> guard(lock);
    isClosed = true;
    for (const std::shared_ptr<Subscriber>& subscriber : subscribers) {
        {
            std::lock_guard<std::mutex> queued(subscriber->lock);
            subscriber->isClosed = true;
        }
        subscriber->ready.notify_all();
    }
}

std::size_t EventHub::subscriberCount() const {
    std::lock_guard<std::mutex> guard(lock);
    return subscribers.size();
}

} // namespace Velmora
