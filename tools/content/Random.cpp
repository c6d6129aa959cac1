#include "tools/content/Random.h"

#include "tools/content/DetMath.h"

#include <cmath>

namespace Content {

double Random::gaussian() {
    for (;;) {
        const double u = uniform(-1.0, 1.0);
        const double v = uniform(-1.0, 1.0);
        const double s = u * u + v * v;
        if (s > 0.0 && s < 1.0) {
            return u * std::sqrt(-2.0 * detLog(s) / s);
        }
    }
}

} // namespace Content
