// The show's tracks as the edit mode keeps them: for each, a revision that changes whenever the
// track changes, and a snapshot (keys, description) that the server's threads read; the reload of
// a track's text source or compiled file; and the save of both files for an edit.
//
// A save is a compare-and-swap against the disk: the store remembers what each track's source and
// compiled file held when it last read or wrote them, and an edit whose files changed since (an
// editor's save the watcher has not reported yet) is refused (409) and the new files loaded. A
// broken or unreadable file keeps the running keys and is reported; while a track's source is
// broken, edits of the track are refused, so that no source is ever written from keys that did not
// come from its current text. Both files are written in full beside their targets before either
// replaces anything, and a failure between the two renames puts the old source back, so that the
// two files always agree (or the disagreement is reported, naming both).
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
        bool changed = false;           // the track changed: a new revision
        std::optional<EditError> error; // what is wrong now (error->file names the file)
        std::vector<std::string> fine;  // files (as shown) found fine: their errors are gone
    };

    // What an edit did: its answer (200, 409, 500) and the reloads it made on the way, which the
    // session announces before the answer is sent.
    struct EditResult {
        int status = 200;
        std::string message;
        std::string file; // 409 for a broken file: the file to fix, as shown
        int line = 0;
        std::vector<Reload> reloads;
    };

    // The suffix of the temporary files of a save (removed at the next start when a save was killed).
    static constexpr const char* temporarySuffix = ".velmora-save";

    TrackStore(SyncDevice& sync, HotReload& reload);

    // Drawing thread: a revision and snapshot for every track the show reads; removes the temporary
    // files a killed save left. Returns the problems of the files found (a broken source or compiled
    // file).
    std::vector<Reload> load();

    // Any thread: the track's snapshot as last published.
    Snapshot snapshot(const std::string& name) const;

    // Drawing thread: the track's source or compiled file changed on disk.
    Reload reloadSource(const std::string& name);
    Reload reloadCompiled(const std::string& name);

    // Drawing thread: an edit of the track's keys, made on `revision`. 409 when the track or its
    // files changed since, or its source is broken on disk; 500 when its files cannot be written
    // (both stay as they were, or the reply says they disagree); otherwise the keys are the show's.
    EditResult edit(const std::string& name, std::int64_t revision, const std::vector<TrackKey>& keys);

    // Drawing thread: the device's keys of the track changed; a new revision. Returns it.
    std::int64_t changed(const std::string& name);

    TrackStore(const TrackStore&) = delete;
    TrackStore& operator=(const TrackStore&) = delete;

private:
    // A file as last seen: missing, unreadable (with why), or its bytes.
    struct Seen {
        bool exists = false;
        bool readable = false;
        std::string bytes;
        std::string problem;
        bool same(const Seen& other) const {
            return exists == other.exists && readable == other.readable && bytes == other.bytes;
        }
    };
    struct Disk {
        Seen source;
        Seen compiled;
        std::optional<EditError> sourceError;
    };

    static Seen look(const std::string& path);
    // Writes both files; false with the reply's status and message when it could not.
    bool save(const std::string& name, const std::vector<TrackKey>& keys, EditResult& result);
    void publishKeys(const std::string& name, const std::string* sourceText);

    SyncDevice& sync;
    HotReload& hotReload;
    std::int64_t nextRevision = 1;
    // Drawing thread only.
    std::map<std::string, Disk> disk;

    mutable std::mutex published;
    std::map<std::string, Snapshot> tracks;
};

} // namespace Velmora
