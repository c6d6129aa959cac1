#include "app/farm/FarmRun.h"

#include "app/check/DataCheck.h"
#include "app/offline/OfflineRun.h"
#include "app/offline/OfflineStage.h"
#include "audio/Music.h"
#include "base/Files.h"
#include "base/Platform.h"
#include "base/Process.h"
#include "base/Sha256.h"
#include "base/Vexception.h"
#include "capture/FfmpegEncoder.h"
#include "capture/FramePlan.h"
#include "capture/FrameWriter.h"
#include "capture/PngEncoder.h"
#include "capture/PngFolderWriter.h"
#include "capture/ProgressLine.h"
#include "capture/WavWriter.h"
#include "engine/PixelPackBuffer.h"
#include "farm/ChunkManifest.h"
#include "farm/FarmPlan.h"
#include "farm/JoinProof.h"
#include "player/Player.h"
#include "sync/SyncTrack.h"

#include <GL/glew.h>
#include <stb_image.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#ifndef VELMORA_VERSION
#define VELMORA_VERSION "0"
#endif

namespace Velmora {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void complain(const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "velmora: %s\n", message.c_str());
}

void say(const std::string& message) {
    std::fprintf(stderr, "%s\n", message.c_str());
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) {
        return name;
    }
    return folder + (isPathSeparator(folder.back()) ? "" : "/") + name;
}

std::string frameRange(int64_t from, int64_t to) {
    return "frames " + std::to_string(from) + ".." + std::to_string(to - 1);
}

std::string chunkName(int index) {
    return "chunk " + std::to_string(index);
}

// Everything a chunk or the assembly draws with: the hidden window, the offline music, the show,
// the off-screen target, and what identifies the run.
struct FarmStage {
    std::unique_ptr<Player> player;
    std::unique_ptr<OffscreenTarget> target;
    FramePlan frames;
    std::vector<int64_t> resets; // frames of the span where the trails are wiped
    std::string build;
    std::string data;
    std::string renderer;
    std::string glVersion;
};

std::string glText(GLenum name) {
    const GLubyte* text = glGetString(name);
    std::string value = text != nullptr ? reinterpret_cast<const char*>(text) : "unknown";
    std::replace(value.begin(), value.end(), '\n', ' ');
    return value;
}

// Opens everything for a span [from, to) seconds at `fps` and `width` x `height`. Returns the
// problem, or an empty string.
std::string openStage(int width, int height, int fps, double from, double to, bool hasTo, FarmStage& stage) {
    std::string error;
    stage.build = buildIdentity(error);
    if (stage.build.empty()) {
        return "cannot identify this program: " + error;
    }
    if (!folderHash("./data", stage.data, error)) {
        return "cannot hash the data folder: " + error;
    }
    PlayerDesc desc;
    desc.width = width;
    desc.height = height;
    desc.hidden = true;
    stage.player = std::make_unique<Player>(desc);
    Player& player = *stage.player;
    stage.renderer = glText(GL_RENDERER);
    stage.glVersion = glText(GL_VERSION);
    player.openMusic(true);
    Music& music = player.music();
    const double length = music.length();
    if (from >= length) {
        return "--from is beyond the music";
    }
    {
        SyncTrack endTrack(player.sync(), "e");
        SyncTrack amount(player.sync(), "feedbackAmount");
        SyncTrack multiplier(player.sync(), "feedbackMultiplier");
        int64_t k = 0;
        int64_t first = firstFrameAt(from, fps);
        stage.frames = planFrames(from, hasTo ? std::min(to, length) : length, fps, [&](double seconds) {
            music.setPosition(seconds);
            // The feedback keeps clamp(fa * multiplier, 0, 0.985) of the previous frame (in floats).
            const float keep = static_cast<float>(amount.value()) * static_cast<float>(multiplier.value());
            if (!(keep > 0.0f)) {
                stage.resets.push_back(first + k);
            }
            ++k;
            return endTrack.value() >= 0.0;
        });
        // The frame that ended the show was asked about too.
        while (!stage.resets.empty() && stage.resets.back() >= stage.frames.first + stage.frames.frameCount) {
            stage.resets.pop_back();
        }
    }
    if (stage.frames.frameCount == 0) {
        return "nothing to draw: the show has ended there";
    }
    player.buildShow();
    const std::vector<DataProblem> problems = unlinkedProgramProblems();
    if (!problems.empty()) {
        return formatProblem(problems.front());
    }
    stage.target = std::make_unique<OffscreenTarget>(width, height);
    player.setTarget(stage.target.get());
    return "";
}

