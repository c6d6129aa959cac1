#include "edit/EditSession.h"

#include "app/capture/PngEncoder.h"
#include "base/FileWatcher.h"
#include "base/Files.h"
#include "base/Logger.h"
#include "base/Platform.h"
#include "base/Vexception.h"
#include "edit/TrackSource.h"
#include "sync/TrackFile.h"
#include "sync/TrackText.h"

#include <GL/glew.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <future>
#include <limits>
#include <set>

#ifndef VELMORA_SOURCE_DIR
#define VELMORA_SOURCE_DIR "."
#endif

namespace Velmora {

namespace {

// RGBA pixels shrunk by a whole factor, each pixel the mean of a factor x factor block (the
// blocks that would run past the right or bottom edge are left out).
std::vector<uint8_t> shrinkPixels(const std::vector<uint8_t>& rgba, int width, int height, int factor,
                                  int* outWidth, int* outHeight) {
    const int w = std::max(1, width / factor);
    const int h = std::max(1, height / factor);
    const int fx = std::min(factor, width);
    const int fy = std::min(factor, height);
    std::vector<uint8_t> out(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    std::vector<uint32_t> sums(static_cast<size_t>(w) * 4);
    for (int y = 0; y < h; ++y) {
        std::fill(sums.begin(), sums.end(), 0u);
        for (int dy = 0; dy < fy; ++dy) {
            const uint8_t* row =
                rgba.data() + (static_cast<size_t>(y) * fy + dy) * static_cast<size_t>(width) * 4;
            for (int x = 0; x < w; ++x) {
                for (int dx = 0; dx < fx; ++dx) {
                    const uint8_t* p = row + (static_cast<size_t>(x) * fx + dx) * 4;
                    for (int c = 0; c < 4; ++c) {
                        sums[static_cast<size_t>(x) * 4 + c] += p[c];
                    }
                }
            }
        }
        const uint32_t count = static_cast<uint32_t>(fx * fy);
        uint8_t* target = out.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * 4;
        for (size_t i = 0; i < sums.size(); ++i) {
            target[i] = static_cast<uint8_t>((sums[i] + count / 2) / count);
        }
    }
    *outWidth = w;
    *outHeight = h;
    return out;
}

using Json = nlohmann::json;
using SteadyClock = std::chrono::steady_clock;

// Track files larger than this are not read (a real track is a few kilobytes).
constexpr std::uint64_t maxTrackFileBytes = 64ull << 20;
// A file is looked at once it has been quiet this long: editors write in bursts.
constexpr auto settleTime = std::chrono::milliseconds(50);
// Server requests wait at most this long for the drawing thread (a warm-up in software GL at a
// large size takes about half a second).
constexpr auto answerTime = std::chrono::seconds(5);
constexpr auto stateEventInterval = std::chrono::milliseconds(50);
constexpr auto titleInterval = std::chrono::milliseconds(250);
constexpr int maxValues = 100000;
constexpr int maxBuckets = 100000;

std::string shownPath(const std::string& path) {
    return path.compare(0, 2, "./") == 0 ? path.substr(2) : path;
}

double seconds(SteadyClock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

Json keyJson(const TrackKey& key) {
    Json value = std::isfinite(key.value) ? Json(TrackSource::shortestFloatValue(key.value)) : Json(nullptr);
    const char* name = TrackSource::apiInterpolationName(key.interpolation);
    return Json{{"row", key.row},
                {"value", value},
                {"interpolation", name != nullptr ? Json(name) : Json(key.interpolation)}};
}

Json keysJson(const std::vector<TrackKey>& keys) {
    Json list = Json::array();
    for (const TrackKey& key : keys) {
        list.push_back(keyJson(key));
    }
    return list;
}

Json errorsJson(const std::vector<EditError>& errors) {
    Json list = Json::array();
    for (const EditError& error : errors) {
        list.push_back(Json{{"file", error.file}, {"line", error.line}, {"message", error.message}});
    }
    return list;
}

// The keys of a PUT body, checked: whole rows 0 .. 2^31-1 once each, finite 32-bit values, known
// interpolations. Sorted by row.
bool parseKeys(const Json& list, std::vector<TrackKey>& keys, std::string& problem) {
    if (!list.is_array()) {
        problem = "\"keys\" must be an array";
        return false;
    }
    std::set<std::int32_t> rows;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const Json& item = list[i];
        const std::string where = "keys[" + std::to_string(i) + "]";
        if (!item.is_object()) {
            problem = where + " must be an object";
            return false;
        }
        const auto row = item.find("row");
        const auto value = item.find("value");
        const auto interpolation = item.find("interpolation");
        if (row == item.end() || !row->is_number()) {
            problem = where + ".row must be a number";
            return false;
        }
        const double rowNumber = row->get<double>();
        if (!(rowNumber >= 0.0 && rowNumber <= 2147483647.0) || std::floor(rowNumber) != rowNumber) {
            problem = where + ".row must be a whole number from 0 to 2147483647";
            return false;
        }
        if (value == item.end() || !value->is_number()) {
            problem = where + ".value must be a number";
            return false;
        }
        const double valueNumber = value->get<double>();
        if (!std::isfinite(valueNumber) || std::fabs(valueNumber) > FLT_MAX) {
            problem = where + ".value must be a finite number that fits a 32-bit float";
            return false;
        }
        if (interpolation == item.end() || !interpolation->is_string() ||
            !TrackSource::apiInterpolationCode(interpolation->get<std::string>())) {
            problem = where +
                      ".interpolation must be one of \"constant\", \"linear\", \"smoothstep\", \"quadratic\"";
            return false;
        }
        TrackKey key;
        key.row = static_cast<std::int32_t>(rowNumber);
        key.value = static_cast<float>(valueNumber);
        key.interpolation = *TrackSource::apiInterpolationCode(interpolation->get<std::string>());
        if (!rows.insert(key.row).second) {
            problem = where + ": row " + std::to_string(key.row) + " has two keys";
            return false;
        }
        keys.push_back(key);
    }
    std::sort(keys.begin(), keys.end(), [](const TrackKey& a, const TrackKey& b) { return a.row < b.row; });
    return true;
}

std::string formatClock(double seconds) {
    const double clamped = std::max(0.0, seconds);
    const int minutes = static_cast<int>(clamped / 60.0);
    char text[32];
    std::snprintf(text, sizeof text, "%d:%05.2f", minutes, clamped - minutes * 60.0);
    return text;
}

std::string formatRow(double row) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", row);
    return text;
}

} // namespace

std::string editTitle(double row, double rowsPerSecond, bool playing,
                      std::optional<std::pair<double, double>> loop, double fps, bool shaderError) {
    const double clamped = std::max(0.0, row);
    const long whole = static_cast<long>(clamped);
    const long bar = whole / EditSession::rowsPerBar + 1;
    const long beat = whole % EditSession::rowsPerBar / EditSession::rowsPerBeat + 1;
    std::string title = "Velmora | row " + formatRow(row) + " | " + std::to_string(bar) + "." +
                        std::to_string(beat) + " | " +
                        formatClock(rowsPerSecond > 0.0 ? row / rowsPerSecond : 0.0) + " | " +
                        (playing ? "playing" : "paused");
    if (loop) {
        title += " | loop " + formatRow(loop->first) + "-" + formatRow(loop->second);
    }
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.1f", fps);
    title += std::string(" | ") + rate + " fps";
    if (shaderError) {
        title += " | shader error";
    }
    return title;
}

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
    {
        std::lock_guard<std::mutex> guard(published);
        publishedRowsPerSecond = music.rowsPerSecond();
        publishedLengthRows = music.length() * music.rowsPerSecond();
        for (const std::string& name : TrackSource::trackNames()) {
            TrackState& track = publishedTracks[name];
            track.revision = nextRevision++;
            track.keys = player->sync().getTrack(name.c_str())->keys;
            std::string text;
            std::string problem;
            if (readRegularFile(TrackSource::sourcePath(name), maxTrackFileBytes, text, problem)) {
                track.description = TrackSource::description(name, text);
            }
        }
    }
    collectShaderErrors();

