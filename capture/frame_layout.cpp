#include "capture/frame_layout.h"

#include "capture/pins_and_types.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#ifdef _WIN32
// VIDEOINFOHEADER2 is declared here, not in dshow.h.
#include <dvdmedia.h>
// mingw-w64's uuids.h names IYUV but not I420, the same layout.
static const GUID cloakcamI420 = {
    0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
#define MEDIASUBTYPE_I420 cloakcamI420
#endif

namespace {

// No camera sends pictures this large; a header that says so is broken, and
// the byte counts of larger ones would overflow Windows' 32-bit long.
constexpr long largestSide = 16384;

int bitsPerPixel(PixelFormat format) {
    switch (format) {
    case PixelFormat::Rgb24:
        return 24;
    case PixelFormat::Rgb32:
        return 32;
    case PixelFormat::Yuy2:
    case PixelFormat::Uyvy:
        return 16;
    case PixelFormat::Nv12:
    case PixelFormat::I420:
        return 12;
    }
    return 0;
}

long strideOf(PixelFormat format, long width) {
    switch (format) {
    case PixelFormat::Rgb24:
    case PixelFormat::Rgb32:
        return bitmapRowBytes(width, bitsPerPixel(format));
    case PixelFormat::Yuy2:
    case PixelFormat::Uyvy:
        return width * 2;
    case PixelFormat::Nv12:
    case PixelFormat::I420:
        return width;
    }
    return 0;
}

// The rows of I420's two chroma planes are half as long as the luma's.
int64_t chromaStride(int64_t stride) { return (stride + 1) / 2; }

// The rectangle and bitmap header of either kind of video format block.
struct VideoHeader {
    RECT source;
    BITMAPINFOHEADER bitmap;
};

bool videoHeaderOf(const AM_MEDIA_TYPE &type, VideoHeader *header) {
    if (!type.pbFormat)
        return false;
    if (type.formattype == FORMAT_VideoInfo && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        const auto *info = reinterpret_cast<const VIDEOINFOHEADER *>(type.pbFormat);
        *header = {info->rcSource, info->bmiHeader};
        return true;
    }
    if (type.formattype == FORMAT_VideoInfo2 && type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
        const auto *info = reinterpret_cast<const VIDEOINFOHEADER2 *>(type.pbFormat);
        *header = {info->rcSource, info->bmiHeader};
        return true;
    }
    return false;
}

// One target row's source columns, each found from the last by adding the
// quotient and carrying the remainder, so that no pixel costs a division.
class ColumnWalk {
  public:
    ColumnWalk(int64_t first, int64_t span, int width)
        : column(first), step(span / width), remainder(span % width), width(width) {}
    int64_t next() {
        const int64_t current = column;
        column += step;
        carried += remainder;
        if (carried >= width) {
            carried -= width;
            ++column;
        }
        return current;
    }

  private:
    int64_t column;
    int64_t step;
    int64_t remainder;
    int64_t carried = 0;
    int64_t width;
};

unsigned char clampShifted(int value) {
    if (value < 0)
        return 0;
    value >>= 8;
    return static_cast<unsigned char>(value > 255 ? 255 : value);
}

// BT.601 limited range with the factors scaled by 256: 1.164 is 298, 1.596
// is 409, and so on; the 128 rounds.
inline void putYuv(unsigned char *out, int y, int u, int v) {
    const int c = 298 * (y - 16) + 128;
    const int d = u - 128;
    const int e = v - 128;
    out[0] = clampShifted(c + 516 * d);
    out[1] = clampShifted(c - 100 * d - 208 * e);
    out[2] = clampShifted(c + 409 * e);
}

// The part of the source shown: its centre, in the target's shape.
struct Crop {
    int64_t left, top, width, height;
};

Crop centreCrop(const FrameLayout &source, int width, int height) {
    const int64_t sw = source.width, sh = source.height;
    Crop crop{0, 0, sw, sh};
    if (sw * height > sh * width)
        crop.width = sh * width / height;
    else
        crop.height = sw * height / width;
    if (crop.width < 1)
        crop.width = 1;
    if (crop.height < 1)
        crop.height = 1;
    crop.left = (sw - crop.width) / 2;
    crop.top = (sh - crop.height) / 2;
    return crop;
}

// Where one source row's bytes lie, as offsets into the frame, and the end
// of the furthest one read.
struct SourceRow {
    int64_t luma;    // or the packed pixels
    int64_t chroma;  // NV12's UV pairs, or I420's U
    int64_t chroma2; // I420's V
    int64_t end;
};

// `row` counts rows in memory; `lastColumn` is the rightmost pixel read.
SourceRow sourceRow(const FrameLayout &source, int64_t row, int64_t lastColumn) {
    const int64_t stride = source.stride;
    const int64_t start = row * stride;
    switch (source.format) {
    case PixelFormat::Rgb24:
        return {start, 0, 0, start + 3 * (lastColumn + 1)};
    case PixelFormat::Rgb32:
        return {start, 0, 0, start + 4 * (lastColumn + 1)};
    case PixelFormat::Yuy2:
    case PixelFormat::Uyvy:
        return {start, 0, 0, start + 4 * (lastColumn / 2 + 1)};
    case PixelFormat::Nv12: {
        // One row of UV pairs serves two rows of luma.
        const int64_t uv = stride * source.rows() + row / 2 * stride;
        return {start, uv, 0, uv + 2 * (lastColumn / 2 + 1)};
    }
    case PixelFormat::I420: {
        const int64_t half = chromaStride(stride);
        const int64_t u = stride * source.rows() + row / 2 * half;
        const int64_t v = u + half * ((source.rows() + 1) / 2);
        return {start, u, v, v + lastColumn / 2 + 1};
    }
    }
    return {0, 0, 0, INT64_MAX};
}

// The bytes the rightmost pixel of a row needs, so that a stride shorter than
// that is known to be a broken layout.
int64_t rowNeeds(PixelFormat format, int64_t width) {
    switch (format) {
    case PixelFormat::Rgb24:
        return 3 * width;
    case PixelFormat::Rgb32:
        return 4 * width;
    case PixelFormat::Yuy2:
    case PixelFormat::Uyvy:
        return 4 * ((width - 1) / 2 + 1);
    case PixelFormat::Nv12: // its chroma rows hold a U and V pair for every two pixels
        return 2 * ((width + 1) / 2);
    case PixelFormat::I420:
        return width;
    }
    return INT64_MAX;
}

bool readable(const FrameLayout &source) {
    return source.width > 0 && source.height > 0 && source.width <= largestSide &&
           source.height <= largestSide && source.stride >= rowNeeds(source.format, source.width) &&
           source.stride <= 8 * largestSide;
}

void convertRow(const unsigned char *frame, const SourceRow &row, PixelFormat format,
                ColumnWalk columns, unsigned char *out, int width) {
    const unsigned char *luma = frame + row.luma;
    switch (format) {
    case PixelFormat::Rgb24:
    case PixelFormat::Rgb32: {
        const int64_t size = format == PixelFormat::Rgb24 ? 3 : 4;
        for (int x = 0; x < width; ++x, out += 3) {
            const unsigned char *pixel = luma + size * columns.next();
            out[0] = pixel[0];
            out[1] = pixel[1];
            out[2] = pixel[2];
        }
        return;
    }
    case PixelFormat::Yuy2:
    case PixelFormat::Uyvy: {
        // Y0 U Y1 V for YUY2, U Y0 V Y1 for UYVY: two pixels share U and V.
        const int y0 = format == PixelFormat::Yuy2 ? 0 : 1;
        const int u = 1 - y0;
        for (int x = 0; x < width; ++x, out += 3) {
            const int64_t column = columns.next();
            const unsigned char *pair = luma + 4 * (column / 2);
            putYuv(out, pair[y0 + 2 * (column & 1)], pair[u], pair[u + 2]);
        }
        return;
    }
    case PixelFormat::Nv12: {
        const unsigned char *uv = frame + row.chroma;
        for (int x = 0; x < width; ++x, out += 3) {
            const int64_t column = columns.next();
            putYuv(out, luma[column], uv[column / 2 * 2], uv[column / 2 * 2 + 1]);
        }
        return;
    }
    case PixelFormat::I420: {
        const unsigned char *u = frame + row.chroma;
        const unsigned char *v = frame + row.chroma2;
        for (int x = 0; x < width; ++x, out += 3) {
            const int64_t column = columns.next();
            putYuv(out, luma[column], u[column / 2], v[column / 2]);
        }
        return;
    }
    }
}

// Source pixels are averaged a strip of this many columns at a time: the
// rows of a target row's block summed column by column into sums on the
// stack, then each target pixel's columns taken from them.
constexpr int64_t stripColumns = 1024;

// The source cells (rows or columns) one target pixel covers in one
// direction, in units of 1/scale of a cell: a target pixel shrunk from two or
// more cells covers [start, end) and weighs each cell by how much of it lies
// inside, so that a picture's every pixel counts as much as the next; one
// shrunk from fewer takes its nearest cell, `first`, alone.
struct Span {
    bool box;
    int64_t scale, start, end;
    int64_t first, last;

    // The weight of cell `cell` of `size` source cells (2 for subsampled
    // chroma).
    int64_t weight(int64_t cell, int64_t size) const {
        if (!box)
            return 1;
        const int64_t from = std::max(cell * size * scale, start);
        const int64_t to = std::min((cell + 1) * size * scale, end);
        return to > from ? to - from : 0;
    }
    // What all its cells weigh together.
    int64_t total() const { return box ? end - start : 1; }
};

// A span's cells of one size, with the weights of its first and last; the
// cells between weigh `size * scale` each, and all together `total`.
struct Cells {
    int64_t first, last;
    uint64_t firstWeight, lastWeight;
};

Cells cellsOf(const Span &span, int64_t size) {
    const int64_t first = span.first / size, last = span.last / size;
    return {first, last, uint64_t(span.weight(first, size)), uint64_t(span.weight(last, size))};
}

// What a target pixel's columns weigh: each inner one of luma, each inner
// pair of chroma, and all of them.
struct Weights {
    uint64_t inner, innerPair, total;
};

// The sum of get(cell) over the cells from lo to hi, each by its weight: the
// inner cells, wholly covered, are added first and weighed once.
template <typename Get>
uint64_t weighed(const Cells &cells, uint64_t innerWeight, uint64_t total, int64_t lo, int64_t hi,
                 Get get) {
    if (cells.first == cells.last)
        return cells.first >= lo && cells.first <= hi ? total * get(cells.first) : 0;
    if (cells.first >= lo && cells.last <= hi) {
        uint64_t inner = 0;
        for (int64_t cell = cells.first + 1; cell < cells.last; ++cell)
            inner += get(cell);
        return inner * innerWeight + cells.firstWeight * get(cells.first) +
               cells.lastWeight * get(cells.last);
    }
    const int64_t from = std::max(cells.first, lo), to = std::min(cells.last, hi);
    uint64_t inner = 0;
    for (int64_t cell = std::max(from, cells.first + 1); cell <= std::min(to, cells.last - 1);
         ++cell)
        inner += get(cell);
    uint64_t sum = inner * innerWeight;
    if (from == cells.first)
        sum += cells.firstWeight * get(cells.first);
    if (to == cells.last)
        sum += cells.lastWeight * get(cells.last);
    return sum;
}

// One target pixel's columns, in luma and in chroma pairs.
struct Column {
    Cells luma, pairs;
};

// Target pixels whose columns are found at a time, once for all rows.
constexpr int columnsAtOnce = 320;

// round(sum / count) for the one count of a picture's blocks, a sum of at
// most 255 * count, without a division per pixel: multiplying by 2^55 / count
// rounded up is exact for counts below 2^23 (shrinking 4096 x 2048 pixels to
// one); larger ones divide.
class Divider {
  public:
    explicit Divider(uint64_t count)
        : count_(count), factor_((uint64_t(1) << 55) / count + 1), exact_(count < (1u << 23)) {}
    int operator()(uint64_t sum) const {
        const uint64_t n = sum + count_ / 2;
        return static_cast<int>(exact_ ? n * factor_ >> 55 : n / count_);
    }

  private:
    uint64_t count_;
    uint64_t factor_;
    bool exact_;
};

// Adds `count` bytes from `begin` of the rows of `rows`, each by its weight,
// into `sums`, in groups of 16 that the compiler turns into vector code.
template <int64_t size>
void sumRows(const unsigned char *plane, int64_t stride, const Span &rows, int64_t begin,
             int64_t count, uint32_t *__restrict sums) {
    std::fill(sums, sums + count, 0u);
    for (int64_t row = rows.first / size; row <= rows.last / size; ++row) {
        const uint32_t weight = static_cast<uint32_t>(rows.weight(row, size));
        const unsigned char *__restrict in = plane + row * stride + begin;
        int64_t i = 0;
        // A byte by a weight of 257 or less fits 16 bits, which vector
        // instructions multiply twice as many of at once, and SSE2 at all.
        if (weight <= 257)
            for (; i + 16 <= count; i += 16)
                for (int k = 0; k < 16; ++k)
                    sums[i + k] += static_cast<uint16_t>(static_cast<uint16_t>(weight) * in[i + k]);
        for (; i + 16 <= count; i += 16)
            for (int k = 0; k < 16; ++k)
                sums[i + k] += weight * in[i + k];
        for (; i < count; ++i)
            sums[i] += weight * in[i];
    }
}

// Part of a target row, `count` pixels whose columns are `columns`, from the
// source rows of `rows` (in memory, so that the first is the first there).
void averageRow(const unsigned char *frame, const FrameLayout &source, const Span &rows,
                const Column *columns, int count, const Weights &weights, const Divider &divide,
                unsigned char *out) {
    uint32_t packed[4 * stripColumns + 8];
    uint32_t chroma[stripColumns + 8];
    uint32_t chroma2[stripColumns / 2 + 8];
    const PixelFormat format = source.format;
    const int64_t stride = source.stride;
    const bool rgb = format == PixelFormat::Rgb24 || format == PixelFormat::Rgb32;
    const int64_t pixelBytes = format == PixelFormat::Rgb24 ? 3 : 4;
    const int64_t y0 = format == PixelFormat::Uyvy ? 1 : 0, u = 1 - y0;
    const uint64_t inner = weights.inner, innerPair = weights.innerPair, total = weights.total;
    int x = 0;
    uint64_t c0 = 0, c1 = 0, c2 = 0; // blue, green, red; or Y, U, V
    const int64_t end = columns[count - 1].luma.last + 1;
    // Strips end on even columns, so that no pair of chroma is in two.
    for (int64_t p = columns[0].luma.first; p < end && x < count;) {
        const int64_t q = std::min(end, (p + stripColumns) & ~int64_t(1));
        // Where the strip's bytes start in each plane.
        int64_t base = p, chromaBase = p / 2;
        switch (format) {
        case PixelFormat::Rgb24:
        case PixelFormat::Rgb32:
            base = pixelBytes * p;
            sumRows<1>(frame, stride, rows, base, pixelBytes * (q - p), packed);
            break;
        case PixelFormat::Yuy2:
        case PixelFormat::Uyvy:
            base = 4 * (p / 2);
            sumRows<1>(frame, stride, rows, base, 4 * ((q - 1) / 2 + 1) - base, packed);
            break;
        case PixelFormat::Nv12: {
            const unsigned char *uv = frame + sourceRow(source, 0, 0).chroma;
            sumRows<1>(frame, stride, rows, p, q - p, packed);
            sumRows<2>(uv, stride, rows, 2 * chromaBase, 2 * ((q - 1) / 2 + 1 - chromaBase),
                       chroma);
            break;
        }
        case PixelFormat::I420: {
            const SourceRow planes = sourceRow(source, 0, 0);
            const int64_t half = chromaStride(stride), bytes = (q - 1) / 2 + 1 - chromaBase;
            sumRows<1>(frame, stride, rows, p, q - p, packed);
            sumRows<2>(frame + planes.chroma, half, rows, chromaBase, bytes, chroma);
            sumRows<2>(frame + planes.chroma2, half, rows, chromaBase, bytes, chroma2);
            break;
        }
        }
        // The target pixels whose columns lie in this strip; the last may go
        // on into the next.
        const int64_t lo = p, hi = q - 1;
        for (; x < count; ++x) {
            const Cells &luma = columns[x].luma, &pairs = columns[x].pairs;
            if (luma.first > hi)
                break;
            switch (format) {
            case PixelFormat::Rgb24:
            case PixelFormat::Rgb32:
                c0 += weighed(luma, inner, total, lo, hi,
                              [&](int64_t c) { return packed[pixelBytes * c - base]; });
                c1 += weighed(luma, inner, total, lo, hi,
                              [&](int64_t c) { return packed[pixelBytes * c + 1 - base]; });
                c2 += weighed(luma, inner, total, lo, hi,
                              [&](int64_t c) { return packed[pixelBytes * c + 2 - base]; });
                break;
            case PixelFormat::Yuy2:
            case PixelFormat::Uyvy:
                c0 += weighed(luma, inner, total, lo, hi,
                              [&](int64_t c) { return packed[2 * c + y0 - base]; });
                c1 += weighed(pairs, innerPair, total, lo / 2, hi / 2,
                              [&](int64_t j) { return packed[4 * j + u - base]; });
                c2 += weighed(pairs, innerPair, total, lo / 2, hi / 2,
                              [&](int64_t j) { return packed[4 * j + u + 2 - base]; });
                break;
            case PixelFormat::Nv12:
                c0 += weighed(luma, inner, total, lo, hi,
                              [&](int64_t c) { return packed[c - base]; });
                c1 += weighed(pairs, innerPair, total, lo / 2, hi / 2,
                              [&](int64_t j) { return chroma[2 * (j - chromaBase)]; });
                c2 += weighed(pairs, innerPair, total, lo / 2, hi / 2,
                              [&](int64_t j) { return chroma[2 * (j - chromaBase) + 1]; });
                break;
            case PixelFormat::I420:
                c0 += weighed(luma, inner, total, lo, hi,
                              [&](int64_t c) { return packed[c - base]; });
                c1 += weighed(pairs, innerPair, total, lo / 2, hi / 2,
                              [&](int64_t j) { return chroma[j - chromaBase]; });
                c2 += weighed(pairs, innerPair, total, lo / 2, hi / 2,
                              [&](int64_t j) { return chroma2[j - chromaBase]; });
                break;
            }
            if (luma.last > hi)
                break;
            if (rgb) {
                out[0] = static_cast<unsigned char>(divide(c0));
                out[1] = static_cast<unsigned char>(divide(c1));
                out[2] = static_cast<unsigned char>(divide(c2));
            } else {
                putYuv(out, divide(c0), divide(c1), divide(c2));
            }
            out += 3;
            c0 = c1 = c2 = 0;
        }
        p = q;
    }
}

} // namespace

long FrameLayout::bytes() const {
    const long plane = stride * rows();
    const long chromaRows = (rows() + 1) / 2;
    switch (format) {
    case PixelFormat::Nv12:
        return plane + stride * chromaRows;
    case PixelFormat::I420:
        return plane + 2 * static_cast<long>(chromaStride(stride)) * chromaRows;
    default:
        return plane;
    }
}

bool pixelFormatOf(const GUID &subtype, PixelFormat *format) {
    const struct {
        const GUID &subtype;
        PixelFormat format;
    } known[] = {
        {MEDIASUBTYPE_RGB24, PixelFormat::Rgb24}, {MEDIASUBTYPE_RGB32, PixelFormat::Rgb32},
        {MEDIASUBTYPE_YUY2, PixelFormat::Yuy2},   {MEDIASUBTYPE_UYVY, PixelFormat::Uyvy},
        {MEDIASUBTYPE_NV12, PixelFormat::Nv12},   {MEDIASUBTYPE_I420, PixelFormat::I420},
        {MEDIASUBTYPE_IYUV, PixelFormat::I420},
    };
    for (const auto &entry : known)
        if (entry.subtype == subtype) {
            *format = entry.format;
            return true;
        }
    return false;
}

bool frameLayoutOf(const AM_MEDIA_TYPE &type, FrameLayout *layout) {
    VideoHeader header;
    PixelFormat format;
    if (!pixelFormatOf(type.subtype, &format) || !videoHeaderOf(type, &header))
        return false;
    // 64 bits, so that even the most negative height has a magnitude.
    const int64_t width = header.bitmap.biWidth;
    const int64_t height = header.bitmap.biHeight < 0 ? -int64_t(header.bitmap.biHeight)
                                                      : int64_t(header.bitmap.biHeight);
    if (width <= 0 || height == 0 || width > largestSide || height > largestSide ||
        header.bitmap.biBitCount != bitsPerPixel(format))
        return false;
    // Microsoft's documentation has YUV top-down whatever the height's sign.
    const bool topDown = !(format == PixelFormat::Rgb24 || format == PixelFormat::Rgb32) ||
                         header.bitmap.biHeight < 0;
    FrameLayout result{format, static_cast<int>(width), static_cast<int>(height), topDown,
                       strideOf(format, width)};
    // A source rectangle smaller than the bitmap makes the bitmap's width the
    // stride and its height the rows in each plane. Its height is taken only
    // where the rows it names come first in memory: bottom-up rows past them
    // would be read from the wrong place.
    const RECT &shown = header.source;
    const int64_t shownWidth = int64_t(shown.right) - shown.left;
    const int64_t shownHeight = int64_t(shown.bottom) - shown.top;
    if (shownWidth > 0 && shownHeight > 0 && (shownWidth < width || shownHeight < height)) {
        if (shown.left < 0 || shown.top < 0 || shown.right > width || shown.bottom > height)
            return false;
        result.width = static_cast<int>(shownWidth);
        if (topDown && shownHeight < height) {
            result.height = static_cast<int>(shownHeight);
            result.planeHeight = static_cast<int>(height);
        }
    }
    *layout = result;
    return true;
}

void bgrFromCameraFrame(const unsigned char *frame, long frameSize, const FrameLayout &source,
                        unsigned char *target, int width, int height) {
    if (width <= 0 || height <= 0)
        return;
    const int64_t rowBytes = 3 * static_cast<int64_t>(width);
    if (!readable(source) || frameSize <= 0) {
        std::memset(target, 0, static_cast<size_t>(rowBytes * height));
        return;
    }
    const Crop crop = centreCrop(source, width, height);
    const int64_t lastColumn = crop.left + crop.width - 1;
    const bool boxColumns = crop.width >= 2 * static_cast<int64_t>(width);
    const bool boxRows = crop.height >= 2 * static_cast<int64_t>(height);
    if (!boxColumns && !boxRows) {
        for (int y = 0; y < height; ++y) {
            unsigned char *out = target + rowBytes * y;
            // Counted from the bottom, as the target is stored; `shown` from the top.
            const int64_t fromBottom = static_cast<int64_t>(y) * crop.height / height;
            const int64_t shown = crop.top + crop.height - 1 - fromBottom;
            const int64_t row = source.topDown ? shown : source.rows() - 1 - shown;
            const SourceRow in = sourceRow(source, row, lastColumn);
            if (in.end > frameSize) {
                std::memset(out, 0, static_cast<size_t>(rowBytes));
                continue;
            }
            convertRow(frame, in, source.format, ColumnWalk(crop.left, crop.width, width), out,
                       width);
        }
        return;
    }
    // Averaged: each target pixel's columns are found once for all rows, a
    // part of the row at a time. A pixel starts where the last ended, in
    // units of 1/width of a column: a whole cell and a part of one.
    const int64_t scale = boxColumns ? width : 1;
    const Weights weights{uint64_t(scale), uint64_t(2 * scale),
                          uint64_t(boxColumns ? crop.width : 1)};
    const Divider divide(weights.total * uint64_t(boxRows ? crop.height : 1));
    const int64_t cellStep = crop.width / width, partStep = crop.width % width;
    int64_t cell = crop.left, part = 0;
    Column columns[columnsAtOnce] = {};
    for (int x0 = 0; x0 < width; x0 += columnsAtOnce) {
        const int count = std::min(columnsAtOnce, width - x0);
        for (int x = 0; x < count; ++x) {
            int64_t endCell = cell + cellStep, endPart = part + partStep;
            if (endPart >= width) {
                endPart -= width;
                ++endCell;
            }
            const Span span{boxColumns,
                            scale,
                            cell * scale + part,
                            endCell * scale + endPart,
                            cell,
                            boxColumns ? (endPart == 0 ? endCell - 1 : endCell) : cell};
            columns[x] = Column{cellsOf(span, 1), cellsOf(span, 2)};
            cell = endCell;
            part = endPart;
        }
        for (int y = 0; y < height; ++y) {
            unsigned char *out = target + rowBytes * y + 3 * int64_t(x0);
            const int64_t fromBottom = static_cast<int64_t>(y) * crop.height / height;
            const int64_t shown = crop.top + crop.height - 1 - fromBottom;
            const int64_t row = source.topDown ? shown : source.rows() - 1 - shown;
            // The target row's source rows in memory, in units of 1/height of
            // a row.
            Span rows{false, 1, row, row + 1, row, row};
            if (boxRows) {
                const int64_t start = crop.top * height + (height - 1 - y) * crop.height;
                const int64_t whole = source.rows() * int64_t(height);
                rows.box = true;
                rows.scale = height;
                rows.start = source.topDown ? start : whole - start - crop.height;
                rows.end = rows.start + crop.height;
                rows.first = rows.start / height;
                rows.last = (rows.end - 1) / height;
            }
            if (sourceRow(source, rows.last, lastColumn).end > frameSize) {
                std::memset(out, 0, 3 * static_cast<size_t>(count));
                continue;
            }
            averageRow(frame, source, rows, columns, count, weights, divide, out);
        }
    }
}

bool layoutOfSize(const FrameLayout &connected, long bytes, FrameLayout *layout) {
    const auto fits = [&](const FrameLayout &candidate) {
        if (candidate.bytes() != bytes || !readable(candidate))
            return false;
        *layout = candidate;
        return true;
    };
    // Decoders pad the rows of top-down pictures to a multiple of 16 or 32.
    if (connected.topDown)
        for (int multiple : {16, 32, 64}) {
            FrameLayout padded = connected;
            padded.planeHeight = (connected.height + multiple - 1) / multiple * multiple;
            if (padded.planeHeight > connected.rows() && fits(padded))
                return true;
        }
    const auto sized = [&](int64_t width, int64_t height) {
        return FrameLayout{connected.format, static_cast<int>(width), static_cast<int>(height),
                           connected.topDown, strideOf(connected.format, width)};
    };
    if (connected.width > 0 && connected.height > 0)
        for (int64_t height = 1; height <= largestSide; ++height) {
            if (height * connected.width % connected.height != 0)
                continue;
            const FrameLayout candidate =
                sized(height * connected.width / connected.height, height);
            if (candidate.width > largestSide || candidate.bytes() > bytes)
                break;
            if (fits(candidate))
                return true;
        }
    const struct {
        int width, height;
    } common[] = {{160, 120},  {176, 144},   {320, 240},   {352, 288},  {640, 360},
                  {640, 480},  {800, 600},   {960, 540},   {1024, 768}, {1280, 720},
                  {1280, 960}, {1920, 1080}, {2560, 1440}, {3840, 2160}};
    for (const auto &size : common)
        if (fits(sized(size.width, size.height)))
            return true;
    return false;
}
