// Work handed from a server thread to the drawing thread, with a time limit that decides once and
// for all: either the work runs and its reply is returned, or it is refused (503) and never runs.
// A request answered "the show did not answer in time" must not change the show afterwards.
#pragma once

#include "edit/EditServer.h"

#include <chrono>
#include <functional>

namespace Velmora {

namespace DrawingCall {

// How long a request waits for the drawing thread to take up its work (a warm-up in software GL at
// a large size takes about half a second).
constexpr std::chrono::milliseconds answerTime{2000};

// Hands `work` to `post` (which queues it for the drawing thread and wakes it) and waits. When the
// drawing thread has not started the work within `limit`, the work is withdrawn and 503 returned;
// once started, it is waited for to its end.
Reply run(const std::function<void(std::function<void()>)>& post, std::function<Reply()> work,
          std::chrono::milliseconds limit = answerTime);

} // namespace DrawingCall

} // namespace Velmora
