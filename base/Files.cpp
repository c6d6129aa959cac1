// The file services that are the same on every platform, built on the platform's own
// (posix/Files.cpp, win32/Files.cpp).
#include "base/Files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace Velmora {

bool readRegularFile(const std::string& path, std::uint64_t maxBytes, std::string& bytes,
                     std::string& error) {
    bytes.clear();
    std::FILE* file = openRegularFile(path, maxBytes, error);
    if (file == nullptr) {
        return false;
    }
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
        bytes.append(buffer, got);
        if (bytes.size() > maxBytes) {
            // It grew while being read.
            error = "is larger than the limit of " + std::to_string(maxBytes) + " bytes";
            ok = false;
            break;
        }
        if (got < sizeof buffer) {
            if (std::ferror(file)) {
                error = std::strerror(errno != 0 ? errno : EIO);
                ok = false;
            }
            break;
        }
    }
    std::fclose(file);
    if (!ok) {
        bytes.clear();
    }
    return ok;
}

bool fileHolds(const std::string& path, const std::string& bytes, std::string& error) {
    std::string back;
    if (!readRegularFile(path, bytes.size(), back, error)) {
        return false;
    }
    if (back != bytes) {
        error = "the file read back differs from what was written";
        return false;
    }
    return true;
}

std::string notARegularFile(FileType type) {
    switch (type) {
    case FileType::Directory:
        return "is a folder, not a file";
    case FileType::Other:
        return "is not a regular file";
    default:
        return "";
    }
}

} // namespace Velmora
