#include "formats.h"

#include <dvdmedia.h>
#include <mmreg.h>

#include <cwchar>

namespace {

constexpr REFERENCE_TIME frameDuration = 10000000 / 30;
constexpr DWORD audioRate = 44100;
constexpr WORD audioFrameBytes = 4;

// The subtype DirectShow gives a four-character code.
GUID fourCcSubtype(DWORD code) {
    return {code, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
}

struct Subtype {
    const wchar_t *name;
    WORD bitCount;
    // BI_RGB for the RGB subtypes; otherwise the code that names the subtype.
    DWORD compression;
};

const Subtype subtypes[] = {
    {L"RGB24", 24, BI_RGB},
    {L"RGB32", 32, BI_RGB},
    {L"YUY2", 16, MAKEFOURCC('Y', 'U', 'Y', '2')},
    {L"UYVY", 16, MAKEFOURCC('U', 'Y', 'V', 'Y')},
    {L"NV12", 12, MAKEFOURCC('N', 'V', '1', '2')},
    {L"I420", 12, MAKEFOURCC('I', '4', '2', '0')},
    {L"IYUV", 12, MAKEFOURCC('I', 'Y', 'U', 'V')},
    {L"Y41P", 12, MAKEFOURCC('Y', '4', '1', 'P')},
};

bool validSize(long width, long height) {
    return width > 0 && height > 0 && width <= 4096 && height <= 4096;
}

// "NAME WxH", or a range "NAME WxH-WxH/STEP".
bool formatFromWords(const std::wstring &words, Format *format) {
    wchar_t name[16] = {};
    long width = 0, height = 0, largestWidth = 0, largestHeight = 0, step = 0;
    int used = 0;
    if (std::swscanf(words.c_str(), L" %15ls %ldx%ld%n", name, &width, &height, &used) != 3 ||
        !validSize(width, height))
        return false;
    const bool range = std::swscanf(words.c_str() + used, L"-%ldx%ld/%ld", &largestWidth,
                                    &largestHeight, &step) == 3;
    if (range && (!validSize(largestWidth, largestHeight) || step <= 0 || largestWidth < width ||
                  largestHeight < height))
        return false;
    for (const Subtype &known : subtypes) {
        if (std::wcscmp(name, known.name) != 0)
            continue;
        const GUID subtype = known.compression == BI_RGB
                                 ? (known.bitCount == 24 ? MEDIASUBTYPE_RGB24 : MEDIASUBTYPE_RGB32)
                                 : fourCcSubtype(known.compression);
        *format = {subtype, width, height, known.bitCount, known.compression};
        if (range) {
            format->smallest = {width, height};
            format->step = {step, step};
            format->width = largestWidth;
            format->height = largestHeight;
        }
        return true;
    }
    return false;
}

std::vector<std::wstring> items(const std::wstring &text) {
    std::vector<std::wstring> found;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L',', start);
        if (end == std::wstring::npos)
            end = text.size();
        const std::wstring item = text.substr(start, end - start);
        const size_t first = item.find_first_not_of(L" \t");
        if (first != std::wstring::npos)
            found.push_back(item.substr(first, item.find_last_not_of(L" \t") - first + 1));
        start = end + 1;
    }
    return found;
}

bool sameOrOpen(const GUID &asked, const GUID &offered) {
    return asked == GUID_NULL || asked == offered;
}

bool fitsRange(LONG size, LONG smallest, LONG largest, LONG step) {
    if (step == 0)
        return size == largest;
    return size >= smallest && size <= largest && (size - smallest) % step == 0;
}

const GUID &formatType(const Format &format) {
    if (format.isAudio())
        return FORMAT_WaveFormatEx;
    return format.videoInfo2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo;
}

