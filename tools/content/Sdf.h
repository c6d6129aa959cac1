// Signed-distance building blocks for the generated models: spheres, ellipsoids, capsules, round cones,
// tubes along smooth curves, and smooth blends. Distances are negative inside. Ellipsoids and blends
// give bounds rather than exact distances, which the surface sampler tolerates (it projects with
// Newton steps on the gradient). Everything is double precision and uses no library transcendental.
#pragma once

#include <glm/vec3.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

namespace Content {

using Vec = glm::dvec3;

// An orthonormal frame: axis `a` is the given direction, `b` and `c` complete it using a hint.
struct Frame {
    Vec a{1.0, 0.0, 0.0};
    Vec b{0.0, 1.0, 0.0};
    Vec c{0.0, 0.0, 1.0};

    static Frame along(const Vec& direction, const Vec& hint = Vec(0.0, 0.0, 1.0));
    Vec toLocal(const Vec& p) const;
};

struct Box {
    Vec low{1e300, 1e300, 1e300};
    Vec high{-1e300, -1e300, -1e300};

    void include(const Vec& p, double radius = 0.0);
    bool contains(const Vec& p, double margin) const;
    Vec size() const { return high - low; }
    // Distance from p to the box (0 inside).
    double distanceTo(const Vec& p) const {
        const double dx = std::max(std::max(low.x - p.x, p.x - high.x), 0.0);
        const double dy = std::max(std::max(low.y - p.y, p.y - high.y), 0.0);
        const double dz = std::max(std::max(low.z - p.z, p.z - high.z), 0.0);
        return std::sqrt(dx * dx + dy * dy + dz * dz);
    }
    Vec centre() const { return (low + high) * 0.5; }
};

double sdSphere(const Vec& p, const Vec& centre, double radius);

// Ellipsoid with half-axes (ra along frame.a, rb along frame.b, rc along frame.c).
double sdEllipsoid(const Vec& p, const Vec& centre, const Frame& frame, const Vec& radii);

double sdCapsule(const Vec& p, const Vec& a, const Vec& b, double radius);

// Capsule whose radius goes linearly (in the tangent sense) from ra at a to rb at b.
double sdRoundCone(const Vec& p, const Vec& a, const Vec& b, double ra, double rb);

// An ellipsoid with its frame worked out once, for shapes evaluated millions of times.
class Ellipsoid {
public:
    Ellipsoid(const Vec& centre, const Frame& frame, const Vec& radii)
        : centre(centre), frame(frame), radii(radii) {}
    double distance(const Vec& p) const { return sdEllipsoid(p, centre, frame, radii); }

private:
    Vec centre;
    Frame frame;
    Vec radii;
};

struct RoundCone {
    Vec a;
    Vec b;
    double ra;
    double rb;
    double distance(const Vec& p) const { return sdRoundCone(p, a, b, ra, rb); }
};

// Polynomial smooth minimum: blends two surfaces over a band of width k. smax for smooth subtraction.
inline double smin(double a, double b, double k) {
    if (k <= 0.0) {
        return std::min(a, b);
    }
    const double h = std::max(k - std::fabs(a - b), 0.0) / k;
    return std::min(a, b) - h * h * k * 0.25;
}
inline double smax(double a, double b, double k) {
    return -smin(-a, -b, k);
}

// A tube of varying radius along a Catmull-Rom curve through the control points (radius given per
// control point), made of short round cones. Keeps a bounding box so distant queries stay cheap.
class Tube {
public:
    Tube(const std::vector<Vec>& points, const std::vector<double>& radii, int segmentsPerSpan = 8);

    double distance(const Vec& p) const;
    const Box& bounds() const { return box; }

private:
    struct Span {
        std::size_t first; // index of the span's first node; the span runs to first + count
        std::size_t count;
        Box box;
    };

    std::vector<Vec> nodes;
    std::vector<double> nodeRadii;
    std::vector<Span> spans;
    Box box;
};

// Catmull-Rom point at parameter t in [0, 1] between p1 and p2.
Vec catmullRom(const Vec& p0, const Vec& p1, const Vec& p2, const Vec& p3, double t);

} // namespace Content
