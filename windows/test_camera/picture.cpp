#include "picture.h"

namespace {

struct Colour {
    BYTE red, green, blue;
};

const Colour quarters[2][2] = {{{255, 0, 0}, {0, 255, 0}}, {{0, 0, 255}, {255, 255, 255}}};

const Colour &colourAt(const Format &format, LONG x, LONG topRow) {
    return quarters[topRow >= format.height / 2][x >= format.width / 2];
}

// BT.601 video range, as cameras send it.
BYTE luma(const Colour &c) {
    return static_cast<BYTE>(16 + (66 * c.red + 129 * c.green + 25 * c.blue + 128) / 256);
}
BYTE blueDifference(const Colour &c) {
    return static_cast<BYTE>(128 + (-38 * c.red - 74 * c.green + 112 * c.blue + 128) / 256);
}
BYTE redDifference(const Colour &c) {
    return static_cast<BYTE>(128 + (112 * c.red - 94 * c.green - 18 * c.blue + 128) / 256);
}

} // namespace

void drawQuarters(const Format &format, BYTE *data) {
    const DWORD stride = format.imageSize() / static_cast<DWORD>(format.height);
    for (LONG row = 0; row < format.height; ++row) {
        BYTE *line = data + stride * static_cast<DWORD>(row);
        if (format.subtype == MEDIASUBTYPE_YUY2) {
            for (LONG x = 0; x + 1 < format.width; x += 2) {
                const Colour &c = colourAt(format, x, row);
                BYTE *pair = line + 2 * x;
                pair[0] = pair[2] = luma(c);
                pair[1] = blueDifference(c);
                pair[3] = redDifference(c);
            }
        } else {
            // RGB rows are stored bottom up, each pixel blue first.
            const LONG topRow = format.height - 1 - row;
            for (LONG x = 0; x < format.width; ++x) {
                const Colour &c = colourAt(format, x, topRow);
                line[3 * x] = c.blue;
                line[3 * x + 1] = c.green;
                line[3 * x + 2] = c.red;
            }
        }
    }
}
