// Point-cloud files under ./data/raw: the binary format (six little-endian float32 per point, the
// first three are the position) and the text format (one "x y z" point per line).
//
// The readers validate nothing and never fail: a missing or unreadable file gives an empty list.
// They are free functions so that they can be used (and tested) without a GL context; the scene's
// static members `LogoScene::readBParticles` and `LogoScene::readTextParticles` forward to them.
// Only regular files of at most maxPointCloudBytes are read (anything else reads as missing), and
// never more than the file's size, so a device, a FIFO or a huge sparse file given as a path cannot
// make a reader block or allocate without bound.
#pragma once

#include <glm/vec3.hpp>

#include <cstdint>
#include <vector>

namespace Demo {

// Larger point-cloud files are refused: 44 million points in the binary form, where the show's
// clouds hold some ten thousand.
constexpr std::uint64_t maxPointCloudBytes = 1ull << 30;

// The whole binary file as float32 values; 1 to 3 trailing bytes are ignored.
std::vector<float> readRawFloats(const char* path);

// Binary point cloud: one point per record of six values, and one for a trailing group of three to
// five values; a trailing group of one or two values is dropped. Writes the console lines
// "LogoScene::readBParticles", "- <value count>" and "<index>: x, y, z" for the first ten points.
std::vector<glm::vec3> readBinaryPointCloud(const char* path);

// Text point cloud: one point per line, up to three numbers as by `float` stream extraction.
// A coordinate that a line does not supply keeps the previous point's value (0 on the first line).
// Writes nothing to the console.
std::vector<glm::vec3> readTextPointCloud(const char* path);

} // namespace Demo