// PNG encoders for the writer threads, kept with their buffers.
class EncoderPool {
public:
    std::unique_ptr<PngEncoder> take() {
        std::lock_guard<std::mutex> guard(lock);
        if (idle.empty()) {
            return std::make_unique<PngEncoder>();
        }
        std::unique_ptr<PngEncoder> encoder = std::move(idle.back());
        idle.pop_back();
        return encoder;
    }
    void give(std::unique_ptr<PngEncoder> encoder) {
        std::lock_guard<std::mutex> guard(lock);
        idle.push_back(std::move(encoder));
    }

private:
    std::mutex lock;
    std::vector<std::unique_ptr<PngEncoder>> idle;
};

// What a chunk run starts from: a reset show, or a neighbour's saved state after a frame.
struct ChunkStart {
    bool resume = false;
    int64_t after = 0;
    std::vector<uint8_t> state;
    std::string stateHash;
};

// Draws one chunk into `folder` and writes its manifest last. Throws Vexception naming the chunk
// and the reason.
ChunkManifest drawChunk(FarmStage& stage, const FarmPlan& plan, const ChunkRange& range,
                        const ChunkStart& start, const std::string& folder, const std::string& label) {
    const std::string name = chunkName(range.index);
    std::string reason;
    if (!makeDirectories(folder, reason)) {
        throw Vexception(name + ": cannot create the folder '" + folder + "': " + reason);
    }
    CaptureFolderClaim claim(folder);
    if (!claim.held()) {
        throw Vexception(name + ": cannot write into '" + folder + "': " + claim.problem());
    }
    // Until the new manifest is written, the chunk is incomplete.
    const std::string manifestPath = joinPath(folder, "manifest.txt");
    if (pathExists(manifestPath) && !removeFile(manifestPath)) {
        throw Vexception(name + ": cannot remove the earlier '" + manifestPath + "'");
    }

    Player& player = *stage.player;
    ChunkManifest manifest;
    manifest.plan = plan;
    manifest.index = range.index;
    manifest.start = range.start;
    manifest.end = range.end;
    manifest.renderFrom = range.renderFrom;
    manifest.renderEnd = range.renderEnd;
    manifest.build = stage.build;
    manifest.data = stage.data;
    manifest.renderer = stage.renderer;
    manifest.glVersion = stage.glVersion;

    player.resetShow();
    int64_t first = range.renderFrom;
    if (start.resume) {
        const std::string problem = player.demo().restoreCarriedState(start.state);
        if (!problem.empty()) {
            throw Vexception(name + ": cannot start from the saved state: " + problem);
        }
        manifest.resumed = true;
        manifest.resumedAfter = start.after;
        manifest.resumedState = start.stateHash;
        first = start.after + 1;
    }
    const int width = plan.width;
    const int height = plan.height;
    const size_t frameBytes = static_cast<size_t>(width) * height * 4;
    EncoderPool encoders;
    std::mutex hashesLock;
    std::map<int64_t, std::string> pngHashes;
    const int threads = std::max(1, std::min(4, static_cast<int>(std::thread::hardware_concurrency())));
    FrameWriter writer(frameBytes, threads, threads + 2, [&](int64_t index, const uint8_t* frame) {
        std::unique_ptr<PngEncoder> encoder = encoders.take();
        const PngEncoder::Bytes png = encoder->encode(frame, width, height);
        const std::string hash = Sha256::of(png.data, png.size);
        writeFileAtomically(joinPath(folder, PngFolderWriter::frameName(index)), png.data, png.size);
        encoders.give(std::move(encoder));
        std::lock_guard<std::mutex> guard(hashesLock);
        pngHashes[index] = hash;
    });

    InterruptGuard interruptGuard;
    ProgressLine progress(isTerminal(stderr), label, range.renderEnd - first);
    const Clock::time_point began = Clock::now();
    // The state is read on this thread and hashed on others, a few frames behind.
    std::shared_ptr<std::vector<uint8_t>> lastState;
    std::deque<std::pair<int64_t, std::future<std::string>>> stateHashes;
    auto collectHash = [&]() {
        manifest.frames[stateHashes.front().first].state = stateHashes.front().second.get();
        stateHashes.pop_front();
    };
    const size_t hashesAhead = static_cast<size_t>(std::max(2, threads));
    for (int64_t g = first; g < range.renderEnd; ++g) {
        if (InterruptGuard::requested()) {
            throw Vexception(name + ": interrupted (" + InterruptGuard::what() + "); it has no manifest");
        }
        player.drawShowFrame(g, plan.fps);
        if (g >= range.start) {
            glBindFramebuffer(GL_READ_FRAMEBUFFER, stage.target->id());
            const std::vector<uint8_t> pixels = readPixelsTopDown(width, height);
            uint8_t* buffer = writer.acquire();
            std::memcpy(buffer, pixels.data(), frameBytes);
            writer.submit(g, buffer);
        }
        lastState = std::make_shared<std::vector<uint8_t>>(player.demo().carriedState());
        if (lastState->empty()) {
            throw Vexception(name + ": the show cannot tell the state it carries");
        }
        stateHashes.emplace_back(g, std::async(std::launch::async, [state = lastState] {
                                     return Sha256::of(state->data(), state->size());
                                 }));
        if (stateHashes.size() > hashesAhead) {
            collectHash();
        }
        player.window().pollEvents();
        progress.update(g + 1 - first, secondsSince(began));
    }
    while (!stateHashes.empty()) {
        collectHash();
    }
    writer.finish();
    progress.finish(range.renderEnd - first, secondsSince(began));
    for (auto& [index, frame] : manifest.frames) {
        if (index >= range.start) {
            frame.png = pngHashes[index];
        }
    }
    manifest.savedFrame = range.renderEnd - 1;
    manifest.savedState = manifest.frames[manifest.savedFrame].state;
    writeFileAtomically(joinPath(folder, "state.bin"), lastState->data(), lastState->size());
    const std::string text = manifest.text();
    std::string error;
    if (!writeFileReplacing(manifestPath, text, error)) {
        throw Vexception(name + ": cannot write '" + manifestPath + "': " + error);
    }
    return manifest;
}

