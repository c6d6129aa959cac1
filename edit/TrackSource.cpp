#include "edit/TrackSource.h"

#include "demo/ShowData.h"
#include "sync/TrackText.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace Velmora {

namespace TrackSource {

namespace {

const char* const sourceFolder = "./data/science/src/";
const char* const compiledPrefix = "./data/science/sync_";

// A path as the watcher or a caller may give it: "./data/x", "data/x".
std::string withoutDotSlash(const std::string& path) {
    return path.compare(0, 2, "./") == 0 ? path.substr(2) : path;
}

std::optional<std::string> between(const std::string& path, const std::string& prefix,
                                   const std::string& suffix) {
    const std::string plain = withoutDotSlash(path);
    const std::string start = withoutDotSlash(prefix);
    if (plain.size() <= start.size() + suffix.size() || plain.compare(0, start.size(), start) != 0 ||
        plain.compare(plain.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return std::nullopt;
    }
    const std::string name = plain.substr(start.size(), plain.size() - start.size() - suffix.size());
    if (!isTrackName(name)) {
        return std::nullopt;
    }
    return name;
}

} // namespace

const std::vector<std::string>& trackNames() {
    return ::Demo::showData().tracks;
}

bool isTrackName(const std::string& name) {
    for (const std::string& known : trackNames()) {
        if (known == name) {
            return true;
        }
    }
    return false;
}

std::string sourcePath(const std::string& name) {
    return sourceFolder + name + ".txt";
}

std::string compiledPath(const std::string& name) {
    return compiledPrefix + name + ".track";
}

std::optional<std::string> trackOfSource(const std::string& path) {
    return between(path, sourceFolder, ".txt");
}

std::optional<std::string> trackOfCompiled(const std::string& path) {
    return between(path, compiledPrefix, ".track");
}

const char* apiInterpolationName(std::int32_t code) {
    return interpolationName(code);
}

std::optional<std::int32_t> apiInterpolationCode(const std::string& name) {
    for (std::int32_t code = 0; code < 4; ++code) {
        if (name == apiInterpolationName(code)) {
            return code;
        }
    }
    return std::nullopt;
}

std::string shortestFloatText(float value) {
    char text[48];
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
        if (std::strtof(text, nullptr) == value) {
            return text;
        }
    }
    return text;
}

double shortestFloatValue(float value) {
    return std::strtod(shortestFloatText(value).c_str(), nullptr);
}

std::string writeSource(const std::vector<TrackKey>& keys, const std::string& previous) {
    // The previous text as comment blocks: the lines above each key (kept with its row), the
    // comment at the end of a key line, and whatever follows the last key.
    std::map<std::int32_t, std::string> above;
    std::map<std::int32_t, std::string> after;
    std::string pending;
    std::istringstream lines(previous);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::size_t hash = line.find('#');
        const std::string code = line.substr(0, hash);
        char* end = nullptr;
        const long row = std::strtol(code.c_str(), &end, 10);
        if (code.find_first_not_of(" \t") == std::string::npos || end == code.c_str()) {
            pending += line + "\n";
            continue;
        }
        const std::int32_t key = static_cast<std::int32_t>(row);
        above[key] += pending;
        pending.clear();
        if (hash != std::string::npos) {
            after[key] = line.substr(hash);
        }
    }

    std::string text;
    auto carried = above.begin();
    for (const TrackKey& key : keys) {
        // Lines that stood above keys now gone stay above the next key that is still there.
        while (carried != above.end() && carried->first <= key.row) {
            text += carried->second;
            ++carried;
        }
        const char* name = interpolationName(key.interpolation);
        std::string entry =
            std::to_string(key.row) + "  " +
            (std::isfinite(key.value) ? shortestFloatText(key.value) : TrackText::formatValue(key.value)) +
            "  " + (name != nullptr ? std::string(name) : std::to_string(key.interpolation));
        const auto comment = after.find(key.row);
        if (comment != after.end()) {
            entry += "   " + comment->second;
        }
        text += entry + "\n";
    }
    for (; carried != above.end(); ++carried) {
        text += carried->second;
    }
    return text + pending;
}

std::string description(const std::string& name, const std::string& text) {
    std::string result;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t start = line.find_first_not_of(" \t\r");
        if (start == std::string::npos || line[start] != '#') {
            break;
        }
        size_t from = line.find_first_not_of(" \t", start + 1);
        size_t to = line.find_last_not_of(" \t\r");
        std::string said = from == std::string::npos ? std::string() : line.substr(from, to + 1 - from);
        if (result.empty() && said.compare(0, name.size() + 1, name + ":") == 0) {
            said.erase(0, name.size() + 1);
            said.erase(0, said.find_first_not_of(" \t"));
        }
        if (said.empty() && result.empty()) {
            continue;
        }
        if (!result.empty()) {
            result += '\n';
        }
        result += said;
    }
    return result;
}

} // namespace TrackSource

} // namespace Velmora
