// The anatomical heart: ventricles as a cone tilted toward the apex, both atria and auricles on top,
// the aorta with its arch and three branches, the pulmonary trunk and arteries, the venae cavae, the
// pulmonary veins and the coronary arteries lying in the surface grooves. Built from ellipsoids, round
// cones and tubes joined with smooth unions.
//
// Model units are centimetres in the anterior (textbook) view: +x to the viewer's right (the patient's
// left), +y up, +z toward the viewer. The contracted phase is the relaxed surface moved by a smooth
// deformation, so both phases have the same points in the same order.
#pragma once

#include "tools/content/ImplicitShape.h"
#include "tools/content/SurfaceSampler.h"

#include <cstdint>
#include <vector>

namespace Content {

class HeartShape : public ImplicitShape {
public:
    HeartShape();

    double distance(const Vec& p) const override;
    Box bounds() const override;

    // The chambers only (no vessels): the surface the coronary arteries are laid on.
    double chamberDistance(const Vec& p) const;

private:
    double ventricles(const Vec& p) const;
    double atria(const Vec& p) const;

    RoundCone lvCone;
    Ellipsoid lvBody;
    Ellipsoid rv;
    RoundCone conus;
    Ellipsoid ra;
    Ellipsoid la;
    Ellipsoid rightAuricle;
    Ellipsoid leftAuricle;
    std::vector<Tube> vessels;
    std::vector<Tube> coronaries;
    Box coronaryBox;
};

// Where the beat's contraction moves a relaxed-phase point: ventricles squeezed toward their long axis
// and shortened so the apex lifts, atria slightly swollen, the great vessels all but still.
Vec contractHeart(const Vec& p);

struct HeartPhases {
    std::vector<SurfacePoint> relaxed;
    std::vector<SurfacePoint> contracted;
};

HeartPhases makeHeart(std::size_t count, std::uint64_t seed);

} // namespace Content
