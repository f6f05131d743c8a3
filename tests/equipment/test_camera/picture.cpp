#include "picture.h"

#include <cstring>

namespace {

struct Colour {
    BYTE red, green, blue;
};

const Colour quarters[2][2] = {{{255, 0, 0}, {0, 255, 0}}, {{0, 0, 255}, {255, 255, 255}}};
const Colour marker = {255, 0, 255};

// The width of each band a centred 4:3 crop removes, zero for a picture no
// wider than 4:3.
LONG cropBand(const Format &format) {
    const LONG fourThirds = format.height * 4 / 3;
    return format.width > fourThirds ? (format.width - fourThirds) / 2 : 0;
}

Colour colourAt(const Format &format, Pattern pattern, LONG x, LONG topRow) {
    if (pattern == Pattern::Checker)
        return (x + topRow) % 2 ? Colour{0, 0, 0} : Colour{255, 255, 255};
    const LONG band = cropBand(format);
    if (x < band || x >= format.width - band)
        return marker;
    return quarters[topRow >= format.height / 2][x >= format.width / 2];
}

BYTE luma(const Colour &c) {
    return static_cast<BYTE>(16 + (66 * c.red + 129 * c.green + 25 * c.blue + 128) / 256);
}
BYTE blueDifference(const Colour &c) {
    return static_cast<BYTE>(128 + (-38 * c.red - 74 * c.green + 112 * c.blue + 128) / 256);
}
BYTE redDifference(const Colour &c) {
    return static_cast<BYTE>(128 + (112 * c.red - 94 * c.green - 18 * c.blue + 128) / 256);
}

// Rows stored bottom up, each pixel blue first; RGB32's fourth byte unused.
void drawRgb(const Format &format, Pattern pattern, BYTE *data) {
    const DWORD stride = format.imageSize() / static_cast<DWORD>(format.height);
    const LONG bytes = format.bitCount / 8;
    for (LONG row = 0; row < format.height; ++row) {
        BYTE *pixel = data + stride * static_cast<DWORD>(row);
        for (LONG x = 0; x < format.width; ++x, pixel += bytes) {
            const Colour c = colourAt(format, pattern, x, format.height - 1 - row);
            pixel[0] = c.blue;
            pixel[1] = c.green;
            pixel[2] = c.red;
            if (bytes == 4)
                pixel[3] = 0;
        }
    }
}

// Two pixels in four bytes sharing their colour difference, at the offsets
// the subtype puts them: luma, luma, blue, red.
void drawPacked(const Format &format, Pattern pattern, const int (&at)[4], BYTE *data) {
    for (LONG row = 0; row < format.height; ++row) {
        BYTE *pair = data + 2 * format.width * row;
        for (LONG x = 0; x + 1 < format.width; x += 2, pair += 4) {
            const Colour c = colourAt(format, pattern, x, row);
            pair[at[0]] = luma(c);
            pair[at[1]] = luma(colourAt(format, pattern, x + 1, row));
            pair[at[2]] = blueDifference(c);
            pair[at[3]] = redDifference(c);
        }
    }
}

// A plane of luma, then colour differences for each 2x2 block: interleaved
// blue and red in one plane (NV12), or a blue plane then a red one.
void drawPlanar(const Format &format, Pattern pattern, bool interleaved, BYTE *data) {
    const LONG width = format.width, height = format.height;
    for (LONG row = 0; row < height; ++row)
        for (LONG x = 0; x < width; ++x)
            data[row * width + x] = luma(colourAt(format, pattern, x, row));
    BYTE *chroma = data + width * height;
    const LONG blockWidth = width / 2, blocks = blockWidth * (height / 2);
    for (LONG row = 0; row < height / 2; ++row)
        for (LONG x = 0; x < blockWidth; ++x) {
            const Colour c = colourAt(format, pattern, 2 * x, 2 * row);
            const LONG block = row * blockWidth + x;
            if (interleaved) {
                chroma[2 * block] = blueDifference(c);
                chroma[2 * block + 1] = redDifference(c);
            } else {
                chroma[block] = blueDifference(c);
                chroma[blocks + block] = redDifference(c);
            }
        }
}

} // namespace

void drawPicture(const Format &format, Pattern pattern, BYTE *data) {
    const DWORD code = format.compression;
    if (code == BI_RGB)
        drawRgb(format, pattern, data);
    else if (code == MAKEFOURCC('Y', 'U', 'Y', '2'))
        drawPacked(format, pattern, {0, 2, 1, 3}, data);
    else if (code == MAKEFOURCC('U', 'Y', 'V', 'Y'))
        drawPacked(format, pattern, {1, 3, 0, 2}, data);
    else if (code == MAKEFOURCC('N', 'V', '1', '2'))
        drawPlanar(format, pattern, true, data);
    else if (code == MAKEFOURCC('I', '4', '2', '0') || code == MAKEFOURCC('I', 'Y', 'U', 'V'))
        drawPlanar(format, pattern, false, data);
    else
        std::memset(data, 0x80, format.imageSize());
}