// The plan of a chunked render from the options of a chunk run and its stage.
FarmPlan planFromOptions(const CaptureOptions& options, const FarmStage& stage) {
    FarmPlan plan;
    plan.fps = options.fps;
    plan.width = options.width;
    plan.height = options.height;
    plan.first = stage.frames.first;
    plan.end = stage.frames.first + stage.frames.frameCount;
    plan.lead = showLeadIn;
    plan.chunks = options.chunkCount;
    plan.preroll =
        options.preroll >= 0 ? options.preroll : int64_t(FarmPlan::defaultPrerollSeconds) * options.fps;
    plan.overlap =
        options.overlap >= 0 ? options.overlap : int64_t(FarmPlan::defaultOverlapSeconds) * options.fps;
    return plan;
}

int64_t shortestChunk(const std::vector<int64_t>& bounds) {
    int64_t shortest = bounds[1] - bounds[0];
    for (size_t i = 1; i + 1 < bounds.size(); ++i) {
        shortest = std::min(shortest, bounds[i + 1] - bounds[i]);
    }
    return shortest;
}

// The overlap must leave every chunk a frame of its own to be proven in.
std::string checkBounds(const FarmPlan& plan, const std::vector<int64_t>& bounds) {
    const int64_t shortest = shortestChunk(bounds);
    if (plan.chunks > 1 && plan.overlap >= shortest) {
        return "--overlap " + std::to_string(plan.overlap) + " is not shorter than the shortest chunk (" +
               std::to_string(shortest) + " frames): use fewer chunks or a shorter overlap";
    }
    return "";
}

} // namespace

