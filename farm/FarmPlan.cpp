#include "farm/FarmPlan.h"

#include "engine/FrameClock.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace Velmora {

namespace {

bool parseWhole(const std::string& text, int64_t low, int64_t high, int64_t& value) {
    if (text.empty() || text.size() > 20) {
        return false;
    }
    errno = 0;
    char* stop = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &stop, 10);
    if (errno != 0 || stop != text.c_str() + text.size() || parsed < low || parsed > high) {
        return false;
    }
    value = parsed;
    return true;
}

constexpr int64_t maxFrame = int64_t(1) << 40;

} // namespace

int64_t FarmPlan::renderStart() const {
    return std::max(first - lead, -showLeadIn);
}

std::string FarmPlan::text() const {
    std::ostringstream out;
    out << "fps=" << fps << " size=" << width << "x" << height << " frames=" << first << ".." << end
        << " lead=" << lead << " chunks=" << chunks << " preroll=" << preroll << " overlap=" << overlap;
    return out.str();
}

bool FarmPlan::parse(const std::string& text, FarmPlan& plan, std::string& error) {
    std::istringstream in(text);
    std::string word;
    FarmPlan read;
    int seen = 0;
    while (in >> word) {
        const size_t equals = word.find('=');
        if (equals == std::string::npos) {
            error = "'" + word + "' is not NAME=VALUE";
            return false;
        }
        const std::string name = word.substr(0, equals);
        const std::string value = word.substr(equals + 1);
        int64_t a = 0, b = 0;
        bool ok = false;
        if (name == "fps") {
            ok = parseWhole(value, 1, 1000, a);
            read.fps = static_cast<int>(a);
        } else if (name == "size" || name == "frames") {
            const std::string separator = name == "size" ? "x" : "..";
            const size_t at = value.find(separator);
            ok = at != std::string::npos;
            if (ok && name == "size") {
                ok = parseWhole(value.substr(0, at), 1, 16384, a) &&
                     parseWhole(value.substr(at + separator.size()), 1, 16384, b);
                read.width = static_cast<int>(a);
                read.height = static_cast<int>(b);
            } else if (ok) {
                ok = parseWhole(value.substr(0, at), 0, maxFrame, a) &&
                     parseWhole(value.substr(at + separator.size()), 0, maxFrame, b) && b > a;
                read.first = a;
                read.end = b;
            }
        } else if (name == "lead") {
            ok = parseWhole(value, 0, maxFrame, read.lead);
        } else if (name == "chunks") {
            ok = parseWhole(value, 1, maxChunks, a);
            read.chunks = static_cast<int>(a);
        } else if (name == "preroll") {
            ok = parseWhole(value, 0, maxFrame, read.preroll);
        } else if (name == "overlap") {
            ok = parseWhole(value, 0, maxFrame, read.overlap);
        } else {
            error = "unknown plan field '" + name + "'";
            return false;
        }
        if (!ok) {
            error = "bad plan field '" + word + "'";
            return false;
        }
        ++seen;
    }
    if (seen != 7) {
        error = "the plan has " + std::to_string(seen) + " fields, not 7";
        return false;
    }
    const std::string problem = checkFarmPlan(read);
    if (!problem.empty()) {
        error = problem;
        return false;
    }
    plan = read;
    return true;
}

std::string checkFarmPlan(const FarmPlan& plan) {
    if (plan.fps < 1 || plan.width < 1 || plan.height < 1) {
        return "the plan needs a size and a frame rate";
    }
    if (plan.first < 0 || plan.end <= plan.first) {
        return "the plan's span holds no frame";
    }
    if (plan.chunks < 1 || plan.chunks > FarmPlan::maxChunks) {
        return "the number of chunks must be from 1 to " + std::to_string(FarmPlan::maxChunks);
    }
    if (plan.chunks > plan.end - plan.first) {
        return std::to_string(plan.chunks) + " chunks for " + std::to_string(plan.end - plan.first) +
               " frames: at most one chunk a frame";
    }
    if (plan.preroll < 0 || plan.overlap < 0 || plan.lead < 0) {
        return "pre-roll, overlap and lead are 0 or more frames";
    }
    return "";
}

std::vector<int64_t> chunkBounds(const FarmPlan& plan, const std::vector<int64_t>& resets) {
    const int64_t frames = plan.end - plan.first;
    std::vector<int64_t> bounds(static_cast<size_t>(plan.chunks) + 1);
    for (int i = 0; i <= plan.chunks; ++i) {
        bounds[static_cast<size_t>(i)] = plan.first + frames * i / plan.chunks;
    }
    // A bound moves onto the nearest reset within a quarter of a chunk, staying between its
    // neighbours (each chunk keeps at least one frame).
    const int64_t reach = frames / plan.chunks / 4;
    for (int i = 1; i < plan.chunks; ++i) {
        int64_t& bound = bounds[static_cast<size_t>(i)];
        int64_t best = bound;
        for (int64_t reset : resets) {
            if (reset <= bounds[static_cast<size_t>(i) - 1] || reset >= bounds[static_cast<size_t>(i) + 1]) {
                continue;
            }
            const int64_t distance = reset > bound ? reset - bound : bound - reset;
            const int64_t bestDistance = best > bound ? best - bound : bound - best;
            if (distance <= reach && (best == bound || distance < bestDistance)) {
                best = reset;
            }
        }
        bound = best;
    }
    return bounds;
}

ChunkRange chunkRange(const FarmPlan& plan, const std::vector<int64_t>& bounds,
                      const std::vector<int64_t>& resets, int index) {
    ChunkRange range;
    range.index = index;
    range.start = bounds[static_cast<size_t>(index)];
    range.end = bounds[static_cast<size_t>(index) + 1];
    range.renderEnd = std::min(range.end + plan.overlap, plan.end);
    if (index == 0) {
        range.renderFrom = plan.renderStart();
        return range;
    }
    int64_t from = std::max(range.start - plan.preroll, plan.renderStart());
    // Past the last reset at or before the start, history no longer matters: from just before it
    // (the frame before a reset leaves the background's particle size).
    for (int64_t reset : resets) {
        if (reset <= range.start && reset - 1 > from) {
            from = reset - 1;
        }
    }
    range.renderFrom = from;
    return range;
}

} // namespace Velmora
