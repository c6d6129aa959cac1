#include "edit/EditSession.h"

#include "base/Files.h"
#include "base/Logger.h"
#include "base/Platform.h"
#include "base/Vexception.h"
#include "edit/DrawingCall.h"
#include "edit/EditTitle.h"
#include "edit/TrackSource.h"
#include "engine/ShaderProgram.h"

#include <algorithm>
#include <cmath>

#ifndef VELMORA_SOURCE_DIR
#define VELMORA_SOURCE_DIR "."
#endif

namespace Velmora {

namespace {

using Json = nlohmann::json;
using SteadyClock = std::chrono::steady_clock;

constexpr auto stateEventInterval = std::chrono::milliseconds(50);
constexpr auto titleInterval = std::chrono::milliseconds(250);

} // namespace

EditSession::EditSession(const EditOptions& editOptions) : options(editOptions) {}

EditSession::~EditSession() {
    if (server) {
        server->stop();
    }
    if (player) {
        player->setTarget(nullptr);
        player->window().setKeyHandler(nullptr);
    }
}

void EditSession::startUp() {
    PlayerDesc desc;
    desc.width = options.width;
    desc.height = options.height;
    desc.vsync = options.vsync;
    player = std::make_unique<Player>(desc);
    player->openMusic(false);
    Music& music = player->music();
    music.seek(std::clamp(options.from, 0.0, music.length()));
    player->buildShow();
    held = std::make_unique<OffscreenTarget>(options.width, options.height);
    player->setTarget(held.get());
    store = std::make_unique<TrackStore>(player->sync(), hotReload);
    for (const TrackStore::Reload& problem : store->load()) {
        hotReload.setTrackError(problem.error->track, problem.error->file, problem.error);
    }
    api = std::make_unique<EditApi>(static_cast<EditControl&>(*this), *store);
    collectShaderErrors();

    for (const auto& [folder, problem] :
         hotReload.watch({"./data/shaders", "./data/science", "./data/science/src"})) {
        Logger::instance().say(LogStream::Error,
                               "velmora: not watching " + folder + " for changes: " + problem + "\n");
    }

    EditServerDesc serverDesc;
    serverDesc.port = options.port;
    serverDesc.token = EditServer::makeToken();
    serverDesc.pageFolder = isDirectory("./editor") ? "./editor" : VELMORA_SOURCE_DIR "/editor";
    server = std::make_unique<EditServer>(*api);
    std::string problem;
    if (!server->start(serverDesc, problem)) {
        throw Vexception("The edit server " + problem + ".");
    }
    // Scripts read the address from a pipe: it goes out at once.
    Logger& logger = Logger::instance();
    logger.say(LogStream::Output, "Edit server: http://127.0.0.1:" + std::to_string(server->port()) +
                                      "/?token=" + serverDesc.token + "\n");
    if (!logger.outputWritten(problem)) {
        logger.say(LogStream::Error,
                   "velmora: cannot write the edit server's address to standard output: " + problem + "\n");
    }

    if (!options.paused) {
        music.play();
    }
    lastRow = music.row();
    publishState(true);
}

int EditSession::run() {
    startUp();
    // Ctrl-C or a termination request closes the session as Escape does.
    InterruptGuard interruptGuard;
    FrameLoop loop;
    loop.clock = ClockPolicy::Live;
    loop.frame = [this](const FrameInfo&) {
        if (InterruptGuard::requested()) {
            return FrameChoice::Stop;
        }
        checkFiles();
        return chooseFrame();
    };
    loop.drawn = [this](const FrameInfo& frame) { frameDrawn(frame); };
    loop.shown = [this](const FrameInfo&) {
        updateTitle();
        publishState(false);
    };
    loop.key = [this](const KeyPress& press) { onKey(press); };
    // Nothing moves while paused: wait for a key, a command (which wakes the window) or a file.
    loop.idle = [this] { return !player->music().isPlaying(); };
    player->run(loop);
    // Requests still waiting for the drawing thread get their answers, then the server goes.
    player->applyCommands();
    server->stop([this] { player->applyCommands(); });
    player->applyCommands();
    return 0;
}

double EditSession::lengthRows() const {
    return player->music().length() * player->music().rowsPerSecond();
}

double EditSession::currentRow() const {
    return player->music().row();
}

FrameChoice EditSession::chooseFrame() {
    Music& music = player->music();
    if (music.isPlaying()) {
        player->clock().follow();
        // The end of the music, or of the show: pause there.
        if (music.ended() || player->endReached()) {
            pauseAtEnd();
        } else if (music.row() < lastRow) {
            // A loop wrap: the trails are rebuilt as after any seek.
            needsWarm = true;
        }
    }
    if (needsWarm) {
        needsWarm = false;
        return FrameChoice::WarmUp;
    }
    return music.isPlaying() ? FrameChoice::Draw : FrameChoice::Nothing;
}

void EditSession::frameDrawn(const FrameInfo& frame) {
    Music& music = player->music();
    const double row = frame.row;
    if (frame.choice != FrameChoice::Nothing) {
        ++framesDrawn;
        drawnRow = row;
        frameTimes.push_back(frame.seconds);
        if (announceNextFrame || !music.isPlaying()) {
            announceNextFrame = false;
            publishState(true);
        }
    }
    if (music.isPlaying()) {
        player->clock().follow();
    } else {
        player->clock().hold(row, row / music.rowsPerSecond());
    }
    lastRow = row;
    while (!frameTimes.empty() && frameTimes.front() < frame.seconds - 1.0) {
        frameTimes.erase(frameTimes.begin());
    }
}

void EditSession::onKey(const KeyPress& press) {
    const double row = currentRow();
    switch (press.key) {
    case Key::Space:
        if (!press.repeat) {
            setPlaying(!player->music().isPlaying());
        }
        break;
    case Key::Left:
        seekRow(row - (press.shift ? editRowsPerBar : editRowsPerBeat));
        break;
    case Key::Right:
        seekRow(row + (press.shift ? editRowsPerBar : editRowsPerBeat));
        break;
    case Key::PageUp:
        seekRow(row - 8 * editRowsPerBar);
        break;
    case Key::PageDown:
        seekRow(row + 8 * editRowsPerBar);
        break;
    case Key::Home:
        seekRow(0.0);
        break;
    case Key::End:
        seekRow(lengthRows());
        break;
    case Key::LeftBracket:
        loopStartMark = row;
        if (loopEndMark && *loopEndMark > row) {
            setLoopRows(row, *loopEndMark);
        }
        publishState(true);
        break;
    case Key::RightBracket:
        loopEndMark = row;
        if (loopStartMark && *loopStartMark < row) {
            setLoopRows(*loopStartMark, row);
        }
        publishState(true);
        break;
    case Key::Backspace:
        clearLoop();
        break;
    case Key::Other:
        break;
    }
}

void EditSession::seekRow(double row) {
    Music& music = player->music();
    const double target = std::clamp(std::isnan(row) ? 0.0 : row, 0.0, lengthRows());
    music.seek(target / music.rowsPerSecond());
    needsWarm = true;
    lastRow = music.row();
    publishState(true);
}

void EditSession::setPlaying(bool play) {
    Music& music = player->music();
    if (play == music.isPlaying()) {
        return;
    }
    if (play) {
        // Play at the end starts again: from the loop's start, or from the top.
        player->clock().follow();
        if (music.ended() || player->endReached()) {
            const std::optional<Music::Loop> loop = music.loop();
            music.seek(loop ? loop->from : 0.0);
            needsWarm = true;
        }
        music.play();
    } else {
        music.pause();
        needsWarm = true;
    }
    lastRow = music.row();
    publishState(true);
}

bool EditSession::setLoopRows(double from, double to) {
    Music& music = player->music();
    const double rate = music.rowsPerSecond();
    if (!(from >= 0.0 && to <= lengthRows() && from < to) || !music.setLoop(from / rate, to / rate)) {
        return false;
    }
    loopStartMark = from;
    loopEndMark = to;
    publishState(true);
    return true;
}

void EditSession::clearLoop() {
    player->music().clearLoop();
    loopStartMark.reset();
    loopEndMark.reset();
    publishState(true);
}

void EditSession::pauseAtEnd() {
    player->music().pause();
    needsWarm = true;
    publishState(true);
}

void EditSession::checkFiles() {
    hotReload.reloadSettled(SteadyClock::now(), [this](const std::string& path) {
        if (path.rfind("./data/shaders/", 0) == 0) {
            reloadShaderFile(path);
        } else if (const std::optional<std::string> name = TrackSource::trackOfSource(path)) {
            reloadTrack(store->reloadSource(*name), *name);
        } else if (const std::optional<std::string> compiled = TrackSource::trackOfCompiled(path)) {
            reloadTrack(store->reloadCompiled(*compiled), *compiled);
        }
    });
}

void EditSession::reloadShaderFile(const std::string& path) {
    bool used = false;
    bool ok = true;
    // Reloading replaces programs, never the list of them.
    const std::vector<ShaderProgram*> programs = ShaderProgram::all();
    for (ShaderProgram* program : programs) {
        if (program->usesFile(path)) {
            used = true;
            ok = program->reload() && ok;
        }
    }
    if (!used) {
        return;
    }
    collectShaderErrors();
    hub.publish("reloaded", Json{{"file", shownPath(path)}, {"ok", ok}, {"frame", framesDrawn}}.dump());
    if (!player->music().isPlaying()) {
        needsWarm = true;
    }
    announceNextFrame = true;
}

void EditSession::collectShaderErrors() {
    std::vector<EditError> found;
    for (const ShaderProgram* program : ShaderProgram::all()) {
        for (const ShaderProblem& problem : program->problems()) {
            EditError error{shownPath(problem.file), problem.line, problem.message, ""};
            if (std::find(found.begin(), found.end(), error) == found.end()) {
                found.push_back(error);
            }
        }
    }
    if (hotReload.setShaderErrors(found)) {
        errorsChanged();
    }
}

void EditSession::setTrackError(const std::string& name, const std::string& file,
                                const std::optional<EditError>& error) {
    if (hotReload.setTrackError(name, file, error)) {
        errorsChanged();
    }
}

void EditSession::errorsChanged() {
    publishState(true);
    hub.publish("error", Json{{"errors", publishedStateJson["errors"]}}.dump());
}

void EditSession::reloadTrack(const TrackStore::Reload& reload, const std::string& name) {
    for (const std::string& file : reload.fine) {
        setTrackError(name, file, std::nullopt);
    }
    if (reload.error) {
        setTrackError(name, reload.error->file, reload.error);
    }
    if (reload.changed) {
        trackChanged(name, "disk");
    }
    hub.publish("reloaded",
                Json{{"file", reload.file}, {"ok", !reload.error}, {"frame", framesDrawn}}.dump());
}

void EditSession::trackReloaded(const std::string& name, const TrackStore::Reload& reload) {
    reloadTrack(reload, name);
}

void EditSession::trackEdited(const std::string& name) {
    setTrackError(name, shownPath(TrackSource::sourcePath(name)), std::nullopt);
    setTrackError(name, shownPath(TrackSource::compiledPath(name)), std::nullopt);
    trackChanged(name, "api");
}

void EditSession::trackChanged(const std::string& name, const char* source) {
    const std::int64_t revision = store->changed(name);
    hub.publish(
        "track",
        Json{{"name", name}, {"revision", revision}, {"source", source}, {"frame", framesDrawn}}.dump());
    if (!player->music().isPlaying()) {
        needsWarm = true;
    }
    announceNextFrame = true;
}

Json EditSession::stateJson() const {
    const Music& music = player->music();
    const double rate = music.rowsPerSecond();
    Json loop = nullptr;
    if (const std::optional<Music::Loop> range = music.loop()) {
        loop = Json{{"from", range->from * rate}, {"to", range->to * rate}};
    }
    const double row = music.row();
    return Json{{"row", row},
                {"seconds", rate > 0.0 ? row / rate : 0.0},
                {"playing", music.isPlaying()},
                {"loop", loop},
                {"rowsPerSecond", rate},
                {"rowsPerBeat", editRowsPerBeat},
                {"lengthRows", lengthRows()},
                {"fps", static_cast<double>(frameTimes.size())},
                {"frame", framesDrawn},
                {"drawnRow", drawnRow},
                {"errors", EditJson::errors(hotReload.errors())}};
}

void EditSession::publishState(bool force) {
    const auto now = SteadyClock::now();
    const bool due = player->music().isPlaying() && now - lastStateEvent >= stateEventInterval;
    if (!force && !due) {
        return;
    }
    Json state = stateJson();
    {
        std::lock_guard<std::mutex> guard(published);
        publishedStateJson = state;
    }
    lastStateEvent = now;
    hub.publish("state", state.dump());
}

Json EditSession::publishedState() const {
    std::lock_guard<std::mutex> guard(published);
    return publishedStateJson;
}

void EditSession::updateTitle() {
    const auto now = SteadyClock::now();
    if (now - lastTitle < titleInterval) {
        return;
    }
    lastTitle = now;
    const Music& music = player->music();
    std::optional<std::pair<double, double>> loop;
    if (const std::optional<Music::Loop> range = music.loop()) {
        loop = std::make_pair(range->from * music.rowsPerSecond(), range->to * music.rowsPerSecond());
    }
    player->window().setTitle(editTitle(music.row(), music.rowsPerSecond(), music.isPlaying(), loop,
                                        static_cast<double>(frameTimes.size()), hotReload.hasShaderErrors()));
}

Reply EditSession::onDrawingThread(std::function<Reply()> work) {
    return DrawingCall::run(
        [this](std::function<void()> task) {
            player->post(std::move(task));
            Window::wake();
        },
        std::move(work));
}

Reply EditSession::lastFrame(std::vector<std::uint8_t>& pixels, int& width, int& height) {
    auto read = std::make_shared<std::vector<std::uint8_t>>();
    width = options.width;
    height = options.height;
    Reply reply = onDrawingThread([this, read] {
        *read = player->readTarget();
        return Reply();
    });
    if (reply.status == 200) {
        pixels = std::move(*read);
    }
    return reply;
}

} // namespace Velmora