    watcher = FileWatcher::create();
    for (const char* folder : {"./data/shaders", "./data/science", "./data/science/src"}) {
        std::string problem;
        if (!watcher->watch(folder, problem)) {
            std::fprintf(stderr, "velmora: not watching %s for changes: %s\n", shownPath(folder).c_str(),
                         problem.c_str());
        }
    }
    player->window().setKeyHandler([this](const KeyPress& press) { onKey(press); });

    EditServerDesc serverDesc;
    serverDesc.port = options.port;
    serverDesc.token = EditServer::makeToken();
    serverDesc.pageFolder = isDirectory("./editor") ? "./editor" : VELMORA_SOURCE_DIR "/editor";
    server = std::make_unique<EditServer>(*this);
    std::string problem;
    if (!server->start(serverDesc, problem)) {
        throw Vexception("The edit server " + problem + ".");
    }
    std::printf("Edit server: http://127.0.0.1:%d/?token=%s\n", server->port(), serverDesc.token.c_str());
    std::fflush(stdout);

    if (!options.paused) {
        music.play();
    }
    lastRow = music.row();
    previousTime = seconds(SteadyClock::now().time_since_epoch());
    publishState(true);
}

int EditSession::run() {
    startUp();
    Window& window = player->window();
    // Ctrl-C or a termination request closes the session as Escape does.
    InterruptGuard interruptGuard;
    while (!window.shouldClose() && !InterruptGuard::requested()) {
        player->applyCommands();
        checkFiles();
        drawOnce();
        present();
        window.swapBuffers();
        if (player->music().isPlaying()) {
            window.pollEvents();
        } else {
            // Nothing moves while paused: wait for a key, a command (which wakes the window) or a file.
            window.waitEvents(0.05);
        }
        updateTitle();
        publishState(false);
    }
    // Requests still waiting for the drawing thread get their answers, then the server goes.
    player->applyCommands();
    server->stop();
    player->applyCommands();
    return 0;
}