// The bitmap header inside a video type's format block, when the block is
// the kind `format` uses and whole.
const BITMAPINFOHEADER *bitmapHeader(const AM_MEDIA_TYPE &type, const Format &format) {
    if (!type.pbFormat || type.formattype != formatType(format))
        return nullptr;
    if (format.videoInfo2)
        return type.cbFormat < sizeof(VIDEOINFOHEADER2)
                   ? nullptr
                   : &reinterpret_cast<const VIDEOINFOHEADER2 *>(type.pbFormat)->bmiHeader;
    return type.cbFormat < sizeof(VIDEOINFOHEADER)
               ? nullptr
               : &reinterpret_cast<const VIDEOINFOHEADER *>(type.pbFormat)->bmiHeader;
}

void fillBitmapHeader(const Format &format, BITMAPINFOHEADER *header) {
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = format.width;
    header->biHeight = format.height;
    header->biPlanes = 1;
    header->biBitCount = format.bitCount;
    header->biCompression = format.compression;
    header->biSizeImage = format.imageSize();
}

LONG greatestCommonDivisor(LONG a, LONG b) { return b == 0 ? a : greatestCommonDivisor(b, a % b); }

BYTE *videoBlock(const Format &format, ULONG *size) {
    const RECT whole = {0, 0, format.width, format.height};
    const DWORD bitRate = format.imageSize() * 8 * 30;
    if (format.videoInfo2) {
        auto *info = static_cast<VIDEOINFOHEADER2 *>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER2)));
        if (!info)
            return nullptr;
        *info = {};
        info->rcSource = info->rcTarget = whole;
        info->dwBitRate = bitRate;
        info->AvgTimePerFrame = frameDuration;
        const LONG divisor = greatestCommonDivisor(format.width, format.height);
        info->dwPictAspectRatioX = static_cast<DWORD>(format.width / divisor);
        info->dwPictAspectRatioY = static_cast<DWORD>(format.height / divisor);
        fillBitmapHeader(format, &info->bmiHeader);
        *size = sizeof(VIDEOINFOHEADER2);
        return reinterpret_cast<BYTE *>(info);
    }
    auto *info = static_cast<VIDEOINFOHEADER *>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    if (!info)
        return nullptr;
    *info = {};
    info->rcSource = info->rcTarget = whole;
    info->dwBitRate = bitRate;
    info->AvgTimePerFrame = frameDuration;
    fillBitmapHeader(format, &info->bmiHeader);
    *size = sizeof(VIDEOINFOHEADER);
    return reinterpret_cast<BYTE *>(info);
}

BYTE *audioBlock(ULONG *size) {
    auto *wave = static_cast<WAVEFORMATEX *>(CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
    if (!wave)
        return nullptr;
    *wave = {};
    wave->wFormatTag = WAVE_FORMAT_PCM;
    wave->nChannels = 2;
    wave->nSamplesPerSec = audioRate;
    wave->wBitsPerSample = 16;
    wave->nBlockAlign = audioFrameBytes;
    wave->nAvgBytesPerSec = audioRate * audioFrameBytes;
    *size = sizeof(WAVEFORMATEX);
    return reinterpret_cast<BYTE *>(wave);
}

} // namespace

DWORD Format::imageSize() const {
    if (isAudio())
        return audioRate * audioFrameBytes / 30;
    // RGB rows are padded to four bytes; the YUV layouts here have none at
    // even widths.
    const DWORD bits = static_cast<DWORD>(width) * bitCount;
    if (compression != BI_RGB)
        return bits / 8 * static_cast<DWORD>(height);
    return (bits / 8 + 3) / 4 * 4 * static_cast<DWORD>(height);
}

bool Format::isAudio() const { return subtype == MEDIASUBTYPE_PCM; }

Format Format::at(LONG atWidth, LONG atHeight) const {
    Format fixed = *this;
    fixed.width = atWidth;
    fixed.height = atHeight;
    fixed.smallest = {};
    fixed.step = {};
    return fixed;
}

