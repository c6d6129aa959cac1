// The edit mode: the live show in a window, with a transport (play, pause, seek, loop) on the
// keyboard and the API, shaders and tracks reloaded when their files are saved, and the control
// server for the sync editor page and scripts.
//
// Everything that touches the show runs on the drawing thread, between frames. The server's
// threads read a snapshot the drawing thread publishes after every change (state, tracks, errors)
// or queue a command on the player and wait for its answer; they never touch the show, the music's
// transport or a file of the show themselves.
//
// The picture while paused, and after any seek or loop wrap, is drawn with the same warm-up rule
// as the capture (eight frames 1/30 s apart from a freshly reset show), so a paused frame at row R
// is the captured frame at R.
#pragma once

#include "edit/EditServer.h"
#include "edit/EventHub.h"
#include "engine/ShaderProgram.h"
#include "engine/Window.h"
#include "player/Player.h"
#include "sync/TrackData.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Velmora {

class FileWatcher;

struct EditOptions {
    int width = 1280;
    int height = 720;
    double from = 0.0; // seconds
    bool paused = false;
    int port = 0; // 0: any free port
    bool vsync = false;
};

// One pending problem of a shader or track file.
struct EditError {
    std::string file; // as shown: "data/shaders/bleh.fs"
    int line = 0;
    std::string message;
    bool operator==(const EditError& other) const {
        return file == other.file && line == other.line && message == other.message;
    }
};

// The title of the edit window: row, bar.beat, minutes:seconds, playing or paused, the loop,
// frames per second, "shader error" while one is pending.
std::string editTitle(double row, double rowsPerSecond, bool playing,
                      std::optional<std::pair<double, double>> loop, double fps, bool shaderError);

class EditSession final : public EditService {
public:
    static constexpr int rowsPerBeat = 8;
    static constexpr int rowsPerBar = 32;

    explicit EditSession(const EditOptions& options);
    ~EditSession() override;

    // Opens everything, prints the server's address and runs until the window closes. Returns the
    // exit status; start-up failures throw.
    int run();

    // EditService, on server threads.
    Reply state() override;
    Reply transport(const nlohmann::json& body) override;
    Reply tracks() override;
    Reply track(const std::string& name) override;
    Reply putTrack(const std::string& name, const nlohmann::json& body) override;
    Reply values(const std::string& name, double from, double to, double step) override;
    Reply waveform(double rowsPerBucket) override;
    Reply spectrum(double row) override;
    Reply frame(int maxWidth) override;
    EventHub& events() override { return hub; }

    EditSession(const EditSession&) = delete;
    EditSession& operator=(const EditSession&) = delete;

private:
    struct TrackState {
        std::int64_t revision = 0;
        std::vector<TrackKey> keys;
        // What the track's source says it does (its leading comment).
        std::string description;
    };

    // Drawing thread.
    void startUp();
    void drawOnce();
    void onKey(const KeyPress& press);
    double currentRow() const;
    double lengthRows() const;
    void seekRow(double row);
    void setPlaying(bool play);
    bool setLoopRows(double from, double to);
    void clearLoop();
    void pauseAtEnd();
    void checkFiles();
    void reloadShaderFile(const std::string& path);
    void reloadTrackSource(const std::string& name);
    void reloadTrackFile(const std::string& name);
    void collectShaderErrors();
    void setTrackError(const std::string& name, std::optional<EditError> error);
    // Writes the track's text source and compiled file; the previous files stay on failure.
    bool saveTrack(const std::string& name, const std::vector<TrackKey>& keys, std::string& error);
    void trackChanged(const std::string& name, const char* source);
    void publishState(bool force);
    nlohmann::json stateJson() const;
    void present();
    void updateTitle();
    // Remembers what we wrote, so that the watcher's report of it is not taken for an edit.
    void rememberOwnWrite(const std::string& path, const std::string& bytes);
    bool isOwnWrite(const std::string& path);

    // Server threads: runs `work` on the drawing thread between frames and returns its reply, or
    // 503 when the show does not answer in time.
    Reply onDrawingThread(std::function<Reply()> work);

    EditOptions options;
    std::unique_ptr<Player> player;
    std::unique_ptr<OffscreenTarget> held;
    std::unique_ptr<EditServer> server;
    std::unique_ptr<FileWatcher> watcher;
    EventHub hub;

    // Drawing thread only.
    bool needsWarm = true;
    // Frames drawn so far (a warm-up counts as one), and the row of the picture drawn last.
    std::int64_t framesDrawn = 0;
    double drawnRow = 0.0;
    // A change (a reload, an edit) waits for the next frame: its state is sent at once then.
    bool announceNextFrame = false;
    double lastRow = 0.0;
    double previousTime = 0.0;
    std::optional<double> loopStartMark;
    std::optional<double> loopEndMark;
    std::map<std::string, std::chrono::steady_clock::time_point> pendingFiles;
    std::map<std::string, std::size_t> ownWrites;
    std::map<std::string, EditError> trackErrors; // by track name
    std::vector<EditError> shaderErrors;
    std::chrono::steady_clock::time_point lastTitle;
    std::chrono::steady_clock::time_point lastStateEvent;
    std::vector<double> frameTimes;
    std::int64_t nextRevision = 1;

    // Published by the drawing thread, read by the server threads.
    mutable std::mutex published;
    nlohmann::json publishedState;
    std::map<std::string, TrackState> publishedTracks;
    double publishedRowsPerSecond = 24.0;
    double publishedLengthRows = 0.0;
};

} // namespace Velmora
