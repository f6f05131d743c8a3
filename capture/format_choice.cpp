#include "capture/format_choice.h"

#include <algorithm>
#include <cstdlib>

#include "capture/frame_layout.h"

namespace {

const GUID rgb32 = {0xE436EB7E, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

GUID fourcc(char a, char b, char c, char d) {
    GUID subtype = MEDIATYPE_Video;
    subtype.Data1 = static_cast<unsigned char>(a) | static_cast<unsigned char>(b) << 8 |
                    static_cast<unsigned char>(c) << 16 |
                    static_cast<unsigned long>(static_cast<unsigned char>(d)) << 24;
    return subtype;
}

const GUID mjpg = fourcc('M', 'J', 'P', 'G');
const GUID i420 = fourcc('I', '4', '2', '0');
const GUID yuy2 = fourcc('Y', 'U', 'Y', '2');

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

constexpr REFERENCE_TIME second = 10000000;

// Within a thousandth, so that 23.976 frames a second count as 24.
bool reaches(REFERENCE_TIME interval, int framesPerSecond) {
    return interval <= 0 || interval * framesPerSecond * 1000 <= second * 1001;
}

// The slowest rate a picture that moves with the viewer may have: 24 frames a
// second where the camera gives that at a size filling the window, else 15.
int floorRate(const std::vector<OfferedFormat> &offered, const std::vector<FormatTry> &tries,
              int width, int height) {
    for (const FormatTry &t : tries)
        if (t.width >= width && t.height >= height && reaches(offered[t.index].fastest, 24))
            return 24;
    return 15;
}

// What a picture costs to bring to the window: raw ones of up to 640x480
// little; motion JPEG its decoding; larger raw ones their size, and other
// formats a converter of Windows'.
int costOf(const GUID &subtype, int w, int h) {
    PixelFormat pixels;
    if (pixelFormatOf(subtype, &pixels))
        return 1ll * w * h <= 640 * 480 ? 0 : 2;
    return subtype == mjpg ? 1 : 2;
}

// The order of two tries: rate first, as a picture that lags is worst; then
// the window's shape, so that nothing is cut off; enough pixels to fill it,
// so that nothing is blown up; then what the picture costs, RGB24 (Windows
// converts to it where it can) and the fewest pixels beyond the window's,
// which cost work and give nothing.
struct TryRank {
    bool belowFloor;
    REFERENCE_TIME slowness; // of those below the floor; faster first
    bool otherShape;
    bool tooSmall;
    int cost;
    bool notRgb24;
    long long excess;

    bool operator<(const TryRank &other) const {
        if (belowFloor != other.belowFloor)
            return !belowFloor;
        if (slowness != other.slowness)
            return slowness < other.slowness;
        if (otherShape != other.otherShape)
            return !otherShape;
        if (tooSmall != other.tooSmall)
            return !tooSmall;
        if (cost != other.cost)
            return cost < other.cost;
        if (notRgb24 != other.notRgb24)
            return !notRgb24;
        return excess < other.excess;
    }
};

// The capability's fastest rate up to 30 frames a second, which the window
// shows in full; faster ones only cost work, and a range open to any rate
// asks for nothing absurd. Within the camera's own bounds, as drivers check.
REFERENCE_TIME intervalToAsk(const OfferedFormat &format) {
    if (format.fastest <= 0)
        return 0;
    const REFERENCE_TIME interval = std::max(format.fastest, second / 30);
    return format.slowest > 0 ? std::min(interval, format.slowest) : interval;
}

// The size a capability is asked for at: its own, or on a range's grid the
// one nearest width x height.
FormatTry sizeToTry(const OfferedFormat &format, int index, int width, int height) {
    FormatTry chosen{index, format.width, std::abs(format.height), intervalToAsk(format)};
    if (format.isRange()) {
        chosen.width = onGrid(width, format.minWidth, format.maxWidth, format.stepX);
        chosen.height = onGrid(height, format.minHeight, format.maxHeight, format.stepY);
    }
    return chosen;
}

} // namespace

std::vector<FormatTry> rankFormats(const std::vector<OfferedFormat> &offered, int width,
                                   int height) {
    std::vector<FormatTry> tries;
    for (size_t i = 0; i < offered.size(); ++i) {
        const FormatTry chosen = sizeToTry(offered[i], static_cast<int>(i), width, height);
        if (chosen.width > 0 && chosen.height > 0)
            tries.push_back(chosen);
    }
    const int floor = floorRate(offered, tries, width, height);
    auto rank = [&](const FormatTry &t) {
        const OfferedFormat &format = offered[t.index];
        const bool below = !reaches(format.fastest, floor);
        const long long area = 1ll * t.width * t.height, wanted = 1ll * width * height;
        const bool tooSmall = t.width < width || t.height < height;
        return TryRank{below,
                       below ? format.fastest : 0,
                       1ll * t.width * height != 1ll * t.height * width,
                       tooSmall,
                       costOf(format.subtype, t.width, t.height),
                       format.subtype != MEDIASUBTYPE_RGB24,
                       tooSmall ? wanted - area : area - wanted};
    };
    std::stable_sort(tries.begin(), tries.end(),
                     [&](const FormatTry &a, const FormatTry &b) { return rank(a) < rank(b); });
    return tries;
}

std::vector<GUID> grabberSubtypes(const GUID &subtype) {
    // Windows' MJPEG Decompressor is documented only as giving uncompressed
    // video: RGB24, which it is known to give, stays the last try.
    if (subtype == mjpg)
        return {i420, yuy2, MEDIASUBTYPE_RGB24};
    PixelFormat pixels;
    if (subtype != MEDIASUBTYPE_RGB24 && pixelFormatOf(subtype, &pixels))
        return {MEDIASUBTYPE_RGB24, subtype};
    return {MEDIASUBTYPE_RGB24};
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