std::string buildIdentity(std::string& error) {
    const std::string program = executablePath();
    if (program.empty()) {
        error = "the system does not say where the program is";
        return "";
    }
    std::string hex;
    if (!sha256OfFile(program, hex, error)) {
        error = "'" + program + "' " + error;
        return "";
    }
    return std::string("velmora ") + VELMORA_VERSION + " sha256:" + hex;
}

bool folderHash(const std::string& folder, std::string& hex, std::string& error) {
    Sha256 sha;
    std::vector<std::string> pending = {""};
    std::vector<std::string> files;
    while (!pending.empty()) {
        const std::string relative = pending.back();
        pending.pop_back();
        const std::string path = relative.empty() ? folder : folder + "/" + relative;
        for (const std::string& name : listDirectory(path)) {
            const std::string child = relative.empty() ? name : relative + "/" + name;
            const FileType type = fileInfo(folder + "/" + child).type;
            if (type == FileType::Directory) {
                pending.push_back(child);
            } else {
                files.push_back(child);
            }
        }
    }
    if (files.empty()) {
        error = "'" + folder + "' holds no file";
        return false;
    }
    std::sort(files.begin(), files.end());
    for (const std::string& file : files) {
        std::string fileHex;
        if (!sha256OfFile(folder + "/" + file, fileHex, error)) {
            error = "'" + folder + "/" + file + "' " + error;
            return false;
        }
        sha.add(file + "\n" + fileHex + "\n");
    }
    hex = sha.hex();
    return true;
}

int runChunk(const CaptureOptions& options) {
    if (captureOutputKind(options.output) != CaptureOutputKind::Folder) {
        complain("--chunk writes into a folder: give --capture DIR/");
        return offlineRefused;
    }
    FarmStage stage;
    std::string problem;
    try {
        problem = openStage(options.width, options.height, options.fps, options.from, options.to,
                            options.hasTo, stage);
    } catch (const std::exception& error) {
        problem = error.what();
    }
    if (!problem.empty()) {
        complain(chunkName(options.chunkIndex) + ": " + problem);
        return offlineRefused;
    }
    FarmPlan plan = planFromOptions(options, stage);
    problem = checkFarmPlan(plan);
    const std::vector<int64_t> bounds =
        problem.empty() ? chunkBounds(plan, stage.resets) : std::vector<int64_t>();
    if (problem.empty() && options.overlap < 0) {
        // The default overlap, shortened to fit short chunks.
        plan.overlap = std::min(plan.overlap, shortestChunk(bounds) - 1);
    }
    if (problem.empty()) {
        problem = checkBounds(plan, bounds);
    }
    if (problem.empty() && options.chunkIndex >= plan.chunks) {
        problem =
            "there is no chunk " + std::to_string(options.chunkIndex) + " of " + std::to_string(plan.chunks);
    }
    if (!problem.empty()) {
        complain(chunkName(options.chunkIndex) + ": " + problem);
        return offlineRefused;
    }
    const ChunkRange range = chunkRange(plan, bounds, stage.resets, options.chunkIndex);
    const std::string folder = joinPath(options.output, chunkFolderName(range.index));
    say("chunk " + std::to_string(range.index) + " of " + std::to_string(plan.chunks) + ": " +
        frameRange(range.start, range.end) + ", drawn from frame " + std::to_string(range.renderFrom) +
        " to " + std::to_string(range.renderEnd - 1) + ", into " + folder);
    const Clock::time_point began = Clock::now();
    try {
        drawChunk(stage, plan, range, ChunkStart(), folder, "chunk " + std::to_string(range.index));
    } catch (const std::exception& error) {
        complain(error.what());
        return offlineFailed;
    }
    char done[160];
    std::snprintf(done, sizeof done, "chunk %d: done in %.1f s", range.index, secondsSince(began));
    say(done);
    return offlineDone;
}

