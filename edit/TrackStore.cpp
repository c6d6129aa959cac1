#include "edit/TrackStore.h"

#include "base/Files.h"
#include "base/Logger.h"
#include "edit/TrackSource.h"
#include "sync/SyncDevice.h"
#include "sync/TrackFile.h"
#include "sync/TrackText.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace Velmora {

namespace {

// Track files larger than this are not read (a real track is a few kilobytes).
constexpr std::uint64_t maxTrackFileBytes = TrackFile::maxFileBytes;

bool sameKeys(const std::vector<TrackKey>& a, const std::vector<TrackKey>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(TrackKey)) == 0);
}

// The keys of a compiled file's bytes, sorted; empty problem when it is a whole track file.
std::string decodeCompiled(const std::string& bytes, std::vector<TrackKey>& keys) {
    const TrackFile::Contents contents =
        TrackFile::decode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    if (!contents.countComplete) {
        return "is not a track file: shorter than its 8-byte key count";
    }
    if (contents.count < 0) {
        return "is not a track file: its key count is negative";
    }
    if (contents.keys.size() < static_cast<std::size_t>(contents.count)) {
        return "is not a track file: it ends after " + std::to_string(contents.keys.size()) + " of its " +
               std::to_string(contents.count) + " keys";
    }
    if (contents.trailingData) {
        return "is not a track file: bytes follow its last key";
    }
    keys = TrackFile::sortKeys(contents.keys);
    return "";
}

// The first error of a source's text; none when it parses.
std::optional<EditError> sourceProblem(const std::string& name, const std::string& text,
                                       std::vector<TrackKey>& keys) {
    const TrackText::Result parsed = TrackText::parse(text);
    if (!parsed.ok()) {
        for (const TrackText::Message& message : parsed.messages) {
            if (message.error) {
                return EditError{shownPath(TrackSource::sourcePath(name)), message.line, message.text, name};
            }
        }
        return EditError{shownPath(TrackSource::sourcePath(name)), 0, "cannot be read as a track", name};
    }
    keys = TrackFile::sortKeys(parsed.keys);
    return std::nullopt;
}

// A complete, verified temporary file beside `target` holding `bytes`; null with the reason.
std::unique_ptr<TemporaryFile> writeTemporary(const std::string& target, const std::string& bytes,
                                              std::string& error) {
    auto file = std::make_unique<TemporaryFile>(target, TrackStore::temporarySuffix);
    if (!file->valid()) {
        error = "cannot create a temporary file beside it: " + file->error();
        return nullptr;
    }
    const bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file->stream()) == bytes.size();
    if (!file->close(true) || !written) {
        error = "cannot write a temporary file beside it: " +
                (file->error().empty() ? std::string("write failed") : file->error());
        return nullptr;
    }
    if (!fileHolds(file->path(), bytes, error)) {
        error = "the temporary file beside it: " + error;
        return nullptr;
    }
    return file;
}

} // namespace

TrackStore::TrackStore(SyncDevice& sync, HotReload& reload) : sync(sync), hotReload(reload) {}

TrackStore::Seen TrackStore::look(const std::string& path) {
    Seen seen;
    std::string problem;
    if (readRegularFile(path, maxTrackFileBytes, seen.bytes, problem)) {
        seen.exists = true;
        seen.readable = true;
        return seen;
    }
    seen.exists = pathExists(path);
    seen.problem = seen.exists ? problem : "was removed";
    return seen;
}

