#include "tools/content/HeartModel.h"

#include "tools/content/DetMath.h"

#include <glm/geometric.hpp>
#include <glm/mat3x3.hpp>

#include <algorithm>
#include <cmath>

namespace Content {

namespace {

// Ventricular long axis: from the middle of the atrioventricular plane down to the apex.
const Vec ventricleBase(0.3, 0.9, 0.0);
const Vec apex(3.1, -5.3, 1.7);

const Vec rightAtrium(-2.9, 1.9, -0.1);
const Vec leftAtrium(0.5, 2.3, -2.4);

Vec ventricleAxis() {
    return glm::normalize(apex - ventricleBase);
}

std::vector<Tube> makeVessels() {
    std::vector<Tube> tubes;
    // Aorta: ascending from the root, arching back and to the patient's left, descending behind.
    tubes.emplace_back(std::vector<Vec>{{-0.2, 1.5, 0.3},
                                        {-0.7, 3.5, 0.5},
                                        {-0.6, 5.6, 0.1},
                                        {0.4, 6.6, -1.2},
                                        {1.6, 6.1, -2.6},
                                        {2.0, 4.3, -3.2},
                                        {2.0, 1.8, -3.4}},
                       std::vector<double>{1.3, 1.35, 1.3, 1.2, 1.15, 1.1, 1.05});
    // Brachiocephalic trunk, left common carotid and left subclavian arteries from the arch.
    tubes.emplace_back(std::vector<Vec>{{-0.5, 6.0, -0.3}, {-0.95, 7.1, -0.5}, {-1.3, 8.1, -0.6}},
                       std::vector<double>{0.65, 0.6, 0.55});
    tubes.emplace_back(std::vector<Vec>{{0.5, 6.4, -1.3}, {0.6, 7.5, -1.5}, {0.7, 8.3, -1.6}},
                       std::vector<double>{0.5, 0.45, 0.42});
    tubes.emplace_back(std::vector<Vec>{{1.3, 6.1, -2.2}, {1.75, 7.1, -2.5}, {2.2, 7.9, -2.7}},
                       std::vector<double>{0.55, 0.5, 0.47});
    // Pulmonary trunk from the conus, up and back to its bifurcation under the arch.
    tubes.emplace_back(std::vector<Vec>{{0.8, 2.5, 1.5}, {1.3, 3.9, 0.8}, {1.5, 4.7, -0.5}},
                       std::vector<double>{1.3, 1.3, 1.15});
    // Left pulmonary artery, to the patient's left and back.
    tubes.emplace_back(std::vector<Vec>{{1.5, 4.7, -0.5}, {3.0, 4.9, -1.3}, {4.3, 4.4, -2.0}},
                       std::vector<double>{0.95, 0.85, 0.8});
    // Right pulmonary artery, under the arch and behind the ascending aorta.
    tubes.emplace_back(std::vector<Vec>{{1.5, 4.7, -0.5}, {0.0, 4.5, -1.7}, {-2.1, 4.2, -2.2}},
                       std::vector<double>{0.95, 0.85, 0.8});
    // Superior vena cava into the top of the right atrium; a stub of the inferior one below it.
    tubes.emplace_back(std::vector<Vec>{{-2.7, 2.8, -0.3}, {-2.7, 5.0, -0.4}, {-2.6, 7.0, -0.5}},
                       std::vector<double>{1.0, 0.95, 0.95});
    tubes.emplace_back(std::vector<Vec>{{-2.7, 0.8, -0.8}, {-2.5, -0.6, -1.1}, {-2.4, -1.9, -1.3}},
                       std::vector<double>{1.05, 1.0, 1.0});
    // Four pulmonary veins into the back of the left atrium.
    tubes.emplace_back(std::vector<Vec>{{-0.8, 2.8, -2.7}, {-2.0, 3.0, -3.3}},
                       std::vector<double>{0.55, 0.5});
    tubes.emplace_back(std::vector<Vec>{{-0.8, 1.8, -2.7}, {-2.0, 1.5, -3.3}},
                       std::vector<double>{0.55, 0.5});
    tubes.emplace_back(std::vector<Vec>{{2.0, 2.8, -2.6}, {3.3, 3.0, -3.2}}, std::vector<double>{0.55, 0.5});
    tubes.emplace_back(std::vector<Vec>{{2.0, 1.8, -2.6}, {3.3, 1.5, -3.2}}, std::vector<double>{0.55, 0.5});
    return tubes;
}

template <typename Distance> Vec gradientOf(const Distance& distance, const Vec& p, double h) {
    return Vec(distance(p + Vec(h, 0.0, 0.0)) - distance(p - Vec(h, 0.0, 0.0)),
               distance(p + Vec(0.0, h, 0.0)) - distance(p - Vec(0.0, h, 0.0)),
               distance(p + Vec(0.0, 0.0, h)) - distance(p - Vec(0.0, 0.0, h))) /
           (2.0 * h);
}

// Guide paths of the coronary arteries; each point is dropped onto the chamber surface.
struct GuidePath {
    std::vector<Vec> points;
    double radius;
};

std::vector<GuidePath> coronaryGuides() {
    return {
        // Right coronary artery: from the aortic root round the right atrioventricular groove.
        {{{-0.8, 1.4, 1.3},
          {-1.6, 0.9, 2.0},
          {-2.6, 0.1, 1.7},
          {-3.2, -0.8, 0.6},
          {-3.0, -1.2, -0.8},
          {-2.0, -1.6, -2.0}},
         0.2},
        // Left anterior descending: down the anterior interventricular groove to the apex.
        {{{0.7, 1.6, 1.1},
          {1.3, 0.6, 2.4},
          {1.7, -1.2, 2.9},
          {2.3, -3.0, 2.7},
          {2.9, -4.6, 2.1},
          {3.3, -5.6, 1.4}},
         0.19},
        // Circumflex: round the left atrioventricular groove to the back.
        {{{0.7, 1.6, 1.1}, {2.0, 1.0, 0.9}, {3.3, 0.3, -0.3}, {3.2, -0.2, -1.8}, {2.2, -0.6, -2.9}}, 0.18},
        // A diagonal branch of the descending artery and a marginal branch of the right one.
        {{{1.5, -0.6, 2.8}, {2.6, -1.6, 2.5}, {3.7, -2.6, 1.5}}, 0.13},
        {{{-2.6, 0.1, 1.7}, {-2.1, -1.4, 2.1}, {-1.2, -3.0, 2.1}}, 0.13},
    };
}

// Newton steps from p onto the zero set of a distance function.
template <typename Distance> Vec projectOnto(const Distance& distance, Vec p) {
    const double h = 1e-5;
    for (int i = 0; i < 30; ++i) {
        const double d = distance(p);
        const Vec g = gradientOf(distance, p, h);
        const double g2 = glm::dot(g, g);
        if (g2 < 1e-12) {
            break;
        }
        p -= g * (d / g2);
    }
    return p;
}

} // namespace

HeartShape::HeartShape()
    // Left ventricle: a blunt cone ending in the apex, widened near the base.
    : lvCone{ventricleBase + ventricleAxis() * 1.2, apex - ventricleAxis() * 0.8, 3.0, 0.8},
      lvBody(ventricleBase + ventricleAxis() * 2.6, Frame::along(ventricleAxis()), Vec(3.7, 3.0, 3.0)),
      // Right ventricle: wraps the front and right of the left one and stops short of the apex.
      rv(ventricleBase + ventricleAxis() * 2.2 + Vec(-1.7, 0.1, 1.3),
         Frame::along(ventricleAxis() + Vec(-0.15, 0.0, 0.1)), Vec(3.3, 2.5, 2.2)),
      // Outflow tract (conus) rising from the right ventricle to the pulmonary valve.
      conus{Vec(-0.4, 0.2, 2.0), Vec(0.8, 2.5, 1.5), 1.7, 1.3},
      ra(rightAtrium, Frame::along(Vec(0.0, 1.0, 0.0)), Vec(2.3, 1.9, 2.0)),
      la(leftAtrium, Frame::along(Vec(1.0, 0.0, 0.0), Vec(0.0, 1.0, 0.0)), Vec(2.5, 1.5, 1.7)),
      // Auricles: flattened ear-shaped lobes, the right one over the aortic root, the left one beside
      // the pulmonary trunk.
      rightAuricle(Vec(-1.6, 2.9, 1.5), Frame::along(Vec(0.8, 0.5, 0.4), Vec(0.0, 1.0, 0.0)),
                   Vec(1.4, 0.9, 0.6)),
      leftAuricle(Vec(2.5, 2.3, 0.5), Frame::along(Vec(-0.3, -0.4, 0.9), Vec(0.0, 1.0, 0.0)),
                  Vec(1.3, 0.9, 0.6)),
      vessels(makeVessels()) {
    const auto chambers = [this](const Vec& p) { return chamberDistance(p); };
    for (const GuidePath& guide : coronaryGuides()) {
        std::vector<Vec> points;
        std::vector<double> radii;
        for (const Vec& g : guide.points) {
            const Vec onSurface = projectOnto(chambers, g);
            const Vec normal = glm::normalize(gradientOf(chambers, onSurface, 1e-5));
            // Mostly sunk into the groove, a low ridge standing out of it.
            points.push_back(onSurface + normal * (0.1 * guide.radius));
            radii.push_back(guide.radius);
        }
        coronaries.emplace_back(points, radii, 10);
        coronaryBox.include(coronaries.back().bounds().low);
        coronaryBox.include(coronaries.back().bounds().high);
    }
}

double HeartShape::ventricles(const Vec& p) const {
    const double lv = smin(lvCone.distance(p), lvBody.distance(p), 1.2);
    // A small blend keeps the interventricular groove visible.
    return smin(smin(lv, rv.distance(p), 0.5), conus.distance(p), 0.7);
}

double HeartShape::atria(const Vec& p) const {
    return smin(smin(smin(ra.distance(p), la.distance(p), 0.6), rightAuricle.distance(p), 0.4),
                leftAuricle.distance(p), 0.4);
}

double HeartShape::chamberDistance(const Vec& p) const {
    return smin(ventricles(p), atria(p), 0.8);
}

double HeartShape::distance(const Vec& p) const {
    double d = chamberDistance(p);
    for (const Tube& tube : vessels) {
        d = smin(d, tube.distance(p), 0.45);
    }
    // The coronary arteries only matter near the ventricles: skip them elsewhere.
    if (coronaryBox.contains(p, 0.5)) {
        for (const Tube& tube : coronaries) {
            d = smin(d, tube.distance(p), 0.12);
        }
    }
    return d;
}

Box HeartShape::bounds() const {
    Box b;
    b.low = Vec(-5.0, -7.0, -5.0);
    b.high = Vec(5.5, 9.8, 4.5);
    return b;
}

Vec contractHeart(const Vec& p) {
    const Vec axis = ventricleAxis();
    const double length = glm::length(apex - ventricleBase);
    const Vec fromBase = p - ventricleBase;
    const double along = glm::dot(fromBase, axis);
    const Vec radial = fromBase - axis * along;
    const double radialDistance = glm::length(radial);

    // Weight of the ventricular muscle: below the atrioventricular plane and not too far from the axis.
    const double ventricle = smoothstep(-0.8, 1.0, along) * (1.0 - smoothstep(4.2, 5.4, radialDistance));
    // Squeeze inward by up to 11 %, shorten by up to 9 % toward the base (the apex lifts).
    const double squeeze = 1.0 - 0.11 * ventricle;
    const double shortening = 1.0 - 0.09 * ventricle * smoothstep(0.0, length, along);
    Vec moved = ventricleBase + axis * (along * shortening) + radial * squeeze;
    // A little extra lift of the apex itself.
    moved.y += 0.25 * ventricle * smoothstep(0.5 * length, length, along);

    // Atria fill while the ventricles empty: swell each by up to 6 % about its centre.
    for (const Vec& centre : {rightAtrium, leftAtrium}) {
        const Vec d = p - centre;
        const double w = detExp(-glm::dot(d, d) / 6.0) * (1.0 - ventricle);
        moved += d * (0.06 * w);
    }
    return moved;
}

HeartPhases makeHeart(std::size_t count, std::uint64_t seed) {
    const HeartShape shape;
    HeartPhases phases;
    phases.relaxed = sampleSurface(shape, count, seed);
    phases.contracted.reserve(phases.relaxed.size());
    const double h = 1e-4;
    for (const SurfacePoint& s : phases.relaxed) {
        // Normals follow the deformation through the inverse transpose of its Jacobian.
        glm::dmat3 jacobian;
        for (int i = 0; i < 3; ++i) {
            Vec step(0.0);
            step[i] = h;
            jacobian[i] = (contractHeart(s.position + step) - contractHeart(s.position - step)) / (2.0 * h);
        }
        const Vec normal = glm::transpose(glm::inverse(jacobian)) * s.normal;
        phases.contracted.push_back({contractHeart(s.position), glm::normalize(normal)});
    }
    return phases;
}

} // namespace Content
