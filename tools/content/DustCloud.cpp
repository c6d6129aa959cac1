#include "tools/content/DustCloud.h"

#include "tools/content/DetMath.h"
#include "tools/content/Random.h"
#include "tools/content/Sdf.h"

#include <glm/geometric.hpp>

#include <cmath>

namespace Content {

std::vector<glm::dvec3> makeDust(const DustSettings& settings, std::uint64_t seed) {
    Random random(seed);
    std::vector<Vec> points;
    points.reserve(settings.count);
    const double h = settings.halfExtent;
    auto inField = [&](const Vec& p) {
        const double r = glm::length(p);
        if (std::fabs(p.x) > h || std::fabs(p.y) > h || std::fabs(p.z) > h || r < settings.clearRadius) {
            return false;
        }
        return true;
    };

    const auto wispCount =
        settings.wisps > 0
            ? static_cast<std::size_t>(settings.wispShare * static_cast<double>(settings.count))
            : 0;
    const std::size_t fieldCount = settings.count - wispCount;

    // Field: uniform in the cube, kept with a probability that rises away from the middle and fades
    // again toward the outer radius, so it reads as a ball of dust rather than a box.
    while (points.size() < fieldCount) {
        const Vec p(random.uniform(-h, h), random.uniform(-h, h), random.uniform(-h, h));
        const double r = glm::length(p);
        const double keep = smoothstep(settings.clearRadius, settings.thinRadius, r) *
                            (1.0 - smoothstep(0.75 * settings.outerRadius, settings.outerRadius, r));
        if (random.uniform() < keep && inField(p)) {
            points.push_back(p);
        }
    }

    // Wisps: curves through random points on a shell around the middle, with a Gaussian spread that
    // grows toward the curve's ends so each wisp frays out.
    std::vector<std::vector<Vec>> curves;
    for (int w = 0; w < settings.wisps; ++w) {
        std::vector<Vec> controls;
        Vec p(random.gaussian(), random.gaussian(), random.gaussian());
        p = glm::normalize(p) * random.uniform(0.5, 1.1);
        // Steps mostly along one drifting direction, so a wisp is a long gentle arc, not a knot.
        Vec heading = glm::normalize(Vec(random.gaussian(), random.gaussian(), random.gaussian()));
        for (int i = 0; i < 5; ++i) {
            controls.push_back(p);
            const Vec turn(random.gaussian(), random.gaussian(), random.gaussian());
            heading = glm::normalize(heading + 0.6 * turn);
            p += heading * random.uniform(0.35, 0.55);
        }
        curves.push_back(controls);
    }
    while (points.size() < settings.count && !curves.empty()) {
        const std::vector<Vec>& c = curves[random.below(curves.size())];
        const double u = random.uniform() * 2.0; // two spans: controls 1..3
        const int span = u < 1.0 ? 1 : 2;
        const double t = u - (span - 1);
        const Vec centre = catmullRom(c[span - 1], c[span], c[span + 1], c[span + 2], t);
        const double fray = 0.04 + 0.08 * std::fabs(u - 1.0);
        const Vec p = centre + Vec(random.gaussian(), random.gaussian(), random.gaussian()) * fray;
        if (inField(p)) {
            points.push_back(p);
        }
    }
    return points;
}

} // namespace Content
