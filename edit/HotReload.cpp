#include "edit/HotReload.h"

#include "base/FileWatcher.h"
#include "base/Files.h"
#include "base/Logger.h"

#include <algorithm>
#include <cstdio>
#include <functional>

namespace Velmora {

namespace {

// Files larger than this are never ours (a real track is a few kilobytes).
constexpr std::uint64_t maxOwnWriteBytes = 64ull << 20;

} // namespace

std::string shownPath(const std::string& path) {
    return path.compare(0, 2, "./") == 0 ? path.substr(2) : path;
}

HotReload::HotReload() = default;

HotReload::~HotReload() = default;

std::vector<std::pair<std::string, std::string>> HotReload::watch(const std::vector<std::string>& folders) {
    std::vector<std::pair<std::string, std::string>> problems;
    if (!watcher) {
        watcher = FileWatcher::create();
    }
    for (const std::string& folder : folders) {
        std::string problem;
        if (!watcher->watch(folder, problem)) {
            problems.emplace_back(shownPath(folder), problem);
        }
    }
    return problems;
}

void HotReload::reloadSettled(Clock::time_point now, const std::function<void(const std::string&)>& reload) {
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
        if (!isOwnWrite(path)) {
            reload(path);
        }
    }
}

void HotReload::rememberOwnWrite(const std::string& path, const std::string& bytes) {
    ownWrites[path] = std::hash<std::string>()(bytes);
}

void HotReload::forgetOwnWrite(const std::string& path) {
    ownWrites.erase(path);
}

bool HotReload::isOwnWrite(const std::string& path) {
    const auto written = ownWrites.find(path);
    if (written == ownWrites.end()) {
        return false;
    }
    std::string bytes;
    std::string problem;
    const bool same = readRegularFile(path, maxOwnWriteBytes, bytes, problem) &&
                      std::hash<std::string>()(bytes) == written->second;
    ownWrites.erase(written);
    return same;
}

std::vector<EditError> HotReload::errors() const {
    std::vector<EditError> all = shaderErrors;
    for (const auto& entry : trackErrors) {
        all.push_back(entry.second);
    }
    return all;
}

bool HotReload::setShaderErrors(const std::vector<EditError>& found) {
    if (found == shaderErrors) {
        return false;
    }
    // Each was reported when its shader failed to compile or link (the shader's log line).
    shaderErrors = found;
    return true;
}

bool HotReload::setTrackError(const std::string& name, const std::string& file,
                              const std::optional<EditError>& error) {
    const auto existing = trackErrors.find({name, file});
    if (!error) {
        if (existing == trackErrors.end()) {
            return false;
        }
        trackErrors.erase(existing);
        return true;
    }
    if (existing != trackErrors.end() && existing->second == *error) {
        return false;
    }
    Logger::instance().say(LogStream::Error, "velmora: " + error->file + ":" + std::to_string(error->line) +
                                                 ": " + error->message + "\n");
    trackErrors[{name, file}] = *error;
    return true;
}

} // namespace Velmora
