#include "tools/content/OutputFile.h"

#include "base/Files.h"
#include "base/VFileException.h"

namespace Content {

void writeWholeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    // Missing folders are made; the file is replaced only once the new one is whole (an existing
    // one keeps its permissions, a link its place; anything but a regular file is refused).
    std::string error;
    const std::string parent = Velmora::parentFolder(path);
    if (!Velmora::isDirectory(parent) && !Velmora::makeDirectories(parent, error)) {
        throw Velmora::VFileException("Cannot write " + path + ": cannot create the folder " + parent + ": " +
                                      error);
    }
    if (!Velmora::writeFileReplacing(path, std::string(bytes.begin(), bytes.end()), error)) {
        throw Velmora::VFileException("Cannot write " + path + ": " + error);
    }
}

std::vector<unsigned char> readWholeFile(const std::string& path, std::size_t maxBytes) {
    // Regular files only: a FIFO or a device given as a cloud file is refused, not waited on.
    std::string bytes;
    std::string error;
    if (!Velmora::readRegularFile(path, maxBytes, bytes, error)) {
        throw Velmora::VFileException("Cannot read " + path + ": " + error);
    }
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

} // namespace Content
