#include "capture/JsonWriter.h"

#include <cmath>
#include <cstdio>

namespace Velmora {

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (byte < 0x20 || byte == 0x7f) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

JsonObject& JsonObject::add(const std::string& key, const std::string& text) {
    members.emplace_back(key, jsonString(text));
    return *this;
}

JsonObject& JsonObject::add(const std::string& key, int64_t number) {
    members.emplace_back(key, std::to_string(number));
    return *this;
}

JsonObject& JsonObject::add(const std::string& key, double number, int decimals) {
    if (!std::isfinite(number)) {
        members.emplace_back(key, "null");
        return *this;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals < 0 ? 0 : (decimals > 17 ? 17 : decimals), number);
    std::string written = text;
    if (written[0] == '-' && written.find_first_not_of("-0.") == std::string::npos) {
        written.erase(0, 1); // a tiny negative number rounds to "0.000", not "-0.000"
    }
    members.emplace_back(key, written);
    return *this;
}

std::string JsonObject::text() const {
    std::string out = "{";
    for (size_t i = 0; i < members.size(); ++i) {
        out += (i == 0 ? "\n  " : ",\n  ") + jsonString(members[i].first) + ": " + members[i].second;
    }
    return out + (members.empty() ? "}\n" : "\n}\n");
}

} // namespace Velmora
