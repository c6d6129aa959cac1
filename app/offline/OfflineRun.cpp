#include "app/offline/OfflineRun.h"

#include "app/farm/FarmRun.h"
#include "app/offline/CaptureRun.h"
#include "app/offline/OfflineStage.h"
#include "app/offline/TimedemoRun.h"

#include <string>

namespace Velmora {

using namespace offline;

int runOffline(const CaptureOptions& options) {
    std::string problem = checkCaptureOptions(options);
    if (!problem.empty()) {
        complain(problem);
        return offlineRefused;
    }
    // Everything that can be known without drawing is checked before anything is made: the outputs,
    // then the data folder.
    problem = checkCaptureOutput(options);
    if (!problem.empty()) {
        complain(problem);
        return offlineRefused;
    }
    if (!dataFolderReady()) {
        return offlineFailed;
    }
    switch (options.mode) {
    case OfflineMode::Capture:
        return options.chunkCount > 0 ? runChunk(options) : runCapture(options);
    case OfflineMode::Assemble:
        return runAssemble(options);
    case OfflineMode::Timedemo:
        return runTimedemo(options);
    case OfflineMode::None:
        break;
    }
    return offlineDone;
}

} // namespace Velmora