namespace {

// The assembly's chunks, as found in the folder and after any drawing again.
struct Assembly {
    std::string folder;
    FarmPlan plan;
    std::vector<int64_t> bounds;
    std::vector<std::optional<ChunkManifest>> manifests;
};

// Reads chunk i's manifest: nothing when it has none (missing or incomplete); throws naming the
// chunk and the reason when it has one that cannot be used.
std::optional<ChunkManifest> readManifest(const std::string& folder, int index) {
    const std::string path = joinPath(joinPath(folder, chunkFolderName(index)), "manifest.txt");
    if (fileInfo(path).type == FileType::Missing) {
        return std::nullopt;
    }
    std::string text, error;
    if (!readRegularFile(path, 1u << 30, text, error)) {
        throw Vexception(chunkName(index) + ": cannot read '" + path + "': " + error);
    }
    ChunkManifest manifest;
    if (!ChunkManifest::parse(text, manifest, error)) {
        throw Vexception(chunkName(index) + ": '" + path + "' is not a usable manifest: " + error);
    }
    if (manifest.index != index) {
        throw Vexception(chunkName(index) + ": '" + path + "' is the manifest of chunk " +
                         std::to_string(manifest.index));
    }
    return manifest;
}

// The plan, from the first chunk folder that has a manifest.
FarmPlan findPlan(const std::string& folder) {
    std::vector<std::string> names = listDirectory(folder);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (name.size() != 10 || name.compare(0, 6, "chunk-") != 0) {
            continue;
        }
        const int index = std::atoi(name.c_str() + 6);
        if (chunkFolderName(index) != name) {
            continue;
        }
        std::optional<ChunkManifest> manifest = readManifest(folder, index);
        if (manifest) {
            return manifest->plan;
        }
    }
    throw Vexception("'" + folder + "' holds no chunk with a manifest (chunk-NNNN/manifest.txt)");
}

// Checks a chunk against the plan, the assembly's build and data, and the first chunk's renderer.
void checkChunk(const ChunkManifest& chunk, const Assembly& assembly, const FarmStage& stage,
                const std::vector<int64_t>& resets, const ChunkManifest* reference) {
    const std::string name = chunkName(chunk.index);
    if (chunk.plan != assembly.plan) {
        throw Vexception(name + " belongs to another plan (" + chunk.plan.text() + ", not " +
                         assembly.plan.text() + ")");
    }
    if (chunk.build != stage.build) {
        throw Vexception(name + " was drawn by another build (" + chunk.build + "; this is " + stage.build +
                         ")");
    }
    if (chunk.data != stage.data) {
        throw Vexception(name + " was drawn from other data (data " + chunk.data + "; here " + stage.data +
                         ")");
    }
    if (reference != nullptr &&
        (chunk.renderer != reference->renderer || chunk.glVersion != reference->glVersion)) {
        throw Vexception(name + " was drawn by another renderer (" + chunk.renderer + ", " + chunk.glVersion +
                         "; chunk " + std::to_string(reference->index) + ": " + reference->renderer + ", " +
                         reference->glVersion + ")");
    }
    const ChunkRange range = chunkRange(assembly.plan, assembly.bounds, resets, chunk.index);
    if (chunk.start != range.start || chunk.end != range.end || chunk.renderEnd != range.renderEnd) {
        throw Vexception(name + " covers " + frameRange(chunk.start, chunk.end) + ", the plan gives it " +
                         frameRange(range.start, range.end));
    }
}

