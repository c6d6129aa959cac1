// The entry of the two off-screen runs of the show with the offline clock (TimedemoRun and
// CaptureRun, on what OfflineStage sets up for both):
//  - capture: every frame drawn at its exact music time and written as a video (through ffmpeg,
//    with the music of the same span) or as numbered PNG frames plus audio.wav;
//  - timedemo: every frame drawn as fast as possible and timed (the performance benchmark).
//
// Both open an invisible window of the run's size, the music without an audio device, and draw
// the frame's last pass into an off-screen target of exactly that size. They do not play sound,
// do not swap buffers and do not depend on the size of the screen.
#pragma once

#include "app/offline/CaptureOptions.h"

#include <string>

namespace Velmora {

// Exit statuses of an offline run.
constexpr int offlineDone = 0;
constexpr int offlineFailed = 1;  // failed midway; what was written stays valid
constexpr int offlineRefused = 2; // refused before rendering; nothing was created

// Checks the options, the outputs and the data folder, then runs options.mode (Capture or
// Timedemo) and returns the exit status. Messages go to standard
// error, each starting with "velmora: "; the timedemo report goes to standard output.
int runOffline(const CaptureOptions& options);

} // namespace Velmora
