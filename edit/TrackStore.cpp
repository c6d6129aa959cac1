#include "edit/TrackStore.h"

#include "base/Files.h"
#include "base/Logger.h"
#include "edit/TrackSource.h"
#include "sync/SyncDevice.h"
#include "sync/TrackFile.h"
#include "sync/TrackText.h"

#include <cstdio>

namespace Velmora {

namespace {

using Json = nlohmann::json;

// Track files larger than this are not read (a real track is a few kilobytes).
constexpr std::uint64_t maxTrackFileBytes = 64ull << 20;

} // namespace

TrackStore::TrackStore(SyncDevice& sync, HotReload& reload) : sync(sync), hotReload(reload) {}

void TrackStore::load() {
    std::lock_guard<std::mutex> guard(published);
    for (const std::string& name : TrackSource::trackNames()) {
        Snapshot& track = tracks[name];
        track.revision = nextRevision++;
        track.keys = sync.getTrack(name.c_str())->keys;
        std::string text;
        std::string problem;
        if (readRegularFile(TrackSource::sourcePath(name), maxTrackFileBytes, text, problem)) {
            track.description = TrackSource::description(name, text);
        }
    }
}

TrackStore::Snapshot TrackStore::snapshot(const std::string& name) const {
    std::lock_guard<std::mutex> guard(published);
    const auto track = tracks.find(name);
    return track != tracks.end() ? track->second : Snapshot();
}

std::int64_t TrackStore::changed(const std::string& name) {
    const std::int64_t revision = nextRevision++;
    std::lock_guard<std::mutex> guard(published);
    Snapshot& track = tracks[name];
    track.revision = revision;
    track.keys = sync.getTrack(name.c_str())->keys;
    return revision;
}

TrackStore::Reload TrackStore::reloadSource(const std::string& name) {
    const std::string source = TrackSource::sourcePath(name);
    Reload result;
    result.file = shownPath(source);
    std::string text;
    std::string problem;
    if (!readRegularFile(source, maxTrackFileBytes, text, problem)) {
        // Removed or replaced by something else: the running keys stay.
        result.error = EditError{shownPath(source), 0, problem};
        return result;
    }
    const TrackText::Result parsed = TrackText::parse(text);
    if (!parsed.ok()) {
        for (const TrackText::Message& message : parsed.messages) {
            if (message.error) {
                result.error = EditError{shownPath(source), message.line, message.text};
                break;
            }
        }
        return result;
    }
    std::vector<TrackKey> keys = TrackFile::sortKeys(parsed.keys);
    const std::vector<unsigned char> image = TrackFile::encode(keys);
    const std::string bytes(image.begin(), image.end());
    const std::string compiled = TrackSource::compiledPath(name);
    hotReload.rememberOwnWrite(compiled, bytes);
    if (!writeFileReplacing(compiled, bytes, problem)) {
        hotReload.forgetOwnWrite(compiled);
        result.error = EditError{shownPath(compiled), 0, "cannot write: " + problem};
        return result;
    }
    sync.setKeys(name, std::move(keys));
    {
        std::lock_guard<std::mutex> guard(published);
        tracks[name].description = TrackSource::description(name, text);
    }
    result.changed = true;
    return result;
}

TrackStore::Reload TrackStore::reloadCompiled(const std::string& name) {
    sync.reload(name);
    Reload result;
    result.file = shownPath(TrackSource::compiledPath(name));
    result.changed = true;
    return result;
}

Reply TrackStore::edit(const std::string& name, std::int64_t revision, const std::vector<TrackKey>& keys) {
    // Only the drawing thread changes the tracks, so what it published is current.
    const std::int64_t current = snapshot(name).revision;
    if (revision != current) {
        return Reply::json(
            Json{{"error", name + " was changed elsewhere (revision " + std::to_string(current) + ")"},
                 {"revision", current}},
            409);
    }
    std::string error;
    if (!save(name, keys, error)) {
        Logger::instance().say(LogStream::Error,
                               "velmora: cannot save the track " + name + ": " + error + "\n");
        return Reply::error(500, "cannot save: " + error);
    }
    sync.setKeys(name, keys);
    return Reply();
}

bool TrackStore::save(const std::string& name, const std::vector<TrackKey>& keys, std::string& error) {
    const std::string source = TrackSource::sourcePath(name);
    const std::string compiled = TrackSource::compiledPath(name);
    std::string problem;
    if (!makeDirectories(parentFolder(source), problem)) {
        error = shownPath(parentFolder(source)) + ": " + problem;
        return false;
    }
    std::string previousSource;
    const bool hadSource = readRegularFile(source, maxTrackFileBytes, previousSource, problem);
    if (!hadSource && pathExists(source)) {
        error = shownPath(source) + ": " + problem;
        return false;
    }
    const std::string header = hadSource ? previousSource : "# " + name + ": written by the sync editor\n";
    const std::string text = TrackSource::writeSource(keys, header);
    const std::vector<unsigned char> image = TrackFile::encode(keys);
    const std::string bytes(image.begin(), image.end());

    hotReload.rememberOwnWrite(source, text);
    if (!writeFileReplacing(source, text, problem)) {
        hotReload.forgetOwnWrite(source);
        error = shownPath(source) + ": " + problem;
        return false;
    }
    hotReload.rememberOwnWrite(compiled, bytes);
    if (!writeFileReplacing(compiled, bytes, problem)) {
        hotReload.forgetOwnWrite(compiled);
        error = shownPath(compiled) + ": " + problem;
        // The source goes back to what it was, so the two files still agree.
        std::string rollback;
        if (hadSource) {
            hotReload.rememberOwnWrite(source, previousSource);
            if (!writeFileReplacing(source, previousSource, rollback)) {
                error += "; " + shownPath(source) + " could not be put back either: " + rollback;
            }
        } else {
            removeFile(source);
        }
        return false;
    }
    return true;
}

} // namespace Velmora
