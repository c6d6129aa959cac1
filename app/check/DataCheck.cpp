#include "app/check/DataCheck.h"

#include "audio/Mp3Decoder.h"
#include "base/Files.h"
#include "demo/PointCloud.h"
#include "engine/FullscreenPass.h"
#include "engine/Image.h"
#include "engine/Shader.h"
#include "engine/ShaderProgram.h"
#include "sync/SyncDevice.h"
#include "sync/TrackData.h"
#include "sync/TrackFile.h"
#include "sync/TrackText.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <sstream>
#include <tuple>

namespace Velmora {

namespace {

// At most this many problems of one kind are listed for one file (a broken point cloud could
// otherwise give a line per point).
constexpr int problemsPerFile = 5;

class Collector {
public:
    explicit Collector(DataCheckResult& result) : result(result) {}

    void error(const std::string& file, const std::string& message, int line = 0) {
        add({file, line, message, false});
    }
    void warning(const std::string& file, const std::string& message, int line = 0) {
        add({file, line, message, true});
    }

private:
    void add(DataProblem problem) {
        for (const DataProblem& seen : result.problems) {
            if (std::tie(seen.file, seen.line, seen.message, seen.warning) ==
                std::tie(problem.file, problem.line, problem.message, problem.warning)) {
                return;
            }
        }
        result.problems.push_back(std::move(problem));
    }

