#include "tools/content/Sdf.h"

#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>

namespace Content {

Frame Frame::along(const Vec& direction, const Vec& hint) {
    Frame f;
    f.a = glm::normalize(direction);
    Vec h = hint;
    if (std::fabs(glm::dot(h, f.a)) > 0.95 * glm::length(h)) {
        h = std::fabs(f.a.x) < 0.9 ? Vec(1.0, 0.0, 0.0) : Vec(0.0, 1.0, 0.0);
    }
    f.b = glm::normalize(glm::cross(h, f.a));
    f.c = glm::cross(f.a, f.b);
    return f;
}

Vec Frame::toLocal(const Vec& p) const {
    return Vec(glm::dot(p, a), glm::dot(p, b), glm::dot(p, c));
}

void Box::include(const Vec& p, double radius) {
    low = glm::min(low, p - Vec(radius));
    high = glm::max(high, p + Vec(radius));
}

bool Box::contains(const Vec& p, double margin) const {
    return p.x >= low.x - margin && p.y >= low.y - margin && p.z >= low.z - margin &&
           p.x <= high.x + margin && p.y <= high.y + margin && p.z <= high.z + margin;
}

double sdSphere(const Vec& p, const Vec& centre, double radius) {
    return glm::length(p - centre) - radius;
}

double sdEllipsoid(const Vec& p, const Vec& centre, const Frame& frame, const Vec& radii) {
    const Vec q = frame.toLocal(p - centre);
    const double k0 = glm::length(q / radii);
    const double k1 = glm::length(q / (radii * radii));
    if (k1 == 0.0) {
        return -std::min(radii.x, std::min(radii.y, radii.z));
    }
    return k0 * (k0 - 1.0) / k1;
}

double sdCapsule(const Vec& p, const Vec& a, const Vec& b, double radius) {
    const Vec pa = p - a;
    const Vec ba = b - a;
    const double h = std::clamp(glm::dot(pa, ba) / glm::dot(ba, ba), 0.0, 1.0);
    return glm::length(pa - ba * h) - radius;
}

double sdRoundCone(const Vec& p, const Vec& a, const Vec& b, double r1, double r2) {
    // Exact distance to the convex hull of two spheres (after I. Quilez's round cone).
    const Vec ba = b - a;
    const double l2 = glm::dot(ba, ba);
    const double rr = r1 - r2;
    const double a2 = l2 - rr * rr;
    if (a2 <= 0.0) {
        // One sphere holds the other.
        return r1 >= r2 ? sdSphere(p, a, r1) : sdSphere(p, b, r2);
    }
    const double il2 = 1.0 / l2;
    const Vec pa = p - a;
    const double y = glm::dot(pa, ba);
    const double z = y - l2;
    const Vec xv = pa * l2 - ba * y;
    const double x2 = glm::dot(xv, xv);
    const double y2 = y * y * l2;
    const double z2 = z * z * l2;
    const double k = (rr >= 0.0 ? 1.0 : -1.0) * rr * rr * x2;
    if ((z >= 0.0 ? 1.0 : -1.0) * a2 * z2 > k) {
        return std::sqrt(x2 + z2) * il2 - r2;
    }
    if ((y >= 0.0 ? 1.0 : -1.0) * a2 * y2 < k) {
        return std::sqrt(x2 + y2) * il2 - r1;
    }
    return (std::sqrt(x2 * a2 * il2) + y * rr) * il2 - r1;
}

Vec catmullRom(const Vec& p0, const Vec& p1, const Vec& p2, const Vec& p3, double t) {
    const double t2 = t * t;
    const double t3 = t2 * t;
    return 0.5 * ((2.0 * p1) + (p2 - p0) * t + (2.0 * p0 - 5.0 * p1 + 4.0 * p2 - p3) * t2 +
                  (3.0 * p1 - p0 - 3.0 * p2 + p3) * t3);
}

Tube::Tube(const std::vector<Vec>& points, const std::vector<double>& radii, int segmentsPerSpan) {
    const std::size_t n = std::min(points.size(), radii.size());
    if (n == 0) {
        return;
    }
    for (std::size_t i = 0; i + 1 < n; ++i) {
        // The end spans use a mirrored neighbour so the curve leaves its end points straight on.
        const Vec p1 = points[i];
        const Vec p2 = points[i + 1];
        const Vec p0 = i > 0 ? points[i - 1] : 2.0 * p1 - p2;
        const Vec p3 = i + 2 < n ? points[i + 2] : 2.0 * p2 - p1;
        for (int s = 0; s < segmentsPerSpan; ++s) {
            const double t = static_cast<double>(s) / segmentsPerSpan;
            nodes.push_back(catmullRom(p0, p1, p2, p3, t));
            nodeRadii.push_back(radii[i] + (radii[i + 1] - radii[i]) * t);
        }
    }
    nodes.push_back(points[n - 1]);
    nodeRadii.push_back(radii[n - 1]);
    // Group the round cones four at a time under one box, so a query skips most of them.
    for (std::size_t first = 0; first + 1 < nodes.size() || (nodes.size() == 1 && first == 0); first += 4) {
        Span span{first, std::min<std::size_t>(4, nodes.size() - 1 - first), Box()};
        for (std::size_t i = first; i <= first + span.count && i < nodes.size(); ++i) {
            span.box.include(nodes[i], nodeRadii[i]);
        }
        spans.push_back(span);
        box.include(span.box.low);
        box.include(span.box.high);
        if (nodes.size() == 1) {
            break;
        }
    }
}

double Tube::distance(const Vec& p) const {
    if (nodes.empty()) {
        return 1e300;
    }
    if (nodes.size() == 1) {
        return sdSphere(p, nodes[0], nodeRadii[0]);
    }
    // Far from the tube the distance to its box is a lower bound, which is all a smooth union needs
    // away from its blend band.
    const double boxDistance = box.distanceTo(p);
    if (boxDistance > 0.5) {
        return boxDistance;
    }
    double d = 1e300;
    for (const Span& span : spans) {
        if (span.box.distanceTo(p) >= d) {
            continue;
        }
        for (std::size_t i = span.first; i < span.first + span.count; ++i) {
            d = std::min(d, sdRoundCone(p, nodes[i], nodes[i + 1], nodeRadii[i], nodeRadii[i + 1]));
        }
    }
    return d;
}

} // namespace Content
