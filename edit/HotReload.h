// Hot reload's bookkeeping for the edit mode: the watcher of the show's folders, the settling of
// files that editors write in bursts, the filter that tells our own writes from an author's, and
// the list of pending shader and track errors the state and the title show.
//
// It decides which files are due to be reloaded and keeps the errors; it does not reload anything
// itself (the session reloads shaders, the track store tracks) and publishes no events. Drawing
// thread only; no GL.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Velmora {

class FileWatcher;

// A path as the API and the messages show it: "data/shaders/bleh.fs" for "./data/shaders/bleh.fs".
std::string shownPath(const std::string& path);

// One pending problem of a shader or track file.
struct EditError {
    std::string file; // as shown: "data/shaders/bleh.fs"
    int line = 0;
    std::string message;
    std::string track; // the track whose file it is; empty for a shader
    bool operator==(const EditError& other) const {
        return file == other.file && line == other.line && message == other.message && track == other.track;
    }
};

class HotReload {
public:
    using Clock = std::chrono::steady_clock;
    // A file is looked at once it has been quiet this long: editors write in bursts.
    static constexpr auto settleTime = std::chrono::milliseconds(50);

    HotReload();
    ~HotReload();

    // Starts watching the folders; those that cannot be watched, as shown, with the reason.
    std::vector<std::pair<std::string, std::string>> watch(const std::vector<std::string>& folders);

    // Hands `reload` each file changed on disk that has been quiet for settleTime by `now` and is
    // not our own write, in path order (a reload may write files of its own meanwhile).
    void reloadSettled(Clock::time_point now, const std::function<void(const std::string&)>& reload);

    // Remembers what we wrote, so that the watcher's report of it is not taken for an edit.
    void rememberOwnWrite(const std::string& path, const std::string& bytes);
    void forgetOwnWrite(const std::string& path);

    // The pending errors: shaders first (in the order found), then tracks by name.
    std::vector<EditError> errors() const;
    bool hasShaderErrors() const { return !shaderErrors.empty(); }
    // Replaces the shader errors; true when the list changed. Nothing is printed: each was reported
    // by its shader's log line.
    bool setShaderErrors(const std::vector<EditError>& found);
    // Sets or clears the error of one of the track's files (its source or compiled file, as shown);
    // true when it changed. A new one goes to standard error.
    bool setTrackError(const std::string& name, const std::string& file,
                       const std::optional<EditError>& error);

    HotReload(const HotReload&) = delete;
    HotReload& operator=(const HotReload&) = delete;

private:
    bool isOwnWrite(const std::string& path);

    std::unique_ptr<FileWatcher> watcher;
    std::map<std::string, Clock::time_point> pendingFiles;
    std::map<std::string, std::size_t> ownWrites;
    std::map<std::pair<std::string, std::string>, EditError> trackErrors; // by track name and file
    std::vector<EditError> shaderErrors;
};

} // namespace Velmora