std::vector<Format> parseFormats(const std::wstring &text) {
    std::vector<Format> formats;
    const bool videoInfo2 = hasWord(text, L"vih2");
    for (const std::wstring &item : items(text)) {
        Format format;
        if (formatFromWords(item, &format)) {
            format.videoInfo2 = videoInfo2;
            formats.push_back(format);
        }
    }
    if (formats.empty())
        formats.push_back({MEDIASUBTYPE_RGB24, 320, 240, 24, BI_RGB});
    return formats;
}

bool hasWord(const std::wstring &text, const wchar_t *word) {
    for (const std::wstring &item : items(text))
        if (item == word)
            return true;
    return false;
}

std::wstring wordAfter(const std::wstring &text, const wchar_t *prefix) {
    const size_t length = std::wcslen(prefix);
    for (const std::wstring &item : items(text))
        if (item.compare(0, length, prefix) == 0)
            return item.substr(length);
    return L"";
}

Format audioFormat() { return {MEDIASUBTYPE_PCM, 0, 0, 16, WAVE_FORMAT_PCM}; }

bool describe(const Format &format, AM_MEDIA_TYPE *type) {
    *type = {};
    ULONG size = 0;
    BYTE *block = format.isAudio() ? audioBlock(&size) : videoBlock(format, &size);
    if (!block)
        return false;
    type->majortype = format.isAudio() ? MEDIATYPE_Audio : MEDIATYPE_Video;
    type->subtype = format.subtype;
    type->bFixedSizeSamples = TRUE;
    type->lSampleSize = format.isAudio() ? audioFrameBytes : format.imageSize();
    type->formattype = formatType(format);
    type->cbFormat = size;
    type->pbFormat = block;
    return true;
}

AM_MEDIA_TYPE *newMediaType(const Format &format) {
    auto *type = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (type && !describe(format, type)) {
        CoTaskMemFree(type);
        type = nullptr;
    }
    return type;
}

bool fits(const AM_MEDIA_TYPE &type, const Format &capability, Format *fitted) {
    if (capability.isAudio()) {
        *fitted = capability;
        return type.majortype == MEDIATYPE_Audio && type.subtype == capability.subtype &&
               type.formattype == FORMAT_WaveFormatEx;
    }
    const BITMAPINFOHEADER *header = bitmapHeader(type, capability);
    if (type.majortype != MEDIATYPE_Video || type.subtype != capability.subtype || !header ||
        !fitsRange(header->biWidth, capability.smallest.cx, capability.width, capability.step.cx) ||
        !fitsRange(header->biHeight, capability.smallest.cy, capability.height, capability.step.cy))
        return false;
    const Format sized = capability.at(header->biWidth, header->biHeight);
    if (header->biBitCount != sized.bitCount || header->biCompression != sized.compression ||
        header->biSizeImage != sized.imageSize())
        return false;
    *fitted = sized;
    return true;
}

bool allows(const AM_MEDIA_TYPE &type, const Format &format) {
    if (!sameOrOpen(type.majortype, format.isAudio() ? MEDIATYPE_Audio : MEDIATYPE_Video) ||
        !sameOrOpen(type.subtype, format.subtype) ||
        !sameOrOpen(type.formattype, formatType(format)))
        return false;
    Format fitted;
    return !type.pbFormat || (fits(type, format, &fitted) && fitted.width == format.width &&
                              fitted.height == format.height);
}

bool copyMediaType(const AM_MEDIA_TYPE &from, AM_MEDIA_TYPE *to) {
    *to = from;
    to->pbFormat = nullptr;
    if (from.cbFormat && from.pbFormat) {
        to->pbFormat = static_cast<BYTE *>(CoTaskMemAlloc(from.cbFormat));
        if (!to->pbFormat) {
            to->cbFormat = 0;
            to->pUnk = nullptr;
            return false;
        }
        CopyMemory(to->pbFormat, from.pbFormat, from.cbFormat);
    }
    if (to->pUnk)
        to->pUnk->AddRef();
    return true;
}
