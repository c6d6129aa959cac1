// Writes every generated file of the show into a data folder: the sprite "img/foo.png", the heart's two
// phases "raw/heart_1.bin" and "raw/heart_2.bin", the fetus "raw/fetus_512.bin" and the background dust
// "raw/jooh.txt". Everything follows from the fixed seed, so the files are byte-identical on every run.
#pragma once

#include "tools/content/PointCloudFile.h"
#include "tools/content/Sprite.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Content {

// Point counts: the show draws one sprite per point, so these set its per-frame cost.
constexpr std::size_t heartPointCount = 16000;
constexpr std::size_t fetusPointCount = 12000;
constexpr std::size_t dustPointCount = 4000;
constexpr int spriteSize = 64;
// Longest side of the heart and the fetus in file units (the scene scales them by 65).
constexpr double modelSpan = 0.08;
constexpr std::uint64_t contentSeed = 0x56454c4d4f5241ULL;

struct GeneratedContent {
    RgbaImage sprite;
    std::vector<CloudPoint> heartRelaxed;
    std::vector<CloudPoint> heartContracted;
    std::vector<CloudPoint> fetus;
    std::vector<glm::vec3> dust;
};

GeneratedContent generateContent();

// Generates and writes the files under dataDir; returns the paths written, relative to dataDir.
std::vector<std::string> writeContent(const std::string& dataDir);

} // namespace Content
