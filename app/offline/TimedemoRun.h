// The timedemo: every frame of the plan drawn as fast as possible with the offline clock and
// timed until the GPU has finished it; the report (median, percentiles) on standard output and,
// when asked, as JSON in a file.
//
// It does not write pictures or sound.
#pragma once

#include "app/offline/CaptureOptions.h"

namespace Velmora {

// Runs with options already checked (runOffline); returns an exit status of OfflineRun.h.
int runTimedemo(const CaptureOptions& options);

} // namespace Velmora