double EditSession::lengthRows() const {
    return player->music().length() * player->music().rowsPerSecond();
}

double EditSession::currentRow() const {
    return player->music().row();
}

void EditSession::drawOnce() {
    Music& music = player->music();
    ShowClock& clock = player->clock();
    const auto now = SteadyClock::now();
    const double nowSeconds = seconds(now.time_since_epoch());
    if (music.isPlaying()) {
        clock.follow();
        // The end of the music, or of the show: pause there.
        if (music.ended() || player->endReached()) {
            pauseAtEnd();
        } else if (music.row() < lastRow) {
            // A loop wrap: the trails are rebuilt as after any seek.
            needsWarm = true;
        }
    }
    const double row = music.row();
    bool drew = true;
    if (needsWarm) {
        player->drawWarmFrames(row);
        needsWarm = false;
    } else if (music.isPlaying()) {
        clock.follow();
        player->bindTarget();
        player->drawFrame(nowSeconds - previousTime);
    } else {
        drew = false;
    }
    if (drew) {
        ++framesDrawn;
        drawnRow = row;
        frameTimes.push_back(nowSeconds);
        if (announceNextFrame || !music.isPlaying()) {
            announceNextFrame = false;
            publishState(true);
        }
    }
    if (music.isPlaying()) {
        clock.follow();
    } else {
        clock.hold(row, row / music.rowsPerSecond());
    }
    lastRow = row;
    previousTime = nowSeconds;
    while (!frameTimes.empty() && frameTimes.front() < nowSeconds - 1.0) {
        frameTimes.erase(frameTimes.begin());
    }
}

