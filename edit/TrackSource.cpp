#include "edit/TrackSource.h"

#include "demo/ShowData.h"
#include "sync/TrackFile.h"
#include "sync/TrackText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    char text[64];
    int digits = 1;
    for (; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
        if (std::strtof(text, nullptr) == value) {
            break;
        }
    }
    digits = std::min(digits, 9);
    // Ordinary magnitudes without an exponent: "70", not "7e+01"; "0.0001", not "1e-04".
    const double magnitude = std::fabs(static_cast<double>(value));
    if (std::strchr(text, 'e') != nullptr && magnitude >= 1e-5 && magnitude < 1e16) {
        const int exponent = static_cast<int>(std::floor(std::log10(magnitude)));
        const int decimals = std::max(0, digits - 1 - exponent);
        char fixed[64];
        std::snprintf(fixed, sizeof fixed, "%.*f", decimals, static_cast<double>(value));
        if (std::strtof(fixed, nullptr) == value) {
            return fixed;
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

namespace {

// One line of a source, its end ("\n", "\r\n" or none) apart, and the key it holds if any.
struct SourceLine {
    std::string text;
    std::string end;
    bool isKey = false;
    TrackKey key;
};

bool sameKey(const TrackKey& a, const TrackKey& b) {
    return a.row == b.row && a.interpolation == b.interpolation &&
           std::memcmp(&a.value, &b.value, sizeof a.value) == 0;
}

// Where the whitespace-separated words of a line's code (before any '#') start and end.
std::vector<std::pair<std::size_t, std::size_t>> wordsOf(const std::string& line) {
    std::vector<std::pair<std::size_t, std::size_t>> words;
    const std::size_t code = std::min(line.find('#'), line.size());
    std::size_t at = 0;
    while (at < code) {
        while (at < code && (line[at] == ' ' || line[at] == '\t')) {
            ++at;
        }
        if (at >= code) {
            break;
        }
        const std::size_t start = at;
        while (at < code && line[at] != ' ' && line[at] != '\t') {
            ++at;
        }
        words.emplace_back(start, at);
    }
    return words;
}

std::string valueText(float value) {
    return std::isfinite(value) ? shortestFloatText(value) : TrackText::formatValue(value);
}

std::string interpolationText(std::int32_t code) {
    const char* name = interpolationName(code);
    return name != nullptr ? std::string(name) : std::to_string(code);
}

// Replaces the word [start, end) of `line` by `word`, keeping the columns after it where the
// spaces allow: a shorter word gives its room to the spaces after it, a longer one takes from them
// (leaving at least one).
void replaceWord(std::string& line, std::size_t start, std::size_t end, const std::string& word) {
    const std::size_t old = end - start;
    std::size_t spaces = 0;
    while (end + spaces < line.size() && line[end + spaces] == ' ') {
        ++spaces;
    }
    const bool more = end + spaces < line.size();
    std::string padding;
    if (more && spaces > 0) {
        const std::ptrdiff_t wanted = static_cast<std::ptrdiff_t>(spaces) + static_cast<std::ptrdiff_t>(old) -
                                      static_cast<std::ptrdiff_t>(word.size());
        padding.assign(static_cast<std::size_t>(std::max<std::ptrdiff_t>(wanted, 1)), ' ');
    } else {
        padding.assign(spaces, ' ');
    }
    line.replace(start, old + spaces, word + padding);
}

// A new key line laid out in the columns of `model` (another key line), or with two spaces.
std::string newKeyLine(const TrackKey& key, const std::string* model) {
    const std::string row = std::to_string(key.row);
    const std::string value = valueText(key.value);
    const std::string kind = interpolationText(key.interpolation);
    if (model == nullptr) {
        return row + "  " + value + "  " + kind;
    }
    const auto words = wordsOf(*model);
    if (words.size() < 3) {
        return row + "  " + value + "  " + kind;
    }
    std::string line = model->substr(0, words[0].first) + row;
    line += std::string(line.size() < words[1].first ? words[1].first - line.size() : 2, ' ') + value;
    line += std::string(line.size() < words[2].first ? words[2].first - line.size() : 2, ' ') + kind;
    return line;
}

} // namespace

std::optional<std::string> editSource(const std::string& previous, const std::vector<TrackKey>& keys) {
    std::vector<SourceLine> lines;
    std::size_t at = 0;
    std::size_t crlf = 0;
    while (at < previous.size()) {
        const std::size_t newline = previous.find('\n', at);
        SourceLine line;
        if (newline == std::string::npos) {
            line.text = previous.substr(at);
            at = previous.size();
        } else {
            line.text = previous.substr(at, newline - at);
            line.end = "\n";
            at = newline + 1;
            if (!line.text.empty() && line.text.back() == '\r') {
                line.text.pop_back();
                line.end = "\r\n";
                ++crlf;
            }
        }
        const TrackText::Result parsed = TrackText::parse(line.text);
        if (!parsed.ok()) {
            return std::nullopt;
        }
        if (parsed.keys.size() == 1) {
            line.isKey = true;
            line.key = parsed.keys[0];
        }
        lines.push_back(std::move(line));
    }
    const std::string lineEnd = crlf * 2 > lines.size() ? "\r\n" : "\n";

    std::map<std::int32_t, const TrackKey*> wanted;
    for (const TrackKey& key : keys) {
        wanted[key.row] = &key;
    }
    // The line that holds each row's key: the last one of the row (the engine keeps the last).
    std::map<std::int32_t, std::size_t> holder;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].isKey) {
            holder[lines[i].key.row] = i;
        }
    }
    std::vector<bool> removed(lines.size(), false);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i].isKey) {
            continue;
        }
        const auto key = wanted.find(lines[i].key.row);
        if (key == wanted.end()) {
            removed[i] = true;
            continue;
        }
        if (holder[lines[i].key.row] != i || sameKey(lines[i].key, *key->second)) {
            continue;
        }
        const auto words = wordsOf(lines[i].text);
        if (words.size() != 3) {
            return std::nullopt;
        }
        std::string& text = lines[i].text;
        // The interpolation first, so that the value's word keeps its place.
        if (lines[i].key.interpolation != key->second->interpolation) {
            replaceWord(text, words[2].first, words[2].second, interpolationText(key->second->interpolation));
        }
        std::uint32_t oldBits = 0;
        std::uint32_t newBits = 0;
        std::memcpy(&oldBits, &lines[i].key.value, sizeof oldBits);
        std::memcpy(&newBits, &key->second->value, sizeof newBits);
        if (oldBits != newBits) {
            replaceWord(text, words[1].first, words[1].second, valueText(key->second->value));
        }
    }
    // Keys on new rows: after the line of the nearest row before them, or before the first key.
    std::map<std::size_t, std::vector<std::string>> insertedAfter; // index + 1 -> lines
    for (const TrackKey& key : keys) {
        if (holder.count(key.row) != 0) {
            continue;
        }
        std::optional<std::size_t> before;
        std::optional<std::size_t> first;
        for (const auto& [row, index] : holder) {
            if (row < key.row && !removed[index]) {
                before = index;
            }
            if (!first && !removed[index]) {
                first = index;
            }
        }
        const std::string* model = before ? &lines[*before].text : first ? &lines[*first].text : nullptr;
        const std::size_t slot = before ? *before + 1 : first ? *first : lines.size();
        insertedAfter[slot].push_back(newKeyLine(key, model));
    }

    std::string text;
    for (std::size_t i = 0; i <= lines.size(); ++i) {
        const auto added = insertedAfter.find(i);
        if (added != insertedAfter.end()) {
            if (i > 0 && i == lines.size() && lines.back().end.empty()) {
                text += lineEnd;
            }
            for (const std::string& line : added->second) {
                text += line + lineEnd;
            }
        }
        if (i < lines.size() && !removed[i]) {
            text += lines[i].text + lines[i].end;
        }
    }
    // Only what parses back to exactly the keys is written.
    const TrackText::Result check = TrackText::parse(text);
    if (!check.ok()) {
        return std::nullopt;
    }
    const std::vector<TrackKey> back = TrackFile::sortKeys(check.keys);
    if (back.size() != keys.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (!sameKey(back[i], keys[i])) {
            return std::nullopt;
        }
    }
    return text;
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
