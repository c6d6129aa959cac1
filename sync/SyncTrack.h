// Handle to one named track of a sync device. The handle owns nothing: copies share the track,
// and the device keeps the track alive until it is destroyed itself.
#pragma once

#include "sync/SyncDevice.h"
#include "sync/TrackData.h"

namespace Velmora {

class SyncTrack {
public:
    // The track of that name from SyncDevice::instance(); its file is read on the first request.
    explicit SyncTrack(const char* name);
    // The track of that name from `device`, which must outlive the handle.
    SyncTrack(SyncDevice& device, const char* name);

    // The track's value at the device's current row, read anew at every call.
    double value() const;

    const TrackData& data() const { return *track; }

private:
    SyncDevice* device;
    TrackData* track;
};

} // namespace Velmora
