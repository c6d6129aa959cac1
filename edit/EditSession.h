// The edit mode: the live show in a window, with a transport (play, pause, seek, loop) on the
// keyboard and the API, shaders and tracks reloaded when their files are saved, and the control
// server for the sync editor page and scripts.
//
// This unit starts everything, runs the frame loop and the transport, and publishes the state;
// hot reload's bookkeeping (HotReload), the tracks and their saves (TrackStore), the API
// (EditApi), the HTTP server (EditServer) and the title (EditTitle) are units of their own.
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

#include "edit/EditApi.h"
#include "edit/EditServer.h"
#include "edit/EventHub.h"
#include "edit/HotReload.h"
#include "edit/TrackStore.h"
#include "engine/Window.h"
#include "player/Player.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Velmora {

struct EditOptions {
    int width = 1280;
    int height = 720;
    double from = 0.0; // seconds
    bool paused = false;
    int port = 0; // 0: any free port
    bool vsync = false;
};

class EditSession final : private EditControl {
public:
    explicit EditSession(const EditOptions& options);
    ~EditSession() override;

    // Opens everything, prints the server's address and runs until the window closes. Returns the
    // exit status; start-up failures throw.
    int run();

    EditSession(const EditSession&) = delete;
    EditSession& operator=(const EditSession&) = delete;

private:
    // EditControl.
    Reply onDrawingThread(std::function<Reply()> work) override;
    nlohmann::json publishedState() const override;
    const Music& music() const override { return player->music(); }
    EventHub& events() override { return hub; }
    Reply lastFrame(std::vector<std::uint8_t>& pixels, int& width, int& height) override;
    void setPlaying(bool play) override;
    void seekRow(double row) override;
    bool setLoopRows(double from, double to) override;
    void clearLoop() override;
    double lengthRows() const override;
    nlohmann::json stateJson() const override;
    void trackEdited(const std::string& name) override;
    void trackReloaded(const std::string& name, const TrackStore::Reload& reload) override;

    // Drawing thread.
    void startUp();
    // The frame loop's callbacks: what the next frame draws (after the transport's checks), and
    // the bookkeeping of a frame drawn (or not).
    FrameChoice chooseFrame();
    void frameDrawn(const FrameInfo& frame);
    void onKey(const KeyPress& press);
    double currentRow() const;
    void pauseAtEnd();
    void checkFiles();
    void reloadShaderFile(const std::string& path);
    void reloadTrack(const TrackStore::Reload& reload, const std::string& name);
    void collectShaderErrors();
    void setTrackError(const std::string& name, const std::string& file,
                       const std::optional<EditError>& error);
    void errorsChanged();
    void trackChanged(const std::string& name, const char* source);
    void publishState(bool force);
    void updateTitle();

    EditOptions options;
    std::unique_ptr<Player> player;
    std::unique_ptr<OffscreenTarget> held;
    std::unique_ptr<EditServer> server;
    EventHub hub;
    HotReload hotReload;
    std::unique_ptr<TrackStore> store;
    std::unique_ptr<EditApi> api;

    // Drawing thread only.
    bool needsWarm = true;
    // Frames drawn so far (a warm-up counts as one), and the row of the picture drawn last.
    std::int64_t framesDrawn = 0;
    double drawnRow = 0.0;
    // A change (a reload, an edit) waits for the next frame: its state is sent at once then.
    bool announceNextFrame = false;
    double lastRow = 0.0;
    std::optional<double> loopStartMark;
    std::optional<double> loopEndMark;
    std::chrono::steady_clock::time_point lastTitle;
    std::chrono::steady_clock::time_point lastStateEvent;
    std::vector<double> frameTimes;

    // Published by the drawing thread, read by the server threads.
    mutable std::mutex published;
    nlohmann::json publishedStateJson;
};

} // namespace Velmora
