#include "tools/content/FetusModel.h"

#include "tools/content/DetMath.h"

#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>

namespace Content {

namespace {

// A frame whose first axis lies in the side-view plane at the given angle from +x.
Frame tilted(double degrees) {
    const double a = degrees * pi / 180.0;
    return Frame::along(Vec(detCos(a), detSin(a), 0.0), Vec(0.0, 0.0, 1.0));
}

std::vector<Vec> cordPath() {
    // Out of the belly, forward between the knees and the arms, then a loose S out in front of the legs
    // and up, clear of the face, toward the placenta. A small helical wobble gives the cord its twisted look.
    const std::vector<Vec> guide{{1.8, -2.0, 0.0},  {3.0, -1.9, 0.0}, {4.3, -2.1, -0.5}, {5.3, -2.9, -0.7},
                                 {6.2, -2.4, -0.5}, {6.4, -1.0, 0.0}, {6.0, 0.4, 0.5},   {6.3, 1.8, 0.8}};
    std::vector<Vec> points;
    for (std::size_t i = 0; i < guide.size(); ++i) {
        const double t = static_cast<double>(i) * 1.9;
        points.push_back(guide[i] + Vec(0.0, 0.12 * detSin(t), 0.12 * detCos(t)));
    }
    return points;
}

std::vector<Vec> spinePath() {
    return {{-0.9, 1.3, 0.0}, {-1.45, -0.3, 0.0}, {-1.8, -1.8, 0.0}, {-1.75, -3.2, 0.0}, {-1.2, -4.3, 0.0}};
}

} // namespace

FetusShape::Side FetusShape::makeSide(double side) {
    // Legs: thigh up to the knee by the chest, shin folded back down, foot turned up at the ankle.
    const Vec hip(0.2, -3.5, 1.0 * side);
    const Vec knee(3.4, -1.0, 1.15 * side);
    const Vec ankle(2.6, -4.1, 0.75 * side);
    // Arms: upper arm down along the chest, forearm folded up, small fist below the chin.
    const Vec shoulder(0.5, 0.3, 1.75 * side);
    const Vec elbow(1.6, -1.3, 1.95 * side);
    const Vec wrist(2.7, -0.1, 1.2 * side);
    return Side{RoundCone{hip, knee, 1.0, 0.62}, RoundCone{knee, ankle, 0.62, 0.38},
                RoundCone{shoulder, elbow, 0.62, 0.45}, RoundCone{elbow, wrist, 0.45, 0.34},
                Ellipsoid(Vec(3.1, -2.8, 0.95 * side), tilted(-72.0), Vec(0.95, 0.5, 0.5)),
                Ellipsoid(Vec(3.25, -4.35, 0.7 * side), tilted(-5.0), Vec(0.85, 0.28, 0.4)),
                Ellipsoid(Vec(3.05, 0.25, 0.95 * side), tilted(60.0), Vec(0.55, 0.42, 0.3)),
                // Closed eyelids bulging a little inside the sockets.
                Ellipsoid(Vec(2.45, 3.05, 0.8 * side), tilted(0.0), Vec(0.28, 0.2, 0.3)),
                // Ears low on the side of the head.
                Ellipsoid(Vec(-0.3, 2.8, 2.05 * side), tilted(70.0), Vec(0.75, 0.5, 0.22)),
                Vec(2.75, 3.05, 0.8 * side),
                RoundCone{Vec(3.1, 0.1, 0.75 * side), Vec(3.45, 0.5, 0.6 * side), 0.13, 0.11}};
}

FetusShape::FetusShape()
    // Cranium: long axis tipped back; the forehead rounds forward above the face.
    : cranium(Vec(-0.2, 3.6, 0.0), tilted(25.0), Vec(2.75, 2.45, 2.25)),
      forehead(Vec(1.15, 3.95, 0.0), tilted(80.0), Vec(1.6, 1.45, 1.8)),
      // Mid-face and cheeks between the brow and the mouth; the nose sticks out of it.
      midface(Vec(1.9, 2.4, 0.0), tilted(80.0), Vec(1.1, 0.95, 1.35)),
      nose(Vec(3.05, 2.55, 0.0), tilted(-30.0), Vec(0.5, 0.32, 0.34)),
      upperLip(Vec(2.72, 2.0, 0.0), tilted(0.0), Vec(0.36, 0.22, 0.55)),
      lowerLip(Vec(2.62, 1.72, 0.0), tilted(0.0), Vec(0.32, 0.2, 0.45)),
      chin(Vec(2.4, 1.32, 0.0), tilted(20.0), Vec(0.52, 0.42, 0.7)), jaw{Vec(0.3, 2.0, 0.0),
                                                                         Vec(2.1, 1.45, 0.0), 1.3, 0.7},
      noseBridge{Vec(2.6, 3.25, 0.0), Vec(3.05, 2.75, 0.0), 0.24, 0.22}, neck{Vec(0.3, 1.7, 0.0),
                                                                              Vec(0.3, 0.5, 0.0), 1.15, 1.3},
      // Trunk: chest, belly and pelvis along the curled back.
      chest(Vec(0.1, -0.4, 0.0), tilted(-70.0), Vec(1.75, 1.7, 1.95)),
      belly(Vec(0.25, -2.1, 0.0), tilted(-95.0), Vec(1.65, 1.95, 1.85)),
      pelvis(Vec(-0.15, -3.5, 0.0), tilted(-130.0), Vec(1.6, 1.45, 1.75)), sides{makeSide(-1.0),
                                                                                 makeSide(1.0)},
      spine(spinePath(), std::vector<double>(5, 0.32), 8),
      cord(cordPath(), std::vector<double>(8, 0.32), 10) {}

double FetusShape::head(const Vec& p) const {
    double d = smin(cranium.distance(p), forehead.distance(p), 0.8);
    d = smin(d, midface.distance(p), 0.7);
    d = smin(d, jaw.distance(p), 0.6);
    d = smin(d, chin.distance(p), 0.35);
    d = smin(d, noseBridge.distance(p), 0.3);
    d = smin(d, nose.distance(p), 0.2);
    d = smin(d, upperLip.distance(p), 0.15);
    d = smin(d, lowerLip.distance(p), 0.15);
    // The mouth line, carved in.
    d = smax(d, -sdCapsule(p, Vec(2.88, 1.86, -0.4), Vec(2.88, 1.86, 0.4), 0.05), 0.05);
    for (const Side& side : sides) {
        d = smax(d, -sdSphere(p, side.eyeSocket, 0.38), 0.2);
        d = smin(d, side.eyelid.distance(p), 0.1);
        d = smin(d, side.ear.distance(p), 0.2);
    }
    return d;
}

double FetusShape::body(const Vec& p) const {
    double d = smin(neck.distance(p), chest.distance(p), 0.8);
    d = smin(d, belly.distance(p), 1.0);
    d = smin(d, pelvis.distance(p), 0.9);
    // The spine shows as a low ridge along the curved back.
    return smin(d, spine.distance(p), 0.5);
}

double FetusShape::limbs(const Vec& p) const {
    double d = 1e300;
    for (const Side& side : sides) {
        d = std::min(d, side.thigh.distance(p));
        d = smin(d, side.shin.distance(p), 0.3);
        d = smin(d, side.calf.distance(p), 0.5);
        d = smin(d, side.foot.distance(p), 0.25);
        d = smin(d, side.upperArm.distance(p), 0.2);
        d = smin(d, side.forearm.distance(p), 0.2);
        d = smin(d, side.hand.distance(p), 0.2);
        d = smin(d, side.thumb.distance(p), 0.08);
    }
    return d;
}

double FetusShape::distance(const Vec& p) const {
    double d = smin(head(p), body(p), 0.6);
    // Limbs join the trunk with a small blend so they stay separate shapes.
    d = smin(d, limbs(p), 0.35);
    return smin(d, cord.distance(p), 0.3);
}

Box FetusShape::bounds() const {
    Box b;
    b.low = Vec(-3.6, -5.6, -3.2);
    b.high = Vec(7.2, 6.8, 3.2);
    return b;
}

std::vector<SurfacePoint> makeFetus(std::size_t count, std::uint64_t seed) {
    const FetusShape shape;
    return sampleSurface(shape, count, seed);
}

} // namespace Content