    DataCheckResult& result;
};

std::string decimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// The file can be read at all: present, regular, within the limit. Says why not.
bool readable(Collector& found, const std::string& path, std::uint64_t limit, std::uint64_t* size = nullptr) {
    std::string error;
    std::FILE* file = openRegularFile(path, limit, error);
    if (file == nullptr) {
        found.error(path,
                    error == "No such file or directory" ? "missing (No such file or directory)" : error);
        return false;
    }
    std::fclose(file);
    if (size != nullptr) {
        *size = fileInfo(path).size;
    }
    return true;
}

void checkShaderSources(Collector& found, const ::Demo::ShowData& show) {
    std::set<std::string> files;
    for (const auto& [fragment, vertex] : show.programs) {
        files.insert(fragment);
        files.insert(vertex);
    }
    for (const std::string& file : files) {
        readable(found, file, maxShaderSourceBytes);
    }
}

void checkSprite(Collector& found, const ::Demo::ShowData& show) {
    std::string error;
    if (!Image::check(show.sprite, error)) {
        found.error(show.sprite,
                    error == "No such file or directory" ? "missing (No such file or directory)" : error);
    }
}

void checkBinaryCloud(Collector& found, const std::string& path, DataCheckDepth depth) {
    std::uint64_t size = 0;
    if (!readable(found, path, Demo::maxPointCloudBytes, &size)) {
        return;
    }
    if (size < 12) {
        found.error(path, "holds no point (" + std::to_string(size) + " bytes; a point is 24)");
        return;
    }
    if (depth != DataCheckDepth::Thorough) {
        return;
    }
    if (size % 24 != 0) {
        found.error(path, "ends with " + std::to_string(size % 24) +
                              " bytes that are not a whole point of 24 bytes");
    }
    const std::vector<float> values = Demo::readRawFloats(path.c_str());
    int reported = 0;
    for (size_t k = 0; k + 3 <= values.size() && reported < problemsPerFile; k += 6) {
        if (!std::isfinite(values[k]) || !std::isfinite(values[k + 1]) || !std::isfinite(values[k + 2])) {
            found.error(path, "point " + std::to_string(k / 6) + " (byte " + std::to_string(k * 4) +
                                  ") has a coordinate that is not a finite number");
            ++reported;
        }
    }
}

void checkTextCloud(Collector& found, const std::string& path, DataCheckDepth depth) {
    std::uint64_t size = 0;
    if (!readable(found, path, Demo::maxPointCloudBytes, &size)) {
        return;
    }
    if (depth != DataCheckDepth::Thorough) {
        if (size == 0) {
            found.error(path, "holds no point (the file is empty)");
        }
        return;
    }
    std::string text;
    std::string error;
    if (!readRegularFile(path, Demo::maxPointCloudBytes, text, error)) {
        found.error(path, error);
        return;
    }
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    int points = 0;
    int reported = 0;
    while (std::getline(lines, line)) {
        ++number;
        std::istringstream fields(line);
        float coordinates[3];
        int read = 0;
        while (read < 3 && fields >> coordinates[read]) {
            ++read;
        }
        std::string rest;
        const bool finite = read == 3 && std::isfinite(coordinates[0]) && std::isfinite(coordinates[1]) &&
                            std::isfinite(coordinates[2]);
        if (!finite || (fields.clear(), fields >> rest)) {
            if (reported++ < problemsPerFile) {
                found.error(path, "expected three finite numbers \"x y z\"", number);
            }
        } else {
            ++points;
        }
    }
    if (points == 0 && reported == 0) {
        found.error(path, "holds no point");
    }
}

// Where the end track first goes below 0 (or is not a number), in rows; -1 when it never does
// before `lastRow`.
double endRow(const TrackData& end, double lastRow) {
    // Keys sit on whole rows and the blends between them are monotonic: eight steps a row find
    // the first frame time of a 30 or 60 fps clock to within a frame.
    for (double row = 0.0; row <= lastRow; row += 0.125) {
        if (!(valueAt(end, row) >= 0.0)) {
            return row;
        }
    }
    return -1.0;
}

void checkTrackKeys(Collector& found, const std::string& path, const TrackFile::Contents& contents) {
    if (!contents.countComplete) {
        found.error(path, "shorter than the 8-byte key count: the track has no keys");
        return;
    }
    if (contents.count < 0) {
        found.error(path, "negative key count " + std::to_string(contents.count) + ": the track has no keys");
    } else if (contents.keys.size() < static_cast<size_t>(contents.count)) {
        found.error(path, "the key count says " + std::to_string(contents.count) + " keys but only " +
                              std::to_string(contents.keys.size()) + " are complete");
    }
    if (contents.countHigh != 0) {
        found.error(path, "bytes 4 to 7 of the key count are not zero");
    }
    if (contents.trailingData) {
        found.error(path, "bytes after the last key are not part of the track");
    }
    int reported = 0;
    for (size_t k = 0; k < contents.keys.size() && reported < problemsPerFile; ++k) {
        const TrackKey& key = contents.keys[k];
        std::string problem;
        if (k > 0 && key.row <= contents.keys[k - 1].row) {
            problem = "is not after the key before it (row " + std::to_string(contents.keys[k - 1].row) +
                      "): keys must be in strictly ascending row order";
        } else if (!std::isfinite(key.value)) {
            problem = "has a value that is not a finite number";
        } else if (interpolationName(key.interpolation) == nullptr) {
            problem = "has the unknown interpolation code " + std::to_string(key.interpolation);
        }
        if (!problem.empty()) {
            found.error(path,
                        "key " + std::to_string(k) + " (row " + std::to_string(key.row) + ") " + problem);
            ++reported;
        }
    }
}

// A track's text source, where it has one, must build to the keys of its compiled file: a save
// that failed halfway, or a file rebuilt from another source, leaves them disagreeing.
void checkTrackSource(Collector& found, const std::string& compiled, const std::string& source,
                      const TrackFile::Contents& contents) {
    if (!pathExists(source)) {
        return;
    }
    std::string text;
    std::string error;
    if (!readRegularFile(source, TrackFile::maxFileBytes, text, error)) {
        found.error(source, error);
        return;
    }
    const TrackText::Result parsed = TrackText::parse(text);
    for (const TrackText::Message& message : parsed.messages) {
        if (message.error) {
            found.error(source, "line " + std::to_string(message.line) + ": " + message.text);
            return;
        }
    }
    const std::vector<TrackKey> fromSource = TrackFile::sortKeys(parsed.keys);
    const std::vector<TrackKey> fromFile = TrackFile::sortKeys(contents.keys);
    const bool same = fromSource.size() == fromFile.size() &&
                      (fromSource.empty() || std::memcmp(fromSource.data(), fromFile.data(),
                                                         fromSource.size() * sizeof(TrackKey)) == 0);
    if (!same) {
        found.error(compiled, "does not agree with its source " + source +
                                  " (a save that failed halfway?): save the source again, or rebuild with "
                                  "velmora-track build " +
                                  source + " " + compiled);
    }
}

void checkTracks(Collector& found, DataCheckResult& result, const ::Demo::ShowData& show,
                 DataCheckDepth depth, TrackData& end) {
    for (const std::string& name : show.tracks) {
        const std::string path = show.trackBase + "_" + name + ".track";
        if (!pathExists(path)) {
            ++result.tracksWithoutFile;
            if (depth == DataCheckDepth::Thorough) {
                found.warning(path, "no file for the track \"" + name + "\": it is 0 throughout" +
                                        (name == "e" ? ", so the show does not end by itself" : ""));
            }
            continue;
        }
        TrackFile::Contents contents;
        std::string error;
        if (!TrackFile::load(path, contents, error)) {
            found.error(path, error);
            continue;
        }
        if (depth == DataCheckDepth::Thorough) {
            checkTrackKeys(found, path, contents);
        }
        checkTrackSource(found, path, parentFolder(show.trackBase) + "/src/" + name + ".txt", contents);
        if (name == "e") {
            end.keys = TrackFile::sortKeys(std::move(contents.keys));
        }
    }
    if (depth != DataCheckDepth::Thorough) {
        return;
    }
    // Track files that nothing reads: a misspelt name is never loaded.
    const std::string folder = parentFolder(show.trackBase);
    const std::string prefix = baseName(show.trackBase) + "_";
    std::vector<std::string> names = listDirectory(folder);
    std::sort(names.begin(), names.end());
    for (const std::string& file : names) {
        const std::string suffix = ".track";
        if (file.size() <= prefix.size() + suffix.size() || file.compare(0, prefix.size(), prefix) != 0 ||
            file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0) {
            continue;
        }
        const std::string name = file.substr(prefix.size(), file.size() - prefix.size() - suffix.size());
        if (std::find(show.tracks.begin(), show.tracks.end(), name) == show.tracks.end()) {
            found.warning(folder + "/" + file, "the show reads no track \"" + name + "\"");
        }
    }
}

void checkSoundtrack(Collector& found, DataCheckResult& result, const ::Demo::ShowData& show,
                     DataCheckDepth depth) {
    if (!readable(found, show.soundtrack, Mp3Decoder::maxFileBytes)) {
        return;
    }
    Mp3Decoder decoder;
    std::string error;
    if (!decoder.open(show.soundtrack.c_str(), error)) {
        found.error(show.soundtrack, "cannot be decoded as MPEG audio (" + error + ")");
        return;
    }
    int64_t frames = decoder.frameCount();
    if (depth == DataCheckDepth::Thorough) {
        // Every frame decoded, as the off-screen runs do.
        std::vector<float> block(2 * 65536);
        int64_t decoded = 0;
        for (int64_t got = 1; got > 0; decoded += got) {
            got = decoder.read(block.data(), 65536);
        }
        if (decoded < frames) {
            found.error(show.soundtrack, "decodes only to " +
                                             decimal(double(decoded) / Mp3Decoder::sampleRate) +
                                             " s of the " + decimal(double(frames) / Mp3Decoder::sampleRate) +
                                             " s its headers announce");
        }
        frames = std::min(frames, decoded);
    }
    result.musicSeconds = double(frames) / Mp3Decoder::sampleRate;
}

} // namespace

std::string formatProblem(const DataProblem& problem) {
    // One line, whatever the driver's message holds.
    std::string message;
    for (char c : problem.message) {
        if (c == '\n') {
            message += " / ";
        } else if (c != '\r') {
            message += c;
        }
    }
    return problem.file + (problem.line > 0 ? ":" + std::to_string(problem.line) : "") +
           (problem.warning ? ": warning: " : ": error: ") + message;
}

int DataCheckResult::errors() const {
    return static_cast<int>(std::count_if(problems.begin(), problems.end(),
                                          [](const DataProblem& problem) { return !problem.warning; }));
}

int DataCheckResult::warnings() const {
    return static_cast<int>(problems.size()) - errors();
}

DataCheckResult checkDataFiles(DataCheckDepth depth) {
    const ::Demo::ShowData& show = ::Demo::showData();
    DataCheckResult result;
    Collector found(result);
    if (!isDirectory("./data")) {
        found.error("./data", "no data folder here (run from the folder that holds data/)");
        return result;
    }
    result.programs = static_cast<int>(show.programs.size());
    checkShaderSources(found, show);
    checkSprite(found, show);
    for (const std::string& cloud : show.binaryClouds) {
        checkBinaryCloud(found, cloud, depth);
    }
    for (const std::string& cloud : show.textClouds) {
        checkTextCloud(found, cloud, depth);
    }
    TrackData end;
    end.name = "e";
    checkTracks(found, result, show, depth, end);
    checkSoundtrack(found, result, show, depth);
    if (depth == DataCheckDepth::Thorough && result.musicSeconds > 0.0) {
        // The live clock stops at the end of the music: the end track must go below 0 by then, or
        // the show never ends by itself.
        const double lastRow = result.musicSeconds * show.rowsPerSecond;
        const double row = endRow(end, lastRow);
        result.showEndSeconds = row < 0.0 ? -1.0 : row / show.rowsPerSecond;
        if (row < 0.0 && !end.keys.empty()) {
            found.error(show.trackBase + "_e.track",
                        "the end track does not go below 0 before the music ends at " +
                            decimal(result.musicSeconds) + " s (row " + decimal(lastRow) +
                            "): the show would not end by itself");
        }
    }
    return result;
}

void checkShaderPrograms(DataCheckResult& result) {
    Collector found(result);
    for (const auto& [fragment, vertex] : ::Demo::showData().programs) {
        ShaderProgram program(fragment, vertex, FromFile);
        for (const ShaderProblem& problem : program.problems()) {
            found.error(problem.file.empty() ? fragment : problem.file, problem.message, problem.line);
        }
        if (!program.linked() && program.problems().empty()) {
            found.error(fragment, "does not link with " + vertex);
        }
    }
}

std::vector<DataProblem> unlinkedProgramProblems() {
    DataCheckResult result;
    Collector found(result);
    for (const ShaderProgram* program : ShaderProgram::all()) {
        if (program->linked()) {
            continue;
        }
        const std::string& fragment = program->fragmentFile();
        for (const ShaderProblem& problem : program->problems()) {
            found.error(problem.file.empty() ? fragment : problem.file, problem.message, problem.line);
        }
        if (program->problems().empty()) {
            found.error(fragment.empty() ? std::string("a built-in shader") : fragment,
                        "does not link" + (program->vertexFile().empty() ? std::string()
                                                                         : " with " + program->vertexFile()));
        }
    }
    return result.problems;
}

} // namespace Velmora
