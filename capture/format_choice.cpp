#include "capture/format_choice.h"

#include <algorithm>
#include <cstdlib>

namespace {

const GUID rgb32 = {0xE436EB7E, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

// The size on a range's grid that is `wanted`, else the next above it, so
// that the picture is shrunk rather than blown up; the range's end when it
// reaches no further.
int onGrid(int wanted, int low, int high, int step) {
    if (wanted <= low || high <= low)
        return low;
    if (wanted >= high)
        return high;
    if (step <= 0)
        return wanted;
    const int steps = (wanted - low + step - 1) / step;
    return std::min(low + steps * step, high);
}

// What makes one size better than another for a width x height window:
// first the window's shape, so that nothing is cut off; then enough pixels
// to fill it, so that nothing is blown up; then the fewest pixels beyond
// that, which cost work and give nothing.
struct SizeRank {
    bool otherShape;
    bool tooSmall;
    long long excess;

    bool operator<(const SizeRank &other) const {
        if (otherShape != other.otherShape)
            return !otherShape;
        if (tooSmall != other.tooSmall)
            return !tooSmall;
        return excess < other.excess;
    }
};

SizeRank rankSize(int w, int h, int width, int height) {
    const long long area = 1ll * w * h, wanted = 1ll * width * height;
    const bool tooSmall = w < width || h < height;
    return {1ll * w * height != 1ll * h * width, tooSmall,
            tooSmall ? wanted - area : area - wanted};
}

} // namespace

std::vector<FormatTry> rankFormats(const std::vector<OfferedFormat> &offered, int width,
                                   int height) {
    std::vector<GUID> subtypes;
    for (const OfferedFormat &format : offered)
        if (std::find(subtypes.begin(), subtypes.end(), format.subtype) == subtypes.end())
            subtypes.push_back(format.subtype);
    std::stable_partition(subtypes.begin(), subtypes.end(),
                          [](const GUID &subtype) { return subtype == MEDIASUBTYPE_RGB24; });

    std::vector<FormatTry> tries;
    for (const GUID &subtype : subtypes) {
        const size_t first = tries.size();
        for (size_t i = 0; i < offered.size(); ++i) {
            const OfferedFormat &format = offered[i];
            if (format.subtype != subtype)
                continue;
            FormatTry chosen{static_cast<int>(i), format.width, std::abs(format.height)};
            if (format.isRange()) {
                chosen.width = onGrid(width, format.minWidth, format.maxWidth, format.stepX);
                chosen.height = onGrid(height, format.minHeight, format.maxHeight, format.stepY);
            }
            if (chosen.width > 0 && chosen.height > 0)
                tries.push_back(chosen);
        }
        std::stable_sort(tries.begin() + first, tries.end(),
                         [&](const FormatTry &a, const FormatTry &b) {
                             return rankSize(a.width, a.height, width, height) <
                                    rankSize(b.width, b.height, width, height);
                         });
    }
    return tries;
}

std::string subtypeName(const GUID &subtype) {
    if (subtype == MEDIASUBTYPE_RGB24)
        return "RGB24";
    if (subtype == rgb32)
        return "RGB32";
    // The other video subtypes are a four-character code in a fixed GUID.
    GUID base = MEDIATYPE_Video;
    base.Data1 = subtype.Data1;
    if (base != subtype)
        return "unknown";
    std::string code;
    for (int shift = 0; shift < 32; shift += 8) {
        const char c = static_cast<char>((subtype.Data1 >> shift) & 0xFF);
        if (c < ' ' || c > '~')
            return "unknown";
        code += c;
    }
    while (!code.empty() && code.back() == ' ')
        code.pop_back();
    return code;
}

std::string describeFormats(const std::vector<OfferedFormat> &offered) {
    std::string text;
    for (const OfferedFormat &format : offered) {
        if (!text.empty())
            text += ", ";
        text += subtypeName(format.subtype) + " ";
        if (format.isRange())
            text += std::to_string(format.minWidth) + "x" + std::to_string(format.minHeight) +
                    " to " + std::to_string(format.maxWidth) + "x" +
                    std::to_string(format.maxHeight);
        else
            text += std::to_string(format.width) + "x" + std::to_string(std::abs(format.height));
    }
    return text;
}
