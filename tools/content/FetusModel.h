// A curled fetus in side view: a large head with forehead, nose, lips and chin in profile, closed eyes
// and ears, a short neck, a C-curved back with the spine showing, knees drawn up to the chest, shins
// folded back, small feet, arms folded in front with the hands by the face, and the umbilical cord
// looping out of the belly. Built from ellipsoids, round cones and tubes joined with smooth unions.
//
// Model units are centimetres: +x is the way the face looks, +y up, +z the fetus's left side.
#pragma once

#include "tools/content/ImplicitShape.h"
#include "tools/content/SurfaceSampler.h"

#include <cstdint>
#include <vector>

namespace Content {

class FetusShape : public ImplicitShape {
public:
    FetusShape();

    double distance(const Vec& p) const override;
    Box bounds() const override;

private:
    double head(const Vec& p) const;
    double body(const Vec& p) const;
    double limbs(const Vec& p) const;

    // One arm and one leg; index 0 is the right side (-z), 1 the left (+z).
    struct Side {
        RoundCone thigh, shin, upperArm, forearm;
        Ellipsoid calf, foot, hand, eyelid, ear;
        Vec eyeSocket;
        RoundCone thumb;
    };
    static Side makeSide(double side);

    Ellipsoid cranium, forehead, midface, nose, upperLip, lowerLip, chin;
    RoundCone jaw, noseBridge, neck;
    Ellipsoid chest, belly, pelvis;
    Side sides[2];
    Tube spine;
    Tube cord;
};

std::vector<SurfacePoint> makeFetus(std::size_t count, std::uint64_t seed);

} // namespace Content
