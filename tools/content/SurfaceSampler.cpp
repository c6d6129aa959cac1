#include "tools/content/SurfaceSampler.h"

#include "tools/content/Random.h"

#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <unordered_map>

namespace Content {

namespace {

constexpr int gridCells = 72; // cells along the longest side of the bounds

// Spatial hash of kept points, for the minimum-spacing test.
class SpacingGrid {
public:
    explicit SpacingGrid(double cellSize) : cell(cellSize) {}

    bool anyWithin(const Vec& p, double radius) const {
        const long long cx = key(p.x), cy = key(p.y), cz = key(p.z);
        const double r2 = radius * radius;
        for (long long x = cx - 1; x <= cx + 1; ++x) {
            for (long long y = cy - 1; y <= cy + 1; ++y) {
                for (long long z = cz - 1; z <= cz + 1; ++z) {
                    const auto found = cells.find(pack(x, y, z));
                    if (found == cells.end()) {
                        continue;
                    }
                    for (const Vec& q : found->second) {
                        const Vec d = q - p;
                        if (glm::dot(d, d) < r2) {
                            return true;
                        }
                    }
                }
            }
        }
        return false;
    }

    void add(const Vec& p) { cells[pack(key(p.x), key(p.y), key(p.z))].push_back(p); }

private:
    long long key(double v) const { return static_cast<long long>(std::floor(v / cell)); }
    static std::uint64_t pack(long long x, long long y, long long z) {
        const auto u = [](long long v) { return static_cast<std::uint64_t>(v + (1LL << 20)) & 0x1fffffULL; };
        return (u(x) << 42) | (u(y) << 21) | u(z);
    }

    double cell;
    std::unordered_map<std::uint64_t, std::vector<Vec>> cells;
};

} // namespace

std::vector<SurfacePoint> sampleSurface(const ImplicitShape& shape, std::size_t count, std::uint64_t seed) {
    std::vector<SurfacePoint> kept;
    if (count == 0) {
        return kept;
    }
    Random random(seed);

    // 1. Coarse grid over the padded bounds; keep the cells that may touch the surface.
    Box box = shape.bounds();
    const Vec extent = box.size();
    const double longest = std::max(extent.x, std::max(extent.y, extent.z));
    const double cell = longest / gridCells;
    box.low -= Vec(3.0 * cell);
    box.high += Vec(3.0 * cell);
    const Vec size = box.size();
    const int nx = static_cast<int>(std::ceil(size.x / cell));
    const int ny = static_cast<int>(std::ceil(size.y / cell));
    const int nz = static_cast<int>(std::ceil(size.z / cell));
    const double shell = 0.5 * cell;              // half-width of the candidate shell
    const double halfDiagonal = 0.8660254 * cell; // sqrt(3) / 2
    std::vector<Vec> nearCells;
    for (int k = 0; k < nz; ++k) {
        for (int j = 0; j < ny; ++j) {
            for (int i = 0; i < nx; ++i) {
                const Vec corner = box.low + Vec(i, j, k) * cell;
                const double d = shape.distance(corner + Vec(0.5 * cell));
                // The blended distances are not exact, so the test keeps a generous margin.
                if (std::fabs(d) < 1.6 * halfDiagonal + shell) {
                    // The bounds are padded by three cells, more than the margin above: surface in the
                    // outer layer means the shape outgrew its bounds and would come out clipped.
                    if (i == 0 || j == 0 || k == 0 || i == nx - 1 || j == ny - 1 || k == nz - 1) {
                        throw std::runtime_error("shape reaches past its bounds");
                    }
                    nearCells.push_back(corner);
                }
            }
        }
    }
    if (nearCells.empty()) {
        throw std::runtime_error("shape has no surface inside its bounds");
    }

    const double tolerance = 1e-6 * longest;
    const double gradientStep = 1e-5 * longest;
    auto candidate = [&](SurfacePoint& out) {
        const Vec& corner = nearCells[random.below(nearCells.size())];
        Vec p = corner + Vec(random.uniform(), random.uniform(), random.uniform()) * cell;
        double d = shape.distance(p);
        if (std::fabs(d) >= shell) {
            return false;
        }
        const Vec start = p;
        for (int step = 0; step < 12 && std::fabs(d) > tolerance; ++step) {
            const Vec g = shape.gradient(p, gradientStep);
            const double g2 = glm::dot(g, g);
            if (g2 < 1e-12) {
                return false;
            }
            p -= g * (d / g2);
            d = shape.distance(p);
        }
        if (std::fabs(d) > tolerance || glm::length(p - start) > 3.0 * shell) {
            return false;
        }
        const Vec g = shape.gradient(p, gradientStep);
        const double length = glm::length(g);
        if (length < 1e-6) {
            return false;
        }
        out.position = p;
        out.normal = g / length;
        return true;
    };

    // 2. Estimate the area from the share of shell hits: area ~ hit volume / shell width.
    const double nearVolume = static_cast<double>(nearCells.size()) * cell * cell * cell;
    const int probes = 40000;
    int hits = 0;
    for (int i = 0; i < probes; ++i) {
        const Vec& corner = nearCells[random.below(nearCells.size())];
        const Vec p = corner + Vec(random.uniform(), random.uniform(), random.uniform()) * cell;
        if (std::fabs(shape.distance(p)) < shell) {
            ++hits;
        }
    }
    const double area = std::max(1, hits) / static_cast<double>(probes) * nearVolume / (2.0 * shell);

    // 3. Dart throwing: random sequential addition stalls near 0.7 area / r^2 points, so start well
    // below that (where most darts still land) and shrink the spacing whenever they keep landing too
    // close.
    double spacing = std::sqrt(0.32 * area / static_cast<double>(count));
    SpacingGrid grid(spacing);
    kept.reserve(count);
    int misses = 0;
    long long attempts = 0;
    const long long maxAttempts = 2000LL * static_cast<long long>(count) + 1000000LL;
    SurfacePoint p;
    while (kept.size() < count) {
        if (++attempts > maxAttempts) {
            throw std::runtime_error("surface sampling did not converge");
        }
        if (!candidate(p)) {
            continue;
        }
        if (grid.anyWithin(p.position, spacing)) {
            if (++misses > 400) {
                spacing *= 0.97;
                misses = 0;
            }
            continue;
        }
        misses = 0;
        grid.add(p.position);
        kept.push_back(p);
    }
    return kept;
}

} // namespace Content