void EditSession::present() {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, held->id());
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glBlitFramebuffer(0, 0, held->width(), held->height(), 0, 0, held->width(), held->height(),
                      GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
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
        seekRow(row - (press.shift ? rowsPerBar : rowsPerBeat));
        break;
    case Key::Right:
        seekRow(row + (press.shift ? rowsPerBar : rowsPerBeat));
        break;
    case Key::PageUp:
        seekRow(row - 8 * rowsPerBar);
        break;
    case Key::PageDown:
        seekRow(row + 8 * rowsPerBar);
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

void EditSession::rememberOwnWrite(const std::string& path, const std::string& bytes) {
    ownWrites[path] = std::hash<std::string>()(bytes);
}

bool EditSession::isOwnWrite(const std::string& path) {
    const auto written = ownWrites.find(path);
    if (written == ownWrites.end()) {
        return false;
    }
    std::string bytes;
    std::string problem;
    const bool same = readRegularFile(path, maxTrackFileBytes, bytes, problem) &&
                      std::hash<std::string>()(bytes) == written->second;
    ownWrites.erase(written);
    return same;
}

void EditSession::checkFiles() {
    const auto now = SteadyClock::now();
    if (watcher) {
        for (const std::string& path : watcher->changes()) {
            pendingFiles[path] = now;
        }
    }
    for (auto file = pendingFiles.begin(); file != pendingFiles.end();) {
        if (now - file->second < settleTime) {
            ++file;
            continue;
        }
        const std::string path = file->first;
        file = pendingFiles.erase(file);
        if (isOwnWrite(path)) {
            continue;
        }
        if (path.rfind("./data/shaders/", 0) == 0) {
            reloadShaderFile(path);
        } else if (const std::optional<std::string> name = TrackSource::trackOfSource(path)) {
            reloadTrackSource(*name);
        } else if (const std::optional<std::string> compiled = TrackSource::trackOfCompiled(path)) {
            reloadTrackFile(*compiled);
        }
    }
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
            EditError error{shownPath(problem.file), problem.line, problem.message};
            if (std::find(found.begin(), found.end(), error) == found.end()) {
                found.push_back(error);
            }
        }
    }
    if (found == shaderErrors) {
        return;
    }
    for (const EditError& error : found) {
        if (std::find(shaderErrors.begin(), shaderErrors.end(), error) == shaderErrors.end()) {
            std::fprintf(stderr, "velmora: %s:%d: %s\n", error.file.c_str(), error.line,
                         error.message.c_str());
        }
    }
    shaderErrors = found;
    publishState(true);
    hub.publish("error", Json{{"errors", publishedState["errors"]}}.dump());
}

void EditSession::setTrackError(const std::string& name, std::optional<EditError> error) {
    const auto existing = trackErrors.find(name);
    if (!error) {
        if (existing == trackErrors.end()) {
            return;
        }
        trackErrors.erase(existing);
    } else {
        if (existing != trackErrors.end() && existing->second == *error) {
            return;
        }
        std::fprintf(stderr, "velmora: %s:%d: %s\n", error->file.c_str(), error->line,
                     error->message.c_str());
        trackErrors[name] = *error;
    }
    publishState(true);
    hub.publish("error", Json{{"errors", publishedState["errors"]}}.dump());
}

void EditSession::reloadTrackSource(const std::string& name) {
    const std::string source = TrackSource::sourcePath(name);
    std::string text;
    std::string problem;
    if (!readRegularFile(source, maxTrackFileBytes, text, problem)) {
        // Removed or replaced by something else: the running keys stay.
        setTrackError(name, EditError{shownPath(source), 0, problem});
        hub.publish("reloaded", Json{{"file", shownPath(source)}, {"ok", false}}.dump());
        return;
    }
    const TrackText::Result parsed = TrackText::parse(text);
    if (!parsed.ok()) {
        for (const TrackText::Message& message : parsed.messages) {
            if (message.error) {
                setTrackError(name, EditError{shownPath(source), message.line, message.text});
                break;
            }
        }
        hub.publish("reloaded", Json{{"file", shownPath(source)}, {"ok", false}}.dump());
        return;
    }
    std::vector<TrackKey> keys = TrackFile::sortKeys(parsed.keys);
    const std::vector<unsigned char> image = TrackFile::encode(keys);
    const std::string bytes(image.begin(), image.end());
    const std::string compiled = TrackSource::compiledPath(name);
    rememberOwnWrite(compiled, bytes);
    if (!writeFileReplacing(compiled, bytes, problem)) {
        ownWrites.erase(compiled);
        setTrackError(name, EditError{shownPath(compiled), 0, "cannot write: " + problem});
        hub.publish("reloaded", Json{{"file", shownPath(source)}, {"ok", false}}.dump());
        return;
    }
    player->sync().setKeys(name, std::move(keys));
    setTrackError(name, std::nullopt);
    {
        std::lock_guard<std::mutex> guard(published);
        publishedTracks[name].description = TrackSource::description(name, text);
    }
    trackChanged(name, "disk");
    hub.publish("reloaded", Json{{"file", shownPath(source)}, {"ok", true}}.dump());
}

