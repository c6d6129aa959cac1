#include "app/capture/PngFolderWriter.h"

#include "app/capture/PngEncoder.h"

#include "engine/VFileException.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace Velmora {

void writeFileAtomically(const std::string& path, const void* data, size_t size) {
    std::string part = path + ".part";
    int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw VFileException("Cannot write " + path + ": " + std::strerror(errno));
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            int error = n < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(part.c_str());
            throw VFileException("Cannot write " + path + ": " + std::strerror(error));
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0 || std::rename(part.c_str(), path.c_str()) != 0) {
        int error = errno;
        ::unlink(part.c_str());
        throw VFileException("Cannot write " + path + ": " + std::strerror(error));
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
