// Writes captured frames as numbered PNG files (frame_000000.png, frame_000001.png, ...) into a
// folder. Each file is written under a temporary name and renamed when complete, so a frame that
// exists under its real name is always a whole, valid PNG, even after a crash or a full disk.
//
// `writeFrame` may be called from several threads at once for different frames.
#pragma once

#include <cstdint>
#include <string>

namespace Velmora {

class PngFolderWriter {
public:
    // `folder` must exist. Frames are `width` x `height`, RGBA, top row first; the PNGs are RGB
    // (the picture's alpha is not part of what is seen on screen).
    PngFolderWriter(std::string folder, int width, int height);

    // Throws VFileException naming the file and the reason.
    void writeFrame(int64_t index, const uint8_t* rgbaTopDown) const;

    std::string framePath(int64_t index) const;
    static std::string frameName(int64_t index); // "frame_000042.png"

private:
    std::string folder;
    int width;
    int height;
};

// Writes `size` bytes to `path` through a uniquely named temporary file renamed into place. Throws
// VFileException on any error and leaves no temporary file behind.
void writeFileAtomically(const std::string& path, const void* data, size_t size);

} // namespace Velmora
