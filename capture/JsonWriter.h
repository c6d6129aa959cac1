// A small writer of flat JSON objects, for reports that scripts read (timedemo --report).
//
// Members keep the order they are added in. Text is escaped as JSON requires (quotes, backslashes,
// control characters; other bytes pass unchanged, so UTF-8 stays UTF-8). Numbers are written with
// a fixed count of decimals; a number that is not finite is written as null, which JSON allows
// where it has no way to write NaN or infinity.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Velmora {

class JsonObject {
public:
    JsonObject& add(const std::string& key, const std::string& text);
    JsonObject& add(const std::string& key, const char* text) { return add(key, std::string(text)); }
    JsonObject& add(const std::string& key, int64_t number);
    JsonObject& add(const std::string& key, int number) { return add(key, static_cast<int64_t>(number)); }
    JsonObject& add(const std::string& key, double number, int decimals);

    // "{\n  "key": value,\n  ...\n}\n"
    std::string text() const;

private:
    std::vector<std::pair<std::string, std::string>> members; // key, value as written
};

// The text as a JSON string, quotes included.
std::string jsonString(const std::string& text);

} // namespace Velmora