void EditSession::reloadTrackFile(const std::string& name) {
    player->sync().reload(name);
    trackChanged(name, "disk");
    hub.publish("reloaded", Json{{"file", shownPath(TrackSource::compiledPath(name))}, {"ok", true}}.dump());
}

void EditSession::trackChanged(const std::string& name, const char* source) {
    const std::int64_t revision = nextRevision++;
    {
        std::lock_guard<std::mutex> guard(published);
        TrackState& track = publishedTracks[name];
        track.revision = revision;
        track.keys = player->sync().getTrack(name.c_str())->keys;
    }
    hub.publish(
        "track",
        Json{{"name", name}, {"revision", revision}, {"source", source}, {"frame", framesDrawn}}.dump());
    if (!player->music().isPlaying()) {
        needsWarm = true;
    }
    announceNextFrame = true;
}

bool EditSession::saveTrack(const std::string& name, const std::vector<TrackKey>& keys, std::string& error) {
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

    rememberOwnWrite(source, text);
    if (!writeFileReplacing(source, text, problem)) {
        ownWrites.erase(source);
        error = shownPath(source) + ": " + problem;
        return false;
    }
    rememberOwnWrite(compiled, bytes);
    if (!writeFileReplacing(compiled, bytes, problem)) {
        ownWrites.erase(compiled);
        error = shownPath(compiled) + ": " + problem;
        // The source goes back to what it was, so the two files still agree.
        std::string ignored;
        if (hadSource) {
            rememberOwnWrite(source, previousSource);
            writeFileReplacing(source, previousSource, ignored);
        } else {
            removeFile(source);
        }
        return false;
    }
    return true;
}

Json EditSession::stateJson() const {
    const Music& music = player->music();
    const double rate = music.rowsPerSecond();
    Json loop = nullptr;
    if (const std::optional<Music::Loop> range = music.loop()) {
        loop = Json{{"from", range->from * rate}, {"to", range->to * rate}};
    }
    std::vector<EditError> errors = shaderErrors;
    for (const auto& entry : trackErrors) {
        errors.push_back(entry.second);
    }
    const double row = music.row();
    return Json{{"row", row},
                {"seconds", rate > 0.0 ? row / rate : 0.0},
                {"playing", music.isPlaying()},
                {"loop", loop},
                {"rowsPerSecond", rate},
                {"rowsPerBeat", rowsPerBeat},
                {"lengthRows", lengthRows()},
                {"fps", static_cast<double>(frameTimes.size())},
                {"frame", framesDrawn},
                {"drawnRow", drawnRow},
                {"errors", errorsJson(errors)}};
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
        publishedState = state;
    }
    lastStateEvent = now;
    hub.publish("state", state.dump());
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
                                        static_cast<double>(frameTimes.size()), !shaderErrors.empty()));
}

Reply EditSession::onDrawingThread(std::function<Reply()> work) {
    auto promise = std::make_shared<std::promise<Reply>>();
    std::future<Reply> answer = promise->get_future();
    player->post([promise, work = std::move(work)] { promise->set_value(work()); });
    Window::wake();
    if (answer.wait_for(answerTime) != std::future_status::ready) {
        return Reply::error(503, "the show did not answer in time");
    }
    try {
        return answer.get();
    } catch (const std::exception& error) {
        return Reply::error(503, std::string("the show is closing: ") + error.what());
    }
}

Reply EditSession::state() {
    std::lock_guard<std::mutex> guard(published);
    return Reply::json(publishedState);
}

