#include "tools/content/DetMath.h"

#include <cmath>

namespace Content {

namespace {

constexpr double ln2Hi = 6.93147180369123816490e-01; // upper bits of ln 2, exact in a double
constexpr double ln2Lo = 1.90821492927058770002e-10; // ln 2 - ln2Hi
constexpr double halfPi = pi / 2.0;

// sin and cos on [-pi/4, pi/4] by their Taylor series, Horner form; the first omitted term is below 1e-15.
double sinKernel(double r) {
    const double r2 = r * r;
    double s = -1.0 / 1307674368000.0; // -1/15!
    s = s * r2 + 1.0 / 6227020800.0;
    s = s * r2 - 1.0 / 39916800.0;
    s = s * r2 + 1.0 / 362880.0;
    s = s * r2 - 1.0 / 5040.0;
    s = s * r2 + 1.0 / 120.0;
    s = s * r2 - 1.0 / 6.0;
    return r + r * r2 * s;
}

double cosKernel(double r) {
    const double r2 = r * r;
    double c = -1.0 / 20922789888000.0; // -1/16!
    c = c * r2 + 1.0 / 87178291200.0;
    c = c * r2 - 1.0 / 479001600.0;
    c = c * r2 + 1.0 / 3628800.0;
    c = c * r2 - 1.0 / 40320.0;
    c = c * r2 + 1.0 / 720.0;
    c = c * r2 - 1.0 / 24.0;
    c = c * r2 + 0.5;
    return 1.0 - r2 * c;
}

// Quadrant of x (multiples of pi/2) and the remainder in [-pi/4, pi/4]. The tool only uses modest
// angles, so the simple two-part reduction is exact enough.
double reduce(double x, long long& quadrant) {
    const double q = std::floor(x / halfPi + 0.5);
    quadrant = static_cast<long long>(q);
    constexpr double halfPiHi = 1.57079632673412561417e+00;
    constexpr double halfPiLo = 6.07710050650619224932e-11;
    return (x - q * halfPiHi) - q * halfPiLo;
}

} // namespace

double detExp(double x) {
    if (x < -700.0) {
        return 0.0;
    }
    if (x > 700.0) {
        x = 700.0;
    }
    const double k = std::floor(x / ln2Hi + 0.5);
    const double r = (x - k * ln2Hi) - k * ln2Lo; // |r| <= ln2 / 2
    double e = 1.0 / 6227020800.0;                // 1/13!
    const double inv[] = {1.0 / 479001600.0,
                          1.0 / 39916800.0,
                          1.0 / 3628800.0,
                          1.0 / 362880.0,
                          1.0 / 40320.0,
                          1.0 / 5040.0,
                          1.0 / 720.0,
                          1.0 / 120.0,
                          1.0 / 24.0,
                          1.0 / 6.0,
                          0.5,
                          1.0,
                          1.0};
    for (double c : inv) {
        e = e * r + c;
    }
    return std::ldexp(e, static_cast<int>(k));
}

double detLog(double x) {
    if (!(x > 0.0)) {
        return -745.0;
    }
    int exponent = 0;
    double m = std::frexp(x, &exponent); // x = m * 2^exponent, m in [0.5, 1)
    if (m < 0.70710678118654752440) {
        m *= 2.0;
        exponent -= 1;
    }
    // log(m) = 2 atanh(s), s = (m - 1) / (m + 1), |s| < 0.172
    const double s = (m - 1.0) / (m + 1.0);
    const double s2 = s * s;
    double sum = 0.0;
    for (int k = 12; k >= 0; --k) {
        sum = sum * s2 + 1.0 / static_cast<double>(2 * k + 1);
    }
    return 2.0 * s * sum + static_cast<double>(exponent) * ln2Hi + static_cast<double>(exponent) * ln2Lo;
}

double detSin(double x) {
    long long q = 0;
    const double r = reduce(x, q);
    switch (((q % 4) + 4) % 4) {
    case 0:
        return sinKernel(r);
    case 1:
        return cosKernel(r);
    case 2:
        return -sinKernel(r);
    default:
        return -cosKernel(r);
    }
}

double detCos(double x) {
    long long q = 0;
    const double r = reduce(x, q);
    switch (((q % 4) + 4) % 4) {
    case 0:
        return cosKernel(r);
    case 1:
        return -sinKernel(r);
    case 2:
        return -cosKernel(r);
    default:
        return sinKernel(r);
    }
}

double clamp01(double x) {
    return x < 0.0 ? 0.0 : (x > 1.0 ? 1.0 : x);
}

double smoothstep(double edge0, double edge1, double x) {
    const double t = clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3.0 - 2.0 * t);
}

} // namespace Content