// Reads a chunk's frame file and checks it against the manifest.
std::string readFrameFile(const Assembly& assembly, int chunk, int64_t g) {
    const ChunkManifest& manifest = *assembly.manifests[static_cast<size_t>(chunk)];
    const ChunkFrame* frame = manifest.frame(g);
    const std::string path =
        joinPath(joinPath(assembly.folder, chunkFolderName(chunk)), PngFolderWriter::frameName(g));
    if (frame == nullptr || frame->png.empty()) {
        throw Vexception(chunkName(chunk) + ": frame " + std::to_string(g) + " is not in its manifest");
    }
    std::string bytes, error;
    if (!readRegularFile(path, 1u << 30, bytes, error)) {
        throw Vexception(chunkName(chunk) + ": cannot read '" + path + "': " + error);
    }
    if (Sha256::of(bytes) != frame->png) {
        throw Vexception(chunkName(chunk) + ": '" + path +
                         "' is not the file its manifest names (damaged or replaced)");
    }
    return bytes;
}

// A frame of the output, read and checked (and decoded to RGBA for a video).
struct LoadedFrame {
    std::string bytes;
    std::vector<uint8_t> pixels;
};

std::vector<uint8_t> decodeFrame(const std::string& bytes, const FarmPlan& plan, int chunk, int64_t g) {
    int w = 0, h = 0, channels = 0;
    unsigned char* decoded = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()),
                                                   static_cast<int>(bytes.size()), &w, &h, &channels, 4);
    std::vector<uint8_t> pixels;
    if (decoded != nullptr && w == plan.width && h == plan.height) {
        pixels.assign(decoded, decoded + static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    }
    if (decoded != nullptr) {
        stbi_image_free(decoded);
    }
    if (pixels.empty()) {
        throw Vexception(chunkName(chunk) + ": frame " + std::to_string(g) + " cannot be decoded as a " +
                         std::to_string(plan.width) + "x" + std::to_string(plan.height) + " PNG");
    }
    return pixels;
}

} // namespace

