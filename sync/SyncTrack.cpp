#include "sync/SyncTrack.h"

namespace Velmora {

SyncTrack::SyncTrack(const char* name) : SyncTrack(SyncDevice::instance(), name) {}

SyncTrack::SyncTrack(SyncDevice& device, const char* name) : device(&device), track(device.getTrack(name)) {}

double SyncTrack::value() const {
    return valueAt(*track, device->row());
}

} // namespace Velmora
