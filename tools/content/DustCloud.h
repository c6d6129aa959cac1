// The background dust: a wide field of specks around the scene with a thinned-out middle, so the models
// at the origin stay clear, plus a few denser curved wisps. Points only, no normals.
#pragma once

#include <glm/vec3.hpp>

#include <cstdint>
#include <vector>

namespace Content {

struct DustSettings {
    std::size_t count = 4000;
    double halfExtent = 1.6;   // no point lies outside [-halfExtent, halfExtent] on any axis
    double clearRadius = 0.22; // no dust inside this radius
    double thinRadius = 0.6;   // density ramps up from clearRadius to here
    double outerRadius = 1.55; // density fades out toward here, so the field has no hard edge
    int wisps = 6;
    double wispShare = 0.25; // share of the points that make up the wisps
};

std::vector<glm::dvec3> makeDust(const DustSettings& settings, std::uint64_t seed);

} // namespace Content
