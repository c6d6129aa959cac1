// The text form of a track file, for authoring tracks by hand and for looking at them.
//
//   # comment lines, blank lines and trailing comments are allowed
//   ROW  VALUE  INTERPOLATION     # one key per line
//
// ROW is a whole number (32-bit), VALUE a 32-bit float written as C reads it ("0.5", "-2", "1e3",
// "inf", "nan"; "nan:0xHHHHHHHH" gives a NaN's exact bits), INTERPOLATION one of constant, linear,
// smoothstep, quadratic (any letter case) or a raw code -128..127. Keys are written in file order;
// keys out of row order or on a row already used are accepted with a warning, since the engine
// sorts keys by row and keeps the last key of a row.
//
// `formatKey` writes a key so that `parse` reads back the identical key, NaN bits included.
#pragma once

#include "sync/TrackData.h"

#include <string>
#include <vector>

namespace Velmora {

class TrackText {
public:
    struct Message {
        int line = 0; // 1-based
        bool error = false;
        std::string text;
    };
    struct Result {
        std::vector<TrackKey> keys; // in the order of the text
        std::vector<Message> messages;
        bool ok() const;
    };

    static Result parse(const std::string& text);

    // "ROW VALUE INTERPOLATION", without a line end.
    static std::string formatKey(const TrackKey& key);
    // The value alone: %.9g, or "nan" / "-nan" / "nan:0xHHHHHHHH" for NaNs.
    static std::string formatValue(float value);
};

} // namespace Velmora
