#include "app/capture/PngFolderWriter.h"

#include "app/capture/PngEncoder.h"

#include "base/Files.h"
#include "base/VFileException.h"

#include <cstdio>

namespace Velmora {

void writeFileAtomically(const std::string& path, const void* data, size_t size) {
    // Frames are many and written once: no flush to the device and no read-back for each.
    WriteOptions options;
    options.sync = false;
    options.verify = false;
    std::string error;
    if (!writeFileReplacing(path, std::string(static_cast<const char*>(data), size), error, options)) {
        throw VFileException("Cannot write " + path + ": " + error);
    }
}

PngFolderWriter::PngFolderWriter(std::string folder, int width, int height)
    : folder(std::move(folder)), width(width), height(height) {
    if (!this->folder.empty() && this->folder.back() != '/') {
        this->folder += '/';
    }
}

std::string PngFolderWriter::frameName(int64_t index) {
    char name[40];
    std::snprintf(name, sizeof name, "frame_%06lld.png", static_cast<long long>(index));
    return name;
}

std::string PngFolderWriter::framePath(int64_t index) const {
    return folder + frameName(index);
}

void PngFolderWriter::writeFrame(int64_t index, const uint8_t* rgbaTopDown) const {
    // One encoder per writer thread, kept for the whole capture: its buffers are reused.
    thread_local PngEncoder encoder;
    const PngEncoder::Bytes png = encoder.encode(rgbaTopDown, width, height);
    writeFileAtomically(framePath(index), png.data, png.size);
}

} // namespace Velmora
