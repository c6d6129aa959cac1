// The show's tracks as the edit mode keeps them: for each, a revision that changes whenever the
// track changes, and a snapshot (keys, description) that the server's threads read; the reload of
// a track's text source or compiled file; and the save of both files for an edit, with its
// rollback and the rule that refuses an edit made on an older revision (409).
//
// The keys the show plays live in the sync device; the store changes them only from the drawing
// thread. It reports what happened and leaves events, errors and the redraw to the session. No GL.
#pragma once

#include "edit/EditServer.h"
#include "edit/HotReload.h"
#include "sync/TrackData.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Velmora {

class SyncDevice;

class TrackStore {
public:
    struct Snapshot {
        std::int64_t revision = 0;
        std::vector<TrackKey> keys;
        // What the track's source says it does (its leading comment).
        std::string description;
    };

    // What a reload did.
    struct Reload {
        std::string file;               // the file reloaded, as shown
        bool changed = false;           // the keys were replaced: a new revision
        std::optional<EditError> error; // what is wrong with the files, if anything
    };

    TrackStore(SyncDevice& sync, HotReload& reload);

    // Drawing thread: a revision and snapshot for every track the show reads.
    void load();

    // Any thread: the track's snapshot as last published.
    Snapshot snapshot(const std::string& name) const;

    // Drawing thread: the track's source or compiled file changed on disk.
    Reload reloadSource(const std::string& name);
    Reload reloadCompiled(const std::string& name);

    // Drawing thread: an edit of the track's keys, made on `revision`. 409 when the track has
    // changed since; 500 when its files cannot be written (both stay as they were); otherwise the
    // keys are the show's and the reply names the new revision.
    Reply edit(const std::string& name, std::int64_t revision, const std::vector<TrackKey>& keys);

    // Drawing thread: the device's keys of the track changed; a new revision. Returns it.
    std::int64_t changed(const std::string& name);

    TrackStore(const TrackStore&) = delete;
    TrackStore& operator=(const TrackStore&) = delete;

private:
    // Writes the track's text source and compiled file; the previous files stay on failure.
    bool save(const std::string& name, const std::vector<TrackKey>& keys, std::string& error);

    SyncDevice& sync;
    HotReload& hotReload;
    std::int64_t nextRevision = 1;

    mutable std::mutex published;
    std::map<std::string, Snapshot> tracks;
};

} // namespace Velmora
