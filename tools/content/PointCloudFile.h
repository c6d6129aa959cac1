// The show's point-cloud files. Binary: no header, six little-endian float32 per point (position, then
// the unit surface normal in the three slots the show does not read). Text: one "x y z" line per point.
// The parsers accept any bytes: they never read past the data, and a short trailing group is kept only
// when it holds a whole position.
#pragma once

#include <glm/vec3.hpp>

#include <string>
#include <vector>

namespace Content {

struct CloudPoint {
    glm::vec3 position{0.0f};
    glm::vec3 normal{0.0f};
    bool hasNormal = false;
};

std::vector<unsigned char> encodeBinaryCloud(const std::vector<CloudPoint>& points);
std::vector<unsigned char> encodeTextCloud(const std::vector<glm::vec3>& points);

std::vector<CloudPoint> parseBinaryCloud(const std::vector<unsigned char>& bytes);

// Up to three numbers per line; like the show's reader, a coordinate a line does not give keeps the
// previous point's value (0 before the first point).
std::vector<CloudPoint> parseTextCloud(const std::vector<unsigned char>& bytes);

// Reads a ".txt" file as text and anything else as binary; at most 256 MiB.
std::vector<CloudPoint> readCloudFile(const std::string& path);

} // namespace Content
