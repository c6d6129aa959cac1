// An implicit solid: a signed distance (or a bound of one) that is negative inside, plus a box that
// holds the whole surface. The generated models implement it; the surface sampler reads it.
#pragma once

#include "tools/content/Sdf.h"

namespace Content {

class ImplicitShape {
public:
    virtual ~ImplicitShape() = default;

    virtual double distance(const Vec& p) const = 0;
    virtual Box bounds() const = 0;

    // Central-difference gradient with step h.
    Vec gradient(const Vec& p, double h) const;
};

} // namespace Content
