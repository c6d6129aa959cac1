// A contact sheet: thumbnails of the show in a grid, each with its sync row printed under it, so
// the whole choreography can be seen at a glance. Layout and pixels only; the frames come from
// the caller (velmora-shots renders them).
#pragma once

#include "tools/shots/RgbaImage.h"

#include <string>
#include <vector>

namespace Shots {

class ContactSheet {
public:
    static constexpr int margin = 8;     // around the grid and between the cells, in pixels
    static constexpr int labelScale = 2; // the font's magnification for the row labels

    // A grid for `count` thumbnails of thumbWidth x thumbHeight, `columns` per line (at most
    // `count`); every value is raised to at least 1.
    ContactSheet(int count, int columns, int thumbWidth, int thumbHeight);

    // Scales `frame` to the thumbnail size into cell `index` (0 = top left, then along the line)
    // and writes `label` centred under it. An index outside the grid is ignored.
    void place(int index, const RgbaImage& frame, const std::string& label);

    const RgbaImage& image() const { return sheet; }
    int columns() const { return columnCount; }
    int lines() const { return lineCount; }
    // Top left corner of cell `index`'s thumbnail.
    int thumbX(int index) const;
    int thumbY(int index) const;
    // Height of the strip under each thumbnail that holds its label.
    static int labelHeight() { return textHeight(labelScale) + 2 * 4; }

    // `count` rows spread evenly over 0..endRow: the middle of each of `count` equal spans,
    // rounded down to a whole row (so neither the black start nor the end is picked).
    static std::vector<double> evenRows(int count, double endRow);

private:
    int count;
    int columnCount;
    int lineCount;
    int thumbWidth;
    int thumbHeight;
    RgbaImage sheet;
};

} // namespace Shots
