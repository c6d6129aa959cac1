#include "edit/DrawingCall.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace Velmora {

namespace DrawingCall {

namespace {

struct Call {
    enum class State { Waiting, Running, Done, Withdrawn };
    std::mutex lock;
    std::condition_variable changed;
    State state = State::Waiting;
    Reply reply;
};

} // namespace

Reply run(const std::function<void(std::function<void()>)>& post, std::function<Reply()> work,
          std::chrono::milliseconds limit) {
    auto call = std::make_shared<Call>();
    post([call, work = std::move(work)] {
        {
            std::lock_guard<std::mutex> guard(call->lock);
            if (call->state != Call::State::Waiting) {
                return; // answered 503 already: it must not happen now
            }
            call->state = Call::State::Running;
        }
        Reply reply;
        try {
            reply = work();
        } catch (const std::exception& error) {
            reply = Reply::error(500, std::string("the show failed: ") + error.what());
        }
        {
            std::lock_guard<std::mutex> guard(call->lock);
            call->reply = std::move(reply);
            call->state = Call::State::Done;
        }
        call->changed.notify_all();
    });
    std::unique_lock<std::mutex> guard(call->lock);
    if (!call->changed.wait_for(guard, limit, [&] { return call->state != Call::State::Waiting; })) {
        call->state = Call::State::Withdrawn;
        return Reply::error(503, "the show did not answer in time; nothing was changed");
    }
    // Started in time: its answer is the one that counts, however long it takes.
    call->changed.wait(guard, [&] { return call->state == Call::State::Done; });
    return std::move(call->reply);
}

} // namespace DrawingCall

} // namespace Velmora
