// The capture: every frame of the plan drawn at its exact music time and written as a video
// (through ffmpeg, with the music of the same span) or as numbered PNG frames plus audio.wav.
//
// It does not play sound or swap buffers; frames are read back from the off-screen target.
#pragma once

#include "app/offline/CaptureOptions.h"

namespace Velmora {

// Runs with options already checked (runOffline); returns an exit status of OfflineRun.h.
int runCapture(const CaptureOptions& options);

} // namespace Velmora
