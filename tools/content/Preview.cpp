#include "tools/content/Preview.h"

#include "tools/content/DetMath.h"

#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Content {

namespace {

struct View {
    double yawDegrees;
    double pitchDegrees;
};

const View views[] = {{0.0, 0.0}, {90.0, 0.0}, {-40.0, 35.0}};

void drawPanel(const std::vector<CloudPoint>& cloud, const View& view, int size, int originX, int originY,
               RgbaImage& image) {
    // Frame the finite points: centre of their box, radius of the farthest one.
    glm::dvec3 low(std::numeric_limits<double>::max());
    glm::dvec3 high(-std::numeric_limits<double>::max());
    std::size_t finite = 0;
    bool normals = false;
    for (const CloudPoint& p : cloud) {
        const glm::dvec3 q(p.position);
        if (!std::isfinite(q.x) || !std::isfinite(q.y) || !std::isfinite(q.z)) {
            continue;
        }
        low = glm::min(low, q);
        high = glm::max(high, q);
        ++finite;
        normals = normals || p.hasNormal;
    }
    if (finite == 0) {
        return;
    }
    const glm::dvec3 centre = (low + high) * 0.5;
    double radius = 0.0;
    for (const CloudPoint& p : cloud) {
        const glm::dvec3 q(p.position);
        if (std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z)) {
            radius = std::max(radius, glm::length(q - centre));
        }
    }
    radius = std::max(radius, 1e-9);

    // Camera on a sphere round the centre; yaw 0 is the show's default position on -z.
    const double yaw = view.yawDegrees * pi / 180.0;
    const double pitch = view.pitchDegrees * pi / 180.0;
    const glm::dvec3 toEye(detSin(yaw) * detCos(pitch), detSin(pitch), -detCos(yaw) * detCos(pitch));
    const double tanHalfFov = 0.36; // about 40 degrees
    const double distance = radius / tanHalfFov * 1.15;
    const glm::dvec3 eye = centre + toEye * distance;
    const glm::dvec3 forward = -toEye;
    const glm::dvec3 side = glm::normalize(glm::cross(forward, glm::dvec3(0.0, 1.0, 0.0)));
    const glm::dvec3 up = glm::cross(side, forward);
    // Key light a little above and beside the camera, so every surface facing the viewer is lit.
    const glm::dvec3 light = glm::normalize(-forward + 0.5 * up - 0.3 * side);

    std::vector<double> depth(static_cast<std::size_t>(size) * size, std::numeric_limits<double>::max());
    std::vector<double> shade(static_cast<std::size_t>(size) * size, 0.0);
    // Surface points are drawn large enough to close the surface; specks stay specks.
    const double splat = normals ? std::max(1.0, size / 110.0) : std::max(0.8, size / 320.0);
    const double nearest = distance - radius;
    const double farthest = distance + radius;
    for (const CloudPoint& p : cloud) {
        const glm::dvec3 q = glm::dvec3(p.position) - eye;
        const double z = glm::dot(q, forward);
        if (!(z > 1e-9 * distance) || !std::isfinite(z)) {
            continue;
        }
        const double sx = (0.5 + 0.5 * glm::dot(q, side) / (z * tanHalfFov)) * size;
        const double sy = (0.5 - 0.5 * glm::dot(q, up) / (z * tanHalfFov)) * size;
        if (!(sx > -splat && sx < size + splat && sy > -splat && sy < size + splat)) {
            continue;
        }
        const double fog = 1.0 - 0.6 * clamp01((z - nearest) / (farthest - nearest));
        double value = 0.0;
        if (normals) {
            const glm::dvec3 n(p.normal);
            const double lambert = std::max(0.0, glm::dot(n, light));
            value = p.hasNormal ? (0.1 + 0.9 * lambert * lambert) * fog : 0.5 * fog;
        } else {
            value = 0.35 * fog;
        }
        const int x0 = static_cast<int>(std::floor(sx - splat)), x1 = static_cast<int>(std::ceil(sx + splat));
        const int y0 = static_cast<int>(std::floor(sy - splat)), y1 = static_cast<int>(std::ceil(sy + splat));
        for (int y = std::max(0, y0); y <= std::min(size - 1, y1); ++y) {
            for (int x = std::max(0, x0); x <= std::min(size - 1, x1); ++x) {
                const double dx = x + 0.5 - sx, dy = y + 0.5 - sy;
                if (dx * dx + dy * dy > splat * splat) {
                    continue;
                }
                const std::size_t i = static_cast<std::size_t>(y) * size + x;
                if (!normals) {
                    shade[i] += value; // specks add up like the show's additive sprites
                } else if (z < depth[i]) {
                    depth[i] = z;
                    shade[i] = value;
                }
            }
        }
    }
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double v = clamp01(shade[static_cast<std::size_t>(y) * size + x]);
            unsigned char* px =
                &image.pixels[(static_cast<std::size_t>(originY + y) * image.width + originX + x) * 4];
            const bool hit =
                depth[static_cast<std::size_t>(y) * size + x] < std::numeric_limits<double>::max() ||
                (!normals && v > 0.0);
            if (hit) {
                px[0] = static_cast<unsigned char>(255.0 * v);
                px[1] = static_cast<unsigned char>(230.0 * v);
                px[2] = static_cast<unsigned char>(215.0 * v);
            }
        }
    }
}

} // namespace

RgbaImage renderPreview(const std::vector<std::vector<CloudPoint>>& clouds, int panelSize) {
    RgbaImage image;
    const int columns = static_cast<int>(sizeof views / sizeof views[0]);
    image.width = panelSize * columns;
    image.height = panelSize * static_cast<int>(std::max<std::size_t>(1, clouds.size()));
    image.pixels.assign(static_cast<std::size_t>(image.width) * image.height * 4, 0);
    for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
        image.pixels[i] = image.pixels[i + 1] = image.pixels[i + 2] = 12;
        image.pixels[i + 3] = 255;
    }
    for (std::size_t row = 0; row < clouds.size(); ++row) {
        for (int column = 0; column < columns; ++column) {
            drawPanel(clouds[row], views[column], panelSize, column * panelSize,
                      static_cast<int>(row) * panelSize, image);
        }
    }
    return image;
}

} // namespace Content
