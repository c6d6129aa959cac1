#include "tools/shots/ContactSheet.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Shots {

namespace {

const Rgba background = {24, 24, 24, 255};
const Rgba labelColour = {230, 230, 230, 255};

} // namespace

ContactSheet::ContactSheet(int count_, int columns_, int thumbWidth_, int thumbHeight_)
    : count(std::max(count_, 1)), columnCount(std::clamp(columns_, 1, count)),
      lineCount((count + columnCount - 1) / columnCount), thumbWidth(std::max(thumbWidth_, 1)),
      thumbHeight(std::max(thumbHeight_, 1)),
      sheet(margin + columnCount * (thumbWidth + margin),
            margin + lineCount * (thumbHeight + labelHeight() + margin), background) {}

int ContactSheet::thumbX(int index) const {
    return margin + (index % columnCount) * (thumbWidth + margin);
}

int ContactSheet::thumbY(int index) const {
    return margin + (index / columnCount) * (thumbHeight + labelHeight() + margin);
}

void ContactSheet::place(int index, const RgbaImage& frame, const std::string& label) {
    if (index < 0 || index >= count) {
        return;
    }
    const RgbaImage thumb = downscale(frame, thumbWidth, thumbHeight);
    const int x = thumbX(index);
    const int y = thumbY(index);
    for (int row = 0; row < thumb.height; ++row) {
        for (int column = 0; column < thumb.width; ++column) {
            uint8_t* out = sheet.at(x + column, y + row);
            std::memcpy(out, thumb.at(column, row), 3);
            out[3] = 255; // the sheet is opaque whatever the frame's alpha
        }
    }
    const int labelX = x + (thumbWidth - textWidth(label, labelScale)) / 2;
    drawText(sheet, labelX, y + thumbHeight + 4, labelScale, label, labelColour);
}

std::vector<double> ContactSheet::evenRows(int count, double endRow) {
    std::vector<double> rows;
    for (int i = 0; i < count; ++i) {
        rows.push_back(std::floor(endRow * (i + 0.5) / count));
    }
    return rows;
}

} // namespace Shots
