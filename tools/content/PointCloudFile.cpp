#include "tools/content/PointCloudFile.h"

#include "tools/content/OutputFile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Content {

namespace {

void putFloat(std::vector<unsigned char>& out, float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<unsigned char>((bits >> (8 * i)) & 0xffu));
    }
}

float getFloat(const unsigned char* in) {
    const std::uint32_t bits = static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8) |
                               (static_cast<std::uint32_t>(in[2]) << 16) |
                               (static_cast<std::uint32_t>(in[3]) << 24);
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

} // namespace

std::vector<unsigned char> encodeBinaryCloud(const std::vector<CloudPoint>& points) {
    std::vector<unsigned char> out;
    out.reserve(points.size() * 24);
    for (const CloudPoint& p : points) {
        for (int i = 0; i < 3; ++i) {
            putFloat(out, p.position[i]);
        }
        for (int i = 0; i < 3; ++i) {
            putFloat(out, p.normal[i]);
        }
    }
    return out;
}

std::vector<unsigned char> encodeTextCloud(const std::vector<glm::vec3>& points) {
    std::vector<unsigned char> out;
    char line[96];
    for (const glm::vec3& p : points) {
        const int n = std::snprintf(line, sizeof line, "%.5g %.5g %.5g\n", static_cast<double>(p.x),
                                    static_cast<double>(p.y), static_cast<double>(p.z));
        if (n > 0) {
            out.insert(out.end(), line,
                       line + std::min<std::size_t>(static_cast<std::size_t>(n), sizeof line - 1));
        }
    }
    return out;
}

std::vector<CloudPoint> parseBinaryCloud(const std::vector<unsigned char>& bytes) {
    std::vector<CloudPoint> points;
    const std::size_t values = bytes.size() / 4;
    points.reserve(values / 6 + 1);
    for (std::size_t k = 0; k + 3 <= values; k += 6) {
        CloudPoint p;
        for (int i = 0; i < 3; ++i) {
            p.position[i] = getFloat(&bytes[(k + i) * 4]);
        }
        if (k + 6 <= values) {
            for (int i = 0; i < 3; ++i) {
                p.normal[i] = getFloat(&bytes[(k + 3 + i) * 4]);
            }
            const float length2 = p.normal.x * p.normal.x + p.normal.y * p.normal.y + p.normal.z * p.normal.z;
            p.hasNormal = std::isfinite(length2) && std::fabs(length2 - 1.0f) < 0.01f;
        }
        points.push_back(p);
    }
    return points;
}

std::vector<CloudPoint> parseTextCloud(const std::vector<unsigned char>& bytes) {
    std::vector<CloudPoint> points;
    glm::vec3 current(0.0f);
    std::size_t start = 0;
    std::string line;
    while (start < bytes.size()) {
        std::size_t end = start;
        while (end < bytes.size() && bytes[end] != '\n') {
            ++end;
        }
        // A copy makes the line NUL-terminated for strtof, which must not run past it.
        line.assign(reinterpret_cast<const char*>(bytes.data()) + start, end - start);
        const char* cursor = line.c_str();
        for (int i = 0; i < 3; ++i) {
            char* next = nullptr;
            const float value = std::strtof(cursor, &next);
            if (next == cursor) {
                break;
            }
            current[i] = value;
            cursor = next;
        }
        CloudPoint p;
        p.position = current;
        points.push_back(p);
        start = end + 1;
    }
    return points;
}

std::vector<CloudPoint> readCloudFile(const std::string& path) {
    const std::vector<unsigned char> bytes = readWholeFile(path, std::size_t(256) << 20);
    const bool text = path.size() >= 4 && path.compare(path.size() - 4, 4, ".txt") == 0;
    return text ? parseTextCloud(bytes) : parseBinaryCloud(bytes);
}

} // namespace Content
