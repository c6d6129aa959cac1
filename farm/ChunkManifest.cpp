#include "farm/ChunkManifest.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace Velmora {

namespace {

constexpr const char* magic = "velmora-chunk 1";
constexpr size_t maxLine = 4096;

bool isHash(const std::string& text) {
    if (text.size() != 64) {
        return false;
    }
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

bool readFrame(const std::string& text, int64_t& value) {
    if (text.empty() || text.size() > 16) {
        return false;
    }
    errno = 0;
    char* stop = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &stop, 10);
    if (errno != 0 || stop != text.c_str() + text.size() || parsed < -(int64_t(1) << 40) ||
        parsed > (int64_t(1) << 40)) {
        return false;
    }
    value = parsed;
    return true;
}

// The rest of the line after "name ".
std::string restOf(const std::string& line, const std::string& name) {
    return line.size() > name.size() + 1 ? line.substr(name.size() + 1) : "";
}

} // namespace

std::string chunkFolderName(int index) {
    char name[32];
    std::snprintf(name, sizeof name, "chunk-%04d", index);
    return name;
}

std::string ChunkManifest::text() const {
    std::ostringstream out;
    out << magic << "\n";
    out << "plan " << plan.text() << "\n";
    out << "chunk " << index << " " << start << " " << end << "\n";
    out << "rendered " << renderFrom << " " << renderEnd << "\n";
    if (resumed) {
        out << "resumed " << resumedAfter << " " << resumedState << "\n";
    }
    out << "build " << build << "\n";
    out << "data " << data << "\n";
    out << "renderer " << renderer << "\n";
    out << "gl " << glVersion << "\n";
    for (const auto& [index, frame] : frames) {
        out << "frame " << index << " " << frame.state << " " << (frame.png.empty() ? "-" : frame.png)
            << "\n";
    }
    out << "saved " << savedFrame << " " << savedState << "\n";
    out << "end\n";
    return out.str();
}

bool ChunkManifest::parse(const std::string& text, ChunkManifest& manifest, std::string& error) {
    ChunkManifest read;
    std::istringstream in(text);
    std::string line;
    int lineNumber = 0;
    bool ended = false;
    bool haveSaved = false;
    std::string seen;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(lineNumber) + ": " + why;
        return false;
    };
    while (std::getline(in, line)) {
        ++lineNumber;
        if (ended) {
            return fail("text after 'end'");
        }
        if (line.size() > maxLine) {
            return fail("line too long");
        }
        if (lineNumber == 1) {
            if (line != magic) {
                error = "not a chunk manifest (no '" + std::string(magic) + "' line)";
                return false;
            }
            continue;
        }
        const std::string name = line.substr(0, line.find(' '));
        std::istringstream words(restOf(line, name));
        std::string a, b, c, extra;
        if (name == "plan") {
            std::string why;
            if (!FarmPlan::parse(restOf(line, name), read.plan, why)) {
                return fail(why);
            }
        } else if (name == "chunk") {
            int64_t index = 0;
            if (!(words >> a >> b >> c) || (words >> extra) || !readFrame(a, index) || index < 0 ||
                index >= FarmPlan::maxChunks || !readFrame(b, read.start) || !readFrame(c, read.end) ||
                read.end <= read.start) {
                return fail("bad chunk line");
            }
            read.index = static_cast<int>(index);
        } else if (name == "rendered") {
            if (!(words >> a >> b) || (words >> extra) || !readFrame(a, read.renderFrom) ||
                !readFrame(b, read.renderEnd) || read.renderEnd <= read.renderFrom) {
                return fail("bad rendered line");
            }
        } else if (name == "resumed") {
            if (!(words >> a >> b) || (words >> extra) || !readFrame(a, read.resumedAfter) || !isHash(b)) {
                return fail("bad resumed line");
            }
            read.resumed = true;
            read.resumedState = b;
        } else if (name == "build" || name == "data" || name == "renderer" || name == "gl") {
            const std::string value = restOf(line, name);
            if (value.empty()) {
                return fail("empty " + name);
            }
            (name == "build"      ? read.build
             : name == "data"     ? read.data
             : name == "renderer" ? read.renderer
                                  : read.glVersion) = value;
        } else if (name == "frame") {
            int64_t index = 0;
            if (!(words >> a >> b >> c) || (words >> extra) || !readFrame(a, index) || !isHash(b) ||
                (c != "-" && !isHash(c))) {
                return fail("bad frame line");
            }
            if (!read.frames.emplace(index, ChunkFrame{b, c == "-" ? "" : c}).second) {
                return fail("frame " + a + " twice");
            }
        } else if (name == "saved") {
            if (!(words >> a >> b) || (words >> extra) || !readFrame(a, read.savedFrame) || !isHash(b)) {
                return fail("bad saved line");
            }
            haveSaved = true;
            read.savedState = b;
        } else if (name == "end") {
            if (line != "end") {
                return fail("bad end line");
            }
            ended = true;
        } else {
            return fail("unknown line '" + name.substr(0, 40) + "'");
        }
        if (name != "frame" && name != "end") {
            if (seen.find(" " + name + " ") != std::string::npos) {
                return fail("'" + name + "' twice");
            }
            seen += " " + name + " ";
        }
    }
    if (!ended) {
        error = "cut short (no 'end' line)";
        return false;
    }
    for (const char* required : {"plan", "chunk", "rendered", "build", "data", "renderer", "gl"}) {
        if (seen.find(" " + std::string(required) + " ") == std::string::npos) {
            error = std::string("no '") + required + "' line";
            return false;
        }
    }
    if (!haveSaved) {
        error = "no 'saved' line";
        return false;
    }
    // Every drawn frame has its line; frames from the start on are written.
    const int64_t firstDrawn = read.resumed ? read.resumedAfter + 1 : read.renderFrom;
    if (static_cast<int64_t>(read.frames.size()) != read.renderEnd - firstDrawn ||
        read.frames.begin()->first != firstDrawn || read.frames.rbegin()->first != read.renderEnd - 1) {
        error = "the frame lines do not cover the frames drawn (" + std::to_string(firstDrawn) + " to " +
                std::to_string(read.renderEnd - 1) + ")";
        return false;
    }
    for (const auto& [index, frame] : read.frames) {
        if ((index >= read.start) != !frame.png.empty()) {
            error =
                "frame " + std::to_string(index) +
                (frame.png.empty() ? " is in the chunk but has no file" : " is a pre-roll frame with a file");
            return false;
        }
    }
    if (read.savedFrame != read.renderEnd - 1 || read.frames.rbegin()->second.state != read.savedState) {
        error = "the saved state is not that of the last frame drawn";
        return false;
    }
    if (read.index >= read.plan.chunks || read.start < read.plan.first || read.end > read.plan.end ||
        read.renderEnd < read.end || read.renderEnd > read.plan.end) {
        error = "the chunk's frames do not fit its plan";
        return false;
    }
    manifest = std::move(read);
    return true;
}

} // namespace Velmora
