// What the two off-screen runs (TimedemoRun, CaptureRun) share: the invisible window of the run's
// size, the music without an audio device, the sync device and the plan of the frames; drawing one
// frame loop of the plan; and how they report (each message on standard error, "velmora: " first).
//
// It does not write anything: the runs decide what becomes of a frame.
#pragma once

#include "app/offline/CaptureOptions.h"
#include "capture/FramePlan.h"
#include "player/Player.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace Velmora {

namespace offline {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start);

// Ctrl-C or a termination request during a run stops it after the current frame, so that the
// outputs are closed properly instead of being cut off (see InterruptGuard).
bool interrupted();
// Why the run stopped early: the interruption, by name.
std::string interruption();

// One problem for a person on standard error, "velmora: " first.
void complain(const std::string& message);
// One line about the run for a person on standard error, as it is.
void tell(const std::string& line);
// Seconds with three decimals ("12.500").
std::string formatSeconds(double seconds);
// A number with `places` decimals ("14.3").
std::string decimals(double value, int places);
bool standardErrorIsTerminal();

// The data folder, checked before anything is made or drawn: an off-screen run of a show with a
// missing or unreadable file would report success for wrong pictures. Reports each error.
bool dataFolderReady();
// Every shader program of the show, once the show's objects are made, compiled and linked.
// Reports each one that is not.
bool shadersReady();

// Everything both runs share: the invisible window, GL, the offline music and the sync clock.
struct Stage {
    std::unique_ptr<Player> player;
    FramePlan plan;
};

// Opens the window, the music and the sync device, and plans the frames. Returns an empty string,
// or the reason why there is nothing to draw.
std::string setUp(const CaptureOptions& options, Stage& stage);

// The loop of both runs: the plan's frames at their exact music times, each advancing the show by
// one frame's time, into the player's off-screen target. The runs add their callbacks and output.
FrameLoop offlineLoop(const FramePlan& plan);

// Writes the music of the plan's span to `path` as 16-bit stereo WAV, once for the whole span
// (samples outside the music are silence); throws naming the file when it cannot be written.
void writeSpanAudio(const std::string& path, const FramePlan& plan);

} // namespace offline

} // namespace Velmora
