#include "sync/SyncDevice.h"

#include "base/Vexception.h"
#include "sync/TrackFile.h"

#include <cstring>
#include <new>
#include <utility>

namespace Velmora {

namespace {

double rowZero() {
    return 0.0;
}

SyncDevice& createInstance() {
    try {
        // A function-local static: created on first use, destroyed at process exit in the reverse
        // order of creation relative to the other single instances.
        static SyncDevice device;
        return device;
    } catch (const std::bad_alloc&) {
        throw Vexception("Failed to create sync device.");
    }
}

} // namespace

SyncDevice& SyncDevice::instance() {
    return createInstance();
}

SyncDevice::SyncDevice(std::string basePath, TrackFileCallbacks files)
    : base(std::move(basePath)), files(files), rowSource(rowZero) {}

TrackData* SyncDevice::getTrack(const char* name) {
    if (name == nullptr) {
        name = "";
    }
    for (const std::unique_ptr<TrackData>& track : tracks) {
        if (std::strcmp(track->name.c_str(), name) == 0) {
            return track.get();
        }
    }

    auto track = std::make_unique<TrackData>();
    track->name = name;
    tracks.push_back(std::move(track));
    reload(name);
    return tracks.back().get();
}

TrackData* SyncDevice::findTrack(const std::string& name) const {
    for (const std::unique_ptr<TrackData>& track : tracks) {
        if (track->name == name) {
            return track.get();
        }
    }
    return nullptr;
}

void SyncDevice::setKeys(const std::string& name, std::vector<TrackKey> keys) {
    TrackData* track = getTrack(name.c_str());
    track->keys = TrackFile::sortKeys(std::move(keys));
}

void SyncDevice::reload(const std::string& name) {
    TrackData* track = findTrack(name);
    if (track == nullptr) {
        getTrack(name.c_str());
        return;
    }
    TrackFile::Contents contents;
    const std::string path = trackPath(name);
    track->keys.clear();
    if (TrackFile::read(files, path.c_str(), contents)) {
        track->keys = TrackFile::sortKeys(std::move(contents.keys));
    }
}

double SyncDevice::row() const {
    return rowSource();
}

void SyncDevice::setRowSource(std::function<double()> source) {
    rowSource = source ? std::move(source) : std::function<double()>(rowZero);
}

} // namespace Velmora