Reply EditSession::transport(const Json& body) {
    if (!body.is_object() || body.size() != 1) {
        return Reply::error(400,
                            "the body must be one of {\"play\": BOOL}, {\"seek\": ROW}, {\"loop\": {...}}, "
                            "{\"loop\": null}");
    }
    const Json::const_iterator command = body.begin();
    const std::string key = command.key();
    const Json& value = command.value();
    if (key == "play") {
        if (!value.is_boolean()) {
            return Reply::error(400, "play: must be true or false");
        }
        const bool play = value.get<bool>();
        return onDrawingThread([this, play] {
            setPlaying(play);
            return Reply::json(stateJson());
        });
    }
    if (key == "seek") {
        if (!value.is_number() || !std::isfinite(value.get<double>())) {
            return Reply::error(400, "seek: must be a finite number of rows");
        }
        const double row = value.get<double>();
        return onDrawingThread([this, row] {
            seekRow(row);
            return Reply::json(stateJson());
        });
    }
    if (key == "loop") {
        if (value.is_null()) {
            return onDrawingThread([this] {
                clearLoop();
                return Reply::json(stateJson());
            });
        }
        const auto from = value.is_object() ? value.find("from") : value.end();
        const auto to = value.is_object() ? value.find("to") : value.end();
        if (!value.is_object() || value.size() != 2 || from == value.end() || to == value.end() ||
            !from->is_number() || !to->is_number() || !std::isfinite(from->get<double>()) ||
            !std::isfinite(to->get<double>())) {
            return Reply::error(400, "loop: must be null or {\"from\": ROW, \"to\": ROW}");
        }
        const double start = from->get<double>();
        const double end = to->get<double>();
        return onDrawingThread([this, start, end] {
            if (!(start < end)) {
                return Reply::error(400, "loop: \"to\" must be after \"from\"");
            }
            if (start < 0.0 || end > lengthRows()) {
                return Reply::error(400, "loop: both ends must be within 0 .. " + formatRow(lengthRows()) +
                                             " rows");
            }
            if (!setLoopRows(start, end)) {
                return Reply::error(400, "loop: the range is too short");
            }
            return Reply::json(stateJson());
        });
    }
    return Reply::error(400, "unknown transport command \"" + key + "\"");
}

Reply EditSession::tracks() {
    Json list = Json::array();
    std::lock_guard<std::mutex> guard(published);
    for (const std::string& name : TrackSource::trackNames()) {
        const TrackState& track = publishedTracks[name];
        list.push_back(Json{{"name", name},
                            {"revision", track.revision},
                            {"description", track.description},
                            {"keys", keysJson(track.keys)}});
    }
    return Reply::json(list);
}

Reply EditSession::track(const std::string& name) {
    if (!TrackSource::isTrackName(name)) {
        return Reply::error(404, "no track named \"" + name + "\"");
    }
    std::lock_guard<std::mutex> guard(published);
    const TrackState& track = publishedTracks[name];
    return Reply::json(Json{{"name", name},
                            {"revision", track.revision},
                            {"description", track.description},
                            {"keys", keysJson(track.keys)}});
}

Reply EditSession::putTrack(const std::string& name, const Json& body) {
    if (!TrackSource::isTrackName(name)) {
        return Reply::error(404, "no track named \"" + name + "\"");
    }
    if (!body.is_object() || !body.contains("revision") || !body.contains("keys")) {
        return Reply::error(400, "the body must be {\"revision\": N, \"keys\": [...]}");
    }
    const Json& revisionField = body["revision"];
    if (!revisionField.is_number_integer()) {
        return Reply::error(400, "\"revision\" must be a whole number");
    }
    const std::int64_t revision = revisionField.get<std::int64_t>();
    std::vector<TrackKey> keys;
    std::string problem;
    if (!parseKeys(body["keys"], keys, problem)) {
        return Reply::error(400, problem);
    }
    return onDrawingThread([this, name, revision, keys = std::move(keys)] {
        // Only this thread changes the tracks, so what it published is current.
        const std::int64_t current = publishedTracks[name].revision;
        if (revision != current) {
            return Reply::json(
                Json{{"error", name + " was changed elsewhere (revision " + std::to_string(current) + ")"},
                     {"revision", current}},
                409);
        }
        std::string error;
        if (!saveTrack(name, keys, error)) {
            std::fprintf(stderr, "velmora: cannot save the track %s: %s\n", name.c_str(), error.c_str());
            return Reply::error(500, "cannot save: " + error);
        }
        player->sync().setKeys(name, keys);
        setTrackError(name, std::nullopt);
        trackChanged(name, "api");
        return Reply::json(Json{{"name", name}, {"revision", publishedTracks[name].revision}});
    });
}

