// The registry of sync tracks: each named track is read from its file on first request and then
// stays at the same address until the device is destroyed. Its keys change only when the owner
// says so (live editing: setKeys, reload), so every handle stays valid.
//
// Track file of the track NAME: basePath + "_" + NAME + ".track" (names used unchanged,
// case-sensitive). A file that is missing or unreadable gives a track without keys, silently.
// The device only reads files, through its TrackFileCallbacks table.
//
// The device also carries the time base of the tracks, the current sync row, through an injected
// row source: this keeps sync/ free of the audio code. The entry point wires the process-wide
// device to the music clock; until then the row is 0.
#pragma once

#include "sync/TrackData.h"
#include "sync/TrackFileCallbacks.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Velmora {

class SyncDevice {
public:
    static constexpr const char* defaultBasePath = "./data/science/sync";

    // The process-wide device reading from defaultBasePath; the first call creates it, and it is
    // released at process exit. Throws Vexception "Failed to create sync device." when it cannot
    // be allocated.
    static SyncDevice& instance();

    // A device of its own (tests, tools); `instance()` is the one the program uses.
    explicit SyncDevice(std::string basePath = defaultBasePath, TrackFileCallbacks files = {});

    SyncDevice(const SyncDevice&) = delete;
    SyncDevice& operator=(const SyncDevice&) = delete;

    // The track of that name, loaded on the first request; never null. A null name is taken as
    // the empty name.
    TrackData* getTrack(const char* name);
    // The track of that name if it has been requested, otherwise null; loads nothing.
    TrackData* findTrack(const std::string& name) const;
    // Replaces the track's keys (sorted by row, the last of equal rows kept); requests the track
    // first when needed. Handles to it stay valid.
    void setKeys(const std::string& name, std::vector<TrackKey> keys);
    // Reads the track's file again (missing or unreadable: no keys). Handles stay valid.
    void reload(const std::string& name);
    // The file the track of that name is read from.
    std::string trackPath(const std::string& name) const { return base + "_" + name + ".track"; }

    // The current sync row, as given by the row source.
    double row() const;
    // Replaces the row source; an empty function restores the default, which answers 0.0.
    void setRowSource(std::function<double()> source);

    const std::string& basePath() const { return base; }
    std::size_t trackCount() const { return tracks.size(); }

private:
    std::string base;
    std::vector<std::unique_ptr<TrackData>> tracks; // in creation order
    TrackFileCallbacks files;
    std::function<double()> rowSource;
};

} // namespace Velmora
