#include "tools/content/ImplicitShape.h"

namespace Content {

Vec ImplicitShape::gradient(const Vec& p, double h) const {
    const Vec dx(h, 0.0, 0.0);
    const Vec dy(0.0, h, 0.0);
    const Vec dz(0.0, 0.0, h);
    return Vec(distance(p + dx) - distance(p - dx), distance(p + dy) - distance(p - dy),
               distance(p + dz) - distance(p - dz)) /
           (2.0 * h);
}

} // namespace Content