Reply EditSession::values(const std::string& name, double from, double to, double step) {
    if (!TrackSource::isTrackName(name)) {
        return Reply::error(404, "no track named \"" + name + "\"");
    }
    if (!(step > 0.0) || !(from <= to)) {
        return Reply::error(400, "values: need from <= to and step > 0");
    }
    const double count = std::floor((to - from) / step) + 1.0;
    if (!(count <= maxValues)) {
        return Reply::error(400, "values: at most " + std::to_string(maxValues) + " values at a time");
    }
    TrackData data;
    data.name = name;
    {
        std::lock_guard<std::mutex> guard(published);
        data.keys = publishedTracks[name].keys;
    }
    Json list = Json::array();
    for (int i = 0; i < static_cast<int>(count); ++i) {
        const double value = valueAt(data, from + i * step);
        list.push_back(std::isfinite(value) ? Json(value) : Json(nullptr));
    }
    return Reply::json(Json{{"name", name}, {"from", from}, {"to", to}, {"step", step}, {"values", list}});
}

Reply EditSession::waveform(double rowsPerBucket) {
    double rate = 0.0;
    double length = 0.0;
    {
        std::lock_guard<std::mutex> guard(published);
        rate = publishedRowsPerSecond;
        length = publishedLengthRows;
    }
    if (!(rowsPerBucket > 0.0)) {
        return Reply::error(400, "rowsPerBucket must be more than 0");
    }
    const double buckets = std::ceil(length / rowsPerBucket);
    if (!(buckets <= maxBuckets)) {
        return Reply::error(400,
                            "rowsPerBucket is too small: at most " + std::to_string(maxBuckets) + " buckets");
    }
    const Music& music = player->music();
    const double framesPerRow = music.sampleRate() / rate;
    Json lows = Json::array();
    Json highs = Json::array();
    for (int b = 0; b < static_cast<int>(buckets); ++b) {
        const std::int64_t first = std::llround(b * rowsPerBucket * framesPerRow);
        const std::int64_t next = std::llround((b + 1) * rowsPerBucket * framesPerRow);
        float low = 0.0f;
        float high = 0.0f;
        music.waveform(first, std::max<std::int64_t>(next - first, 1), 1, &low, &high);
        lows.push_back(TrackSource::shortestFloatValue(low));
        highs.push_back(TrackSource::shortestFloatValue(high));
    }
    return Reply::json(Json{{"rowsPerBucket", rowsPerBucket}, {"min", lows}, {"max", highs}});
}

Reply EditSession::spectrum(double row) {
    double rate = 0.0;
    {
        std::lock_guard<std::mutex> guard(published);
        rate = publishedRowsPerSecond;
    }
    float bins[512];
    player->music().spectrumAt(row / rate, bins);
    Json list = Json::array();
    for (float bin : bins) {
        list.push_back(bin);
    }
    return Reply::json(Json{{"row", row}, {"values", list}});
}

Reply EditSession::frame(int maxWidth) {
    auto pixels = std::make_shared<std::vector<uint8_t>>();
    const int width = options.width;
    const int height = options.height;
    Reply read = onDrawingThread([this, pixels, width, height] {
        glBindFramebuffer(GL_READ_FRAMEBUFFER, held->id());
        *pixels = readPixelsTopDown(width, height);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        return Reply();
    });
    if (read.status != 200) {
        return read;
    }
    // Shrunk and compressed here, on the server's thread, not the drawing thread.
    int outWidth = width;
    int outHeight = height;
    if (maxWidth > 0 && width > maxWidth) {
        const int factor = (width + maxWidth - 1) / maxWidth;
        *pixels = shrinkPixels(*pixels, width, height, factor, &outWidth, &outHeight);
    }
    PngEncoder encoder;
    const PngEncoder::Bytes png = encoder.encode(pixels->data(), outWidth, outHeight);
    Reply reply;
    reply.body.assign(reinterpret_cast<const char*>(png.data), png.size);
    reply.contentType = "image/png";
    return reply;
}

} // namespace Velmora
