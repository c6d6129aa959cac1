// Scatters a fixed number of points evenly over the zero level set of an implicit shape, each with its
// outward unit normal. Candidates are drawn uniformly in a thin shell around the surface (found with a
// coarse grid), pulled onto the surface with Newton steps, and kept only when no kept point lies closer
// than a spacing derived from the surface area: an even, blue-noise-like spread. Deterministic for a
// given seed.
#pragma once

#include "tools/content/ImplicitShape.h"

#include <cstdint>
#include <vector>

namespace Content {

struct SurfacePoint {
    Vec position;
    Vec normal;
};

std::vector<SurfacePoint> sampleSurface(const ImplicitShape& shape, std::size_t count, std::uint64_t seed);

} // namespace Content
