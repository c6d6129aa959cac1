#include "base/TemporaryNames.h"

#include "base/Files.h"
#include "base/Platform.h"

namespace Velmora {

namespace TemporaryNames {

namespace {

// "-PID-XXXXXX" between the stem and the suffix (a process id has at most 10 digits).
constexpr std::size_t uniquePartLength = 1 + 10 + 1 + randomLength;

// ".NEAR" beside a file (shortened, never inside a UTF-8 sequence, so that the whole name fits),
// "velmora" in the temporary folder.
std::string stem(const std::string& near, const std::string& suffix) {
    if (near.empty()) {
        return "velmora";
    }
    std::string stem = "." + baseName(near);
    const std::size_t room =
        nameLimit > uniquePartLength + suffix.size() ? nameLimit - uniquePartLength - suffix.size() : 1;
    if (stem.size() > room) {
        stem.resize(room);
        while (stem.size() > 1 && (static_cast<unsigned char>(stem.back()) & 0xC0) == 0x80) {
            stem.pop_back(); // a continuation byte
        }
        if (stem.size() > 1 && (static_cast<unsigned char>(stem.back()) & 0x80) != 0) {
            stem.pop_back(); // the lead byte of the sequence just cut
        }
    }
    return stem;
}

bool isDigits(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

} // namespace

std::string folderFor(const std::string& near) {
    return near.empty() ? temporaryFolder() : parentFolder(near);
}

std::string start(const std::string& near, const std::string& suffix, long processId) {
    return folderFor(near) + "/" + stem(near, suffix) + "-" + std::to_string(processId) + "-";
}

long ownerOf(const std::string& name, const std::string& near, const std::string& suffix) {
    const std::string front = stem(near, suffix) + "-";
    // STEM-PID-XXXXXX + suffix
    if (name.size() < front.size() + 2 + randomLength + suffix.size() ||
        name.compare(0, front.size(), front) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return -1;
    }
    const std::string middle = name.substr(front.size(), name.size() - front.size() - suffix.size());
    const std::size_t dash = middle.find('-');
    if (dash == std::string::npos || dash > 10 || middle.size() - dash - 1 != randomLength ||
        !isDigits(middle.substr(0, dash))) {
        return -1;
    }
    return std::stol(middle.substr(0, dash));
}

} // namespace TemporaryNames

int removeAbandonedTemporaries(const std::string& near, const std::string& suffix) {
    const std::string folder = TemporaryNames::folderFor(near);
    int removed = 0;
    for (const std::string& name : listDirectory(folder)) {
        const long id = TemporaryNames::ownerOf(name, near, suffix);
        if (id < 0 || id == currentProcessId() || processRunning(id)) {
            continue;
        }
        const std::string path = folder + "/" + name;
        const FileInfo info = linkInfo(path);
        if (info.type == FileType::Regular && !info.isLink && removeFile(path)) {
            ++removed;
        }
    }
    return removed;
}

} // namespace Velmora
