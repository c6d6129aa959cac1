#include "sync/TrackText.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <sstream>

namespace Velmora {

namespace {

constexpr std::uint32_t quietNan = 0x7fc00000u;
constexpr std::uint32_t negativeQuietNan = 0xffc00000u;

std::string lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

float fromBits(std::uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::uint32_t toBits(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

bool isNanBits(std::uint32_t bits) {
    return (bits & 0x7f800000u) == 0x7f800000u && (bits & 0x007fffffu) != 0;
}

// Whole decimal number with an optional sign, within [low, high].
bool parseWhole(const std::string& token, long long low, long long high, long long& out, bool& inRange) {
    std::size_t digits = (token[0] == '+' || token[0] == '-') ? 1 : 0;
    if (digits == token.size()) {
        return false;
    }
    for (std::size_t i = digits; i < token.size(); ++i) {
        if (token[i] < '0' || token[i] > '9') {
            return false;
        }
    }
    errno = 0;
    out = std::strtoll(token.c_str(), nullptr, 10);
    inRange = errno != ERANGE && out >= low && out <= high;
    return true;
}

bool parseRow(const std::string& token, std::int32_t& row, std::string& error) {
    long long value = 0;
    bool inRange = false;
    if (!parseWhole(token, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(),
                    value, inRange)) {
        error = "row '" + token + "' is not a whole number";
        return false;
    }
    if (!inRange) {
        error = "row " + token + " is outside -2147483648..2147483647";
        return false;
    }
    row = static_cast<std::int32_t>(value);
    return true;
}

bool parseValue(const std::string& token, float& value, std::string& error) {
    const std::string name = lower(token);
    if (name == "nan" || name == "+nan") {
        value = fromBits(quietNan);
        return true;
    }
    if (name == "-nan") {
        value = fromBits(negativeQuietNan);
        return true;
    }
    if (name.compare(0, 6, "nan:0x") == 0) {
        const std::string hex = name.substr(6);
        const bool hexOnly =
            hex.size() == 8 && hex.find_first_not_of("0123456789abcdef") == std::string::npos;
        const std::uint32_t bits =
            hexOnly ? static_cast<std::uint32_t>(std::strtoul(hex.c_str(), nullptr, 16)) : 0;
        if (!hexOnly || !isNanBits(bits)) {
            error = "'" + token + "' is not a NaN bit pattern (nan:0x followed by 8 hex digits of a NaN)";
            return false;
        }
        value = fromBits(bits);
        return true;
    }
    // strtof also takes "nan(...)", whose meaning is left to the C library: not accepted.
    char* end = nullptr;
    errno = 0;
    const float parsed = token.find('(') == std::string::npos ? std::strtof(token.c_str(), &end) : 0.0f;
    if (end == nullptr || end == token.c_str() || *end != '\0') {
        error = "value '" + token + "' is not a number";
        return false;
    }
    if (errno == ERANGE && std::isinf(parsed)) {
        error = "value " + token + " is too large for a 32-bit float";
        return false;
    }
    if (errno == ERANGE && parsed == 0.0f) {
        error = "value " + token + " is too small for a 32-bit float (it would read as 0)";
        return false;
    }
    value = parsed;
    return true;
}

bool parseInterpolation(const std::string& token, std::int32_t& code, std::string& error) {
    const std::string name = lower(token);
    for (std::int32_t known = 0; known <= 3; ++known) {
        if (name == interpolationName(known)) {
            code = known;
            return true;
        }
    }
    long long value = 0;
    bool inRange = false;
    if (!parseWhole(token, -128, 127, value, inRange)) {
        error = "unknown interpolation '" + token +
                "' (constant, linear, smoothstep, quadratic, or a code -128..127)";
        return false;
    }
    if (!inRange) {
        error = "interpolation code " + token + " is outside -128..127 (it is stored in one signed byte)";
        return false;
    }
    code = static_cast<std::int32_t>(value);
    return true;
}

} // namespace

bool TrackText::Result::ok() const {
    for (const Message& message : messages) {
        if (message.error) {
            return false;
        }
    }
    return true;
}

TrackText::Result TrackText::parse(const std::string& text) {
    Result result;
    std::map<std::int32_t, int> lineOfRow;
    std::int32_t previousRow = 0;
    int previousLine = 0;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            line.erase(0, 3); // UTF-8 byte order mark of some editors
        }
        const std::size_t comment = line.find('#');
        if (comment != std::string::npos) {
            line.erase(comment);
        }
        std::vector<std::string> fields;
        std::istringstream words(line); // splits at spaces, tabs and a Windows line end's '\r'
        for (std::string word; words >> word;) {
            fields.push_back(word);
        }
        if (fields.empty()) {
            continue;
        }
        const auto fail = [&](std::string message) {
            result.messages.push_back({number, true, std::move(message)});
        };
        if (fields.size() < 3) {
            fail("expected ROW VALUE INTERPOLATION, e.g. '120 0.5 linear'");
            continue;
        }
        if (fields.size() > 3) {
            fail("unexpected '" + fields[3] + "' after the interpolation (comments start with '#')");
            continue;
        }
        TrackKey key;
        std::string error;
        if (!parseRow(fields[0], key.row, error) || !parseValue(fields[1], key.value, error) ||
            !parseInterpolation(fields[2], key.interpolation, error)) {
            fail(error);
            continue;
        }

        if (interpolationName(key.interpolation) == nullptr) {
            result.messages.push_back({number, false,
                                       "interpolation code " + std::to_string(key.interpolation) +
                                           " is not a known kind; the track is 0 from this key to the next"});
        }
        const auto same = lineOfRow.find(key.row);
        if (same != lineOfRow.end()) {
            result.messages.push_back({number, false,
                                       "row " + std::to_string(key.row) + " already has a key (line " +
                                           std::to_string(same->second) + "); this later key replaces it"});
        } else if (previousLine != 0 && key.row < previousRow) {
            result.messages.push_back({number, false,
                                       "row " + std::to_string(key.row) + " comes after row " +
                                           std::to_string(previousRow) + " (line " +
                                           std::to_string(previousLine) +
                                           "); keys are sorted by row when the track is loaded"});
        }
        lineOfRow[key.row] = number;
        previousRow = key.row;
        previousLine = number;
        result.keys.push_back(key);
    }
    return result;
}

std::string TrackText::formatValue(float value) {
    if (std::isnan(value)) {
        const std::uint32_t bits = toBits(value);
        if (bits == quietNan) {
            return "nan";
        }
        if (bits == negativeQuietNan) {
            return "-nan";
        }
        char text[32];
        std::snprintf(text, sizeof text, "nan:0x%08" PRIx32, bits);
        return text;
    }
    // Nine significant digits identify every float exactly.
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

std::string TrackText::formatKey(const TrackKey& key) {
    const char* name = interpolationName(key.interpolation);
    return std::to_string(key.row) + " " + formatValue(key.value) + " " +
           (name != nullptr ? std::string(name) : std::to_string(key.interpolation));
}

} // namespace Velmora