int runAssemble(const CaptureOptions& options) {
    const bool video = captureOutputKind(options.output) == CaptureOutputKind::Video;
    std::string ffmpeg, ffprobe;
    if (video) {
        ffmpeg = findProgramOnPath("ffmpeg");
        ffprobe = findProgramOnPath("ffprobe");
        if (ffmpeg.empty() || ffprobe.empty()) {
            complain("cannot write '" + options.output + "': ffmpeg and ffprobe are needed on the PATH");
            return offlineRefused;
        }
    }
    Assembly assembly;
    assembly.folder = options.assemble;
    FarmStage stage;
    try {
        assembly.plan = findPlan(assembly.folder);
        const FarmPlan& plan = assembly.plan;
        if (video && (plan.width % 2 != 0 || plan.height % 2 != 0)) {
            throw Vexception("a video needs an even width and height; the chunks are " +
                             std::to_string(plan.width) + "x" + std::to_string(plan.height));
        }
        const std::string problem =
            openStage(plan.width, plan.height, plan.fps, frameSeconds(plan.first, plan.fps),
                      frameSeconds(plan.end, plan.fps), true, stage);
        if (!problem.empty()) {
            throw Vexception(problem);
        }
        if (stage.frames.first != plan.first || stage.frames.first + stage.frames.frameCount != plan.end) {
            throw Vexception("the show here does not have the plan's frames " +
                             frameRange(plan.first, plan.end));
        }
        assembly.bounds = chunkBounds(plan, stage.resets);
        assembly.manifests.resize(static_cast<size_t>(plan.chunks));
        const ChunkManifest* reference = nullptr;
        for (int i = 0; i < plan.chunks; ++i) {
            assembly.manifests[static_cast<size_t>(i)] = readManifest(assembly.folder, i);
            if (assembly.manifests[static_cast<size_t>(i)]) {
                const ChunkManifest& chunk = *assembly.manifests[static_cast<size_t>(i)];
                checkChunk(chunk, assembly, stage, stage.resets, reference);
                if (reference == nullptr) {
                    reference = &chunk;
                }
            }
        }
        say("assemble: " + std::to_string(plan.chunks) + " chunks of " + frameRange(plan.first, plan.end) +
            " at " + std::to_string(plan.fps) + " fps, " + std::to_string(plan.width) + "x" +
            std::to_string(plan.height) + ", from '" + assembly.folder + "'");
        // Proves the joins; draws again what cannot be proven, once per chunk.
        std::vector<bool> drawnAgain(static_cast<size_t>(plan.chunks), false);
        for (;;) {
            const JoinResult proof = proveJoins(plan, assembly.manifests);
            if (proof.complete()) {
                for (const JoinPiece& piece : proof.pieces) {
                    say("assemble: chunk " + std::to_string(piece.chunk) + " gives " +
                        frameRange(piece.from, piece.to) + ", proven from frame " +
                        std::to_string(piece.provenAt));
                }
                break;
            }
            const int i = proof.unproven;
            const std::string name = chunkName(i);
            if (drawnAgain[static_cast<size_t>(i)]) {
                throw Vexception(name + " is still not proven after drawing it again: " + proof.reason);
            }
            if (reference != nullptr &&
                (stage.renderer != reference->renderer || stage.glVersion != reference->glVersion)) {
                throw Vexception(name + " is not proven (" + proof.reason +
                                 ") and cannot be drawn again here: this renderer (" + stage.renderer + ", " +
                                 stage.glVersion + ") is not the chunks' (" + reference->renderer + ", " +
                                 reference->glVersion + ")");
            }
            const ChunkRange range = chunkRange(plan, assembly.bounds, stage.resets, i);
            ChunkStart start;
            if (i > 0) {
                const ChunkManifest& before = *assembly.manifests[static_cast<size_t>(i) - 1];
                const std::string path =
                    joinPath(joinPath(assembly.folder, chunkFolderName(i - 1)), "state.bin");
                std::string bytes, error;
                if (!readRegularFile(path, uint64_t(1) << 34, bytes, error)) {
                    throw Vexception(chunkName(i - 1) + ": cannot read its saved state '" + path +
                                     "': " + error);
                }
                if (Sha256::of(bytes) != before.savedState) {
                    throw Vexception(chunkName(i - 1) + ": '" + path +
                                     "' is not the state its manifest names");
                }
                start.resume = true;
                start.after = before.savedFrame;
                start.stateHash = before.savedState;
                start.state.assign(bytes.begin(), bytes.end());
            }
            say("assemble: " + name + " (" + frameRange(range.start, range.end) +
                ") is not proven: " + proof.reason + "; drawing it again " +
                (start.resume ? "from chunk " + std::to_string(i - 1) + "'s state after frame " +
                                    std::to_string(start.after)
                              : std::string("from the start")));
            assembly.manifests[static_cast<size_t>(i)] =
                drawChunk(stage, plan, range, start, joinPath(assembly.folder, chunkFolderName(i)),
                          "assemble: " + name);
            drawnAgain[static_cast<size_t>(i)] = true;
            if (reference == nullptr) {
                reference = &*assembly.manifests[static_cast<size_t>(i)];
            }
        }
    } catch (const std::exception& error) {
        complain(std::string("cannot assemble '") + assembly.folder + "': " + error.what());
        return offlineFailed;
    }

    // The output: the frames in order, then (a folder) or with (a video) the span's audio, once.
    const FarmPlan& plan = assembly.plan;
    const JoinResult proof = proveJoins(plan, assembly.manifests);
    const int64_t total = plan.end - plan.first;
    ProgressLine progress(isTerminal(stderr), "assemble", total);
    const Clock::time_point began = Clock::now();
    int64_t done = 0;
    std::unique_ptr<TemporaryFile> audioFile;
    std::unique_ptr<FfmpegEncoder> encoder;
    std::unique_ptr<CaptureFolderClaim> claim;
    InterruptGuard interruptGuard;
    try {
        if (video) {
            audioFile = std::make_unique<TemporaryFile>("", "-audio.wav");
            if (!audioFile->valid() || !audioFile->close(false)) {
                throw Vexception("cannot make a temporary file for the audio: " + audioFile->error());
            }
            offline::writeSpanAudio(audioFile->path(), stage.frames);
            encoder = std::make_unique<FfmpegEncoder>(VideoSettings{
                ffmpeg, options.output, plan.width, plan.height, plan.fps, audioFile->path(), ffprobe});
        } else {
            std::string reason;
            if (!makeDirectories(options.output, reason)) {
                throw Vexception("cannot create the folder '" + options.output + "': " + reason);
            }
            claim = std::make_unique<CaptureFolderClaim>(options.output);
            if (!claim->held()) {
                throw Vexception("cannot write into '" + options.output + "': " + claim->problem());
            }
        }
        // Frames are read, checked and decoded ahead on worker threads, and written in order.
        struct Job {
            int chunk;
            int64_t g;
        };
        std::vector<Job> jobs;
        for (const JoinPiece& piece : proof.pieces) {
            for (int64_t g = piece.from; g < piece.to; ++g) {
                jobs.push_back({piece.chunk, g});
            }
        }
        const bool decode = encoder != nullptr;
        auto load = [&assembly, &plan, decode](Job job) {
            LoadedFrame frame;
            frame.bytes = readFrameFile(assembly, job.chunk, job.g);
            if (decode) {
                frame.pixels = decodeFrame(frame.bytes, plan, job.chunk, job.g);
                frame.bytes.clear();
            }
            return frame;
        };
        const size_t ahead = static_cast<size_t>(2 * std::max(2u, std::thread::hardware_concurrency()));
        std::deque<std::future<LoadedFrame>> pending;
        size_t next = 0;
        for (const Job& job : jobs) {
            while (pending.size() < ahead && next < jobs.size()) {
                pending.push_back(std::async(std::launch::async, load, jobs[next++]));
            }
            if (InterruptGuard::requested()) {
                throw Vexception("interrupted (" + InterruptGuard::what() + ")");
            }
            const LoadedFrame frame = pending.front().get();
            pending.pop_front();
            if (encoder) {
                encoder->writeFrame(frame.pixels.data());
            } else {
                writeFileAtomically(joinPath(options.output, PngFolderWriter::frameName(job.g - plan.first)),
                                    frame.bytes.data(), frame.bytes.size());
            }
            ++done;
            progress.update(done, secondsSince(began));
        }
        if (done != total) {
            throw Vexception("the proven chunks give " + std::to_string(done) + " frames, not " +
                             std::to_string(total));
        }
        if (encoder) {
            encoder->finish();
        } else {
            offline::writeSpanAudio(joinPath(options.output, "audio.wav"), stage.frames);
        }
    } catch (const std::exception& error) {
        progress.finish(done, secondsSince(began));
        complain(std::string("assembly of '") + assembly.folder + "' failed after " + std::to_string(done) +
                 " of " + std::to_string(total) + " frames: " + error.what() +
                 (video ? "; '" + options.output + "' was not replaced" : ""));
        return offlineFailed;
    }
    progress.finish(done, secondsSince(began));
    char line[256];
    std::snprintf(line, sizeof line, "assemble: wrote %lld frames and their audio to %s in %.1f s",
                  static_cast<long long>(done), options.output.c_str(), secondsSince(began));
    say(line);
    return offlineDone;
}

} // namespace Velmora
