#include "demo/PointCloud.h"

#include "base/Files.h"
#include "base/Logger.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

namespace Demo {

namespace {

// A console line without a level, formatted as stream output formats it.
template <typename... Parts> void progressLine(const Parts&... parts) {
    std::ostringstream line;
    (line << ... << parts);
    Velmora::Logger::instance().plain(line.str());
}

} // namespace

std::vector<float> readRawFloats(const char* path) {
    std::vector<float> values;
    std::string error;
    std::FILE* file = path != nullptr ? Velmora::openRegularFile(path, maxPointCloudBytes, error) : nullptr;
    if (file == nullptr) {
        return values;
    }
    // The file's size bounds the allocation; a file that shrank meanwhile gives fewer values.
    const Velmora::FileInfo info = Velmora::fileInfo(path);
    const size_t wanted = static_cast<size_t>(std::min<std::uint64_t>(info.size, maxPointCloudBytes) / 4);
    values.resize(wanted);
    const size_t got = std::fread(values.data(), 4, wanted, file);
    std::fclose(file);
    values.resize(got);
    static_assert(sizeof(float) == 4, "point clouds hold float32 values");
    return values;
}

std::vector<glm::vec3> readBinaryPointCloud(const char* path) {
    progressLine("LogoScene::readBParticles");
    const std::vector<float> values = readRawFloats(path);
    progressLine("- ", values.size());

    std::vector<glm::vec3> points;
    points.reserve((values.size() + 3) / 6);
    // A record needs at least its three coordinates: a last group of one or two values is dropped
    // rather than read past the end of the values.
    for (size_t k = 0; k + 3 <= values.size(); k += 6) {
        const glm::vec3 point(values[k], values[k + 1], values[k + 2]);
        points.push_back(point);
        const size_t index = k / 6;
        if (index < 10) {
            progressLine(index, ": ", point.x, ", ", point.y, ", ", point.z);
        }
    }
    return points;
}

std::vector<glm::vec3> readTextPointCloud(const char* path) {
    std::vector<glm::vec3> points;
    std::string text;
    std::string error;
    if (path == nullptr || !Velmora::readRegularFile(path, maxPointCloudBytes, text, error)) {
        return points;
    }
    std::istringstream file(text);
    // The coordinates live across lines: what a line does not supply repeats the previous point.
    float coordinates[3] = {0.0f, 0.0f, 0.0f};
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream stream(line);
        for (float& coordinate : coordinates) {
            // A failed extraction would store 0 (C++11 rules); read into a temporary so that a
            // token that is not a number leaves the previous value in place, and stop at the first
            // failure as stream extraction does.
            float value = 0.0f;
            if (!(stream >> value)) {
                break;
            }
            coordinate = value;
        }
        points.emplace_back(coordinates[0], coordinates[1], coordinates[2]);
    }
    return points;
}

} // namespace Demo