std::vector<TrackStore::Reload> TrackStore::load() {
    std::vector<Reload> problems;
    std::lock_guard<std::mutex> guard(published);
    for (const std::string& name : TrackSource::trackNames()) {
        const std::string source = TrackSource::sourcePath(name);
        const std::string compiled = TrackSource::compiledPath(name);
        // Saves killed between writing and renaming leave their temporary files beside the targets.
        removeAbandonedTemporaries(source, temporarySuffix);
        removeAbandonedTemporaries(compiled, temporarySuffix);
        Snapshot& track = tracks[name];
        track.revision = nextRevision++;
        track.keys = sync.getTrack(name.c_str())->keys;
        Disk& files = disk[name];
        files.source = look(source);
        files.compiled = look(compiled);
        if (files.source.readable) {
            track.description = TrackSource::description(name, files.source.bytes);
            std::vector<TrackKey> keys;
            files.sourceError = sourceProblem(name, files.source.bytes, keys);
        } else if (files.source.exists) {
            files.sourceError = EditError{shownPath(source), 0, files.source.problem, name};
        }
        if (files.sourceError) {
            problems.push_back(Reload{shownPath(source), false, files.sourceError, {}});
        }
        std::vector<TrackKey> keys;
        if (files.compiled.readable) {
            const std::string problem = decodeCompiled(files.compiled.bytes, keys);
            if (!problem.empty()) {
                problems.push_back(
                    Reload{shownPath(compiled), false, EditError{shownPath(compiled), 0, problem, name}, {}});
            }
        } else if (files.compiled.exists) {
            problems.push_back(Reload{shownPath(compiled),
                                      false,
                                      EditError{shownPath(compiled), 0, files.compiled.problem, name},
                                      {}});
        }
    }
    return problems;
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

void TrackStore::publishKeys(const std::string& name, const std::string* sourceText) {
    if (sourceText != nullptr) {
        std::lock_guard<std::mutex> guard(published);
        tracks[name].description = TrackSource::description(name, *sourceText);
    }
}

TrackStore::Reload TrackStore::reloadSource(const std::string& name) {
    const std::string source = TrackSource::sourcePath(name);
    Disk& files = disk[name];
    Reload result;
    result.file = shownPath(source);
    const Seen now = look(source);
    const bool sameAsBefore = now.same(files.source);
    files.source = now;
    if (!now.exists) {
        // Removed: the running keys stay; a save writes it anew.
        files.sourceError = EditError{result.file, 0, "was removed; the show keeps its keys", name};
        result.error = files.sourceError;
        return result;
    }
    if (!now.readable) {
        files.sourceError = EditError{result.file, 0, now.problem + "; the show keeps its keys", name};
        result.error = files.sourceError;
        return result;
    }
    std::vector<TrackKey> keys;
    if (std::optional<EditError> problem = sourceProblem(name, now.bytes, keys)) {
        files.sourceError = problem;
        result.error = problem;
        return result;
    }
    const bool wasBroken = files.sourceError.has_value();
    files.sourceError.reset();
    // The compiled file follows its source; a save of the same text rebuilds a compiled file that
    // went wrong.
    const std::vector<unsigned char> image = TrackFile::encode(keys);
    const std::string bytes(image.begin(), image.end());
    const std::string compiled = TrackSource::compiledPath(name);
    files.compiled = look(compiled);
    if (!(files.compiled.readable && files.compiled.bytes == bytes)) {
        std::string problem;
        hotReload.rememberOwnWrite(compiled, bytes);
        if (!writeFileReplacing(compiled, bytes, problem)) {
            hotReload.forgetOwnWrite(compiled);
            files.compiled = look(compiled);
            result.fine = {result.file};
            result.error = EditError{shownPath(compiled), 0,
                                     "cannot write: " + problem + "; it does not agree with " + result.file +
                                         " and the show keeps its keys",
                                     name};
            return result;
        }
        files.compiled = Seen{true, true, bytes, ""};
    }
    result.fine = {result.file, shownPath(compiled)};
    if (sameAsBefore && !wasBroken && sameKeys(keys, sync.getTrack(name.c_str())->keys)) {
        // Our own write, or a save of the same text: nothing changed.
        return result;
    }
    sync.setKeys(name, std::move(keys));
    publishKeys(name, &now.bytes);
    result.changed = true;
    return result;
}

TrackStore::Reload TrackStore::reloadCompiled(const std::string& name) {
    const std::string compiled = TrackSource::compiledPath(name);
    Disk& files = disk[name];
    Reload result;
    result.file = shownPath(compiled);
    const Seen now = look(compiled);
    files.compiled = now;
    if (!now.readable) {
        result.error = EditError{
            result.file, 0,
            (now.exists ? now.problem : std::string("was removed")) + "; the show keeps its keys", name};
        return result;
    }
    std::vector<TrackKey> keys;
    const std::string problem = decodeCompiled(now.bytes, keys);
    if (!problem.empty()) {
        result.error = EditError{result.file, 0, problem + "; the show keeps its keys", name};
        return result;
    }
    result.fine = {result.file};
    if (sameKeys(keys, sync.getTrack(name.c_str())->keys)) {
        return result;
    }
    sync.setKeys(name, std::move(keys));
    result.changed = true;
    return result;
}

TrackStore::EditResult TrackStore::edit(const std::string& name, std::int64_t revision,
                                        const std::vector<TrackKey>& keys) {
    EditResult result;
    const auto stale = [&](const std::string& why) {
        result.status = 409;
        result.message = why;
        return result;
    };
    // Only the drawing thread changes the tracks, so what it published is current.
    if (revision != snapshot(name).revision) {
        return stale(name + " was changed elsewhere");
    }
    Disk& files = disk[name];
    const std::string source = TrackSource::sourcePath(name);
    const std::string compiled = TrackSource::compiledPath(name);
    // The disk now, not the revision in memory: an editor's save may not have been reported yet.
    if (!look(source).same(files.source)) {
        result.reloads.push_back(reloadSource(name));
    }
    if (!look(compiled).same(files.compiled)) {
        result.reloads.push_back(reloadCompiled(name));
    }
    for (const Reload& reload : result.reloads) {
        if (reload.changed) {
            return stale(name + " was changed on disk (" + reload.file + ")");
        }
    }
    if (files.sourceError) {
        result.status = 409;
        result.file = files.sourceError->file;
        result.line = files.sourceError->line;
        result.message = name + ": " + files.sourceError->file +
                         (result.line > 0 ? " line " + std::to_string(result.line) : std::string()) + " " +
                         files.sourceError->message + "; fix the file to edit " + name + " here";
        return result;
    }
    if (!save(name, keys, result)) {
        Logger::instance().say(LogStream::Error,
                               "velmora: cannot save the track " + name + ": " + result.message + "\n");
        return result;
    }
    sync.setKeys(name, keys);
    publishKeys(name, &files.source.bytes);
    return result;
}

bool TrackStore::save(const std::string& name, const std::vector<TrackKey>& keys, EditResult& result) {
    Disk& files = disk[name];
    const std::string source = TrackSource::sourcePath(name);
    const std::string compiled = TrackSource::compiledPath(name);
    const std::string shownSource = shownPath(source);
    const std::string shownCompiled = shownPath(compiled);
    const auto fail = [&](const std::string& file, const std::string& problem) {
        result.status = 500;
        result.message = "cannot save " + name + ": " + file + ": " + problem + "; " + shownSource + " and " +
                         shownCompiled + " are unchanged";
        return false;
    };
    std::string problem;
    if (!makeDirectories(parentFolder(source), problem)) {
        return fail(shownPath(parentFolder(source)), problem);
    }
    const bool hadSource = files.source.exists;
    std::string text;
    if (hadSource) {
        // Only the lines of the keys that changed; the whole text when that cannot be done.
        const std::optional<std::string> edited = TrackSource::editSource(files.source.bytes, keys);
        text = edited ? *edited : TrackSource::writeSource(keys, files.source.bytes);
    } else {
        text = TrackSource::writeSource(keys, "# " + name + ": written by the sync editor\n");
    }
    const std::vector<unsigned char> image = TrackFile::encode(keys);
    const std::string bytes(image.begin(), image.end());

    // Both new files, and the old source, complete beside their targets before anything is replaced.
    const std::string sourceTarget = replacementTarget(source, problem);
    if (sourceTarget.empty()) {
        return fail(shownSource, problem);
    }
    const std::string compiledTarget = replacementTarget(compiled, problem);
    if (compiledTarget.empty()) {
        return fail(shownCompiled, problem);
    }
    std::unique_ptr<TemporaryFile> newSource = writeTemporary(sourceTarget, text, problem);
    if (!newSource) {
        return fail(shownSource, problem);
    }
    std::unique_ptr<TemporaryFile> newCompiled = writeTemporary(compiledTarget, bytes, problem);
    if (!newCompiled) {
        return fail(shownCompiled, problem);
    }
    std::unique_ptr<TemporaryFile> oldSource;
    if (hadSource) {
        oldSource = writeTemporary(sourceTarget, files.source.bytes, problem);
        if (!oldSource) {
            return fail(shownSource, problem);
        }
    }
    // The last look before replacing: the source is still the one the edit was made on.
    if (!look(source).same(files.source)) {
        result.reloads.push_back(reloadSource(name));
        result.status = 409;
        result.message = name + " was changed on disk (" + shownSource + ")";
        return false;
    }

    hotReload.rememberOwnWrite(source, text);
    if (!moveIntoPlace(newSource->path(), sourceTarget, problem)) {
        newSource->keep(); // moveIntoPlace removed it
        hotReload.forgetOwnWrite(source);
        return fail(shownSource, problem);
    }
    newSource->keep();
    hotReload.rememberOwnWrite(compiled, bytes);
    if (!moveIntoPlace(newCompiled->path(), compiledTarget, problem)) {
        newCompiled->keep();
        hotReload.forgetOwnWrite(compiled);
        const std::string compiledProblem = problem;
        // The source goes back to what it was, so that the two files still agree.
        bool restored = false;
        if (hadSource) {
            hotReload.rememberOwnWrite(source, files.source.bytes);
            restored = moveIntoPlace(oldSource->path(), sourceTarget, problem);
            oldSource->keep();
            restored = restored || writeFileReplacing(source, files.source.bytes, problem);
        } else {
            restored = removeFile(source);
            problem = "cannot remove it";
        }
        if (restored) {
            return fail(shownCompiled, compiledProblem);
        }
        files.source = look(source);
        result.status = 500;
        result.message = "cannot save " + name + ": " + shownCompiled + ": " + compiledProblem +
                         ", and the old " + shownSource + " could not be put back (" + problem +
                         "): " + shownSource + " and " + shownCompiled + " now disagree; save " +
                         shownSource + " again to rebuild " + shownCompiled;
        result.reloads.push_back(
            Reload{shownCompiled,
                   false,
                   EditError{shownCompiled, 0,
                             "does not agree with " + shownSource + ": a save failed halfway; save " +
                                 shownSource + " again",
                             name},
                   {}});
        return false;
    }
    newCompiled->keep();
    files.source = Seen{true, true, text, ""};
    files.compiled = Seen{true, true, bytes, ""};
    files.sourceError.reset();
    return true;
}

} // namespace Velmora
