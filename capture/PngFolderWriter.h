// Writes captured frames as numbered PNG files (frame_000000.png, frame_000001.png, ...) into a
// folder. Each file is written under a temporary name and renamed when complete, so a frame that
// exists under its real name is always a whole, valid PNG, even after a crash or a full disk.
//
// `writeFrame` may be called from several threads at once for different frames.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Velmora {

class PngEncoder;

class PngFolderWriter {
public:
    // `folder` must exist. Frames are `width` x `height`, RGBA, top row first; the PNGs are RGB
    // (the picture's alpha is not part of what is seen on screen).
    PngFolderWriter(std::string folder, int width, int height);
    ~PngFolderWriter();

    // Throws VFileException naming the file and the reason.
    void writeFrame(int64_t index, const uint8_t* rgbaTopDown) const;

    std::string framePath(int64_t index) const;
    static std::string frameName(int64_t index); // "frame_000042.png"

private:
    std::string folder;
    int width;
    int height;
    // Encoders not in use, kept with their buffers for the next frame: as many as frames were
    // encoded at once. (Not thread_local objects: with mingw-w64 their destructors can run after
    // the thread's storage is gone, and a writer thread's end then frees a wild pointer.)
    mutable std::mutex idleLock;
    mutable std::vector<std::unique_ptr<PngEncoder>> idle;
};

// Marks a folder as being written by this capture for as long as it lives (".velmora-capture",
// holding the process id), so that a second capture into the same folder refuses to start instead
// of mixing its frames with ours. A mark left by a process that has gone is taken over.
class CaptureFolderClaim {
public:
    explicit CaptureFolderClaim(const std::string& folder);
    ~CaptureFolderClaim();

    // False when another running capture holds the folder (or the mark could not be made);
    // `problem()` says which.
    bool held() const { return holding; }
    const std::string& problem() const { return reason; }

    static constexpr const char* markName = ".velmora-capture";

    CaptureFolderClaim(const CaptureFolderClaim&) = delete;
    CaptureFolderClaim& operator=(const CaptureFolderClaim&) = delete;

private:
    std::string mark;
    std::string reason;
    bool holding = false;
};

// Writes `size` bytes to `path` through a uniquely named temporary file renamed into place. Throws
// VFileException on any error and leaves no temporary file behind.
void writeFileAtomically(const std::string& path, const void* data, size_t size);

} // namespace Velmora
