#include "capture/PngFolderWriter.h"

#include "capture/PngEncoder.h"

#include "base/Files.h"
#include "base/Platform.h"
#include "base/VFileException.h"

#include <cstdio>
#include <cstdlib>

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

CaptureFolderClaim::CaptureFolderClaim(const std::string& folder) {
    mark = folder + (!folder.empty() && isPathSeparator(folder.back()) ? "" : "/") + markName;
    const std::string self = std::to_string(currentProcessId());
    for (int attempt = 0; attempt < 3 && !holding; ++attempt) {
        TemporaryFile claim(mark, "");
        if (!claim.valid() || std::fwrite(self.data(), 1, self.size(), claim.stream()) != self.size() ||
            !claim.close(false)) {
            reason = "cannot mark the folder as in use: " + claim.error();
            return;
        }
        std::string error;
        if (renameWithoutReplacing(claim.path(), mark, error)) {
            claim.keep();
            holding = true;
            return;
        }
        // Someone's mark: a running capture's is respected, a gone one's taken over.
        // A mark that cannot be read names no running capture.
        std::string owner;
        if (!readRegularFile(mark, 64, owner, error)) {
            owner.clear();
        }
        const long id = std::atol(owner.c_str());
        if (id > 0 && processRunning(id)) {
            reason = "another capture (process " + std::to_string(id) + ") is writing into it";
            return;
        }
        removeFile(mark);
    }
    reason = "cannot mark the folder as in use";
}

CaptureFolderClaim::~CaptureFolderClaim() {
    if (holding) {
        removeFile(mark);
    }
}

PngFolderWriter::PngFolderWriter(std::string folder, int width, int height)
    : folder(std::move(folder)), width(width), height(height) {
    if (!this->folder.empty() && !isPathSeparator(this->folder.back())) {
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

PngFolderWriter::~PngFolderWriter() = default;

void PngFolderWriter::writeFrame(int64_t index, const uint8_t* rgbaTopDown) const {
    // An idle encoder (or a new one), given back when done, also when the write fails.
    std::unique_ptr<PngEncoder> encoder;
    {
        std::lock_guard<std::mutex> guard(idleLock);
        if (!idle.empty()) {
            encoder = std::move(idle.back());
            idle.pop_back();
        }
    }
    if (!encoder) {
        encoder = std::make_unique<PngEncoder>();
    }
    struct GiveBack {
        const PngFolderWriter& writer;
        std::unique_ptr<PngEncoder>& encoder;
        ~GiveBack() {
            std::lock_guard<std::mutex> guard(writer.idleLock);
            writer.idle.push_back(std::move(encoder));
        }
    } giveBack{*this, encoder};
    const PngEncoder::Bytes png = encoder->encode(rgbaTopDown, width, height);
    writeFileAtomically(framePath(index), png.data, png.size);
}

} // namespace Velmora
