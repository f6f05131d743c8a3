#include "formats.h"

#include <cwchar>

namespace {

constexpr REFERENCE_TIME frameDuration = 10000000 / 30;

bool formatFromWords(const std::wstring &words, Format *format) {
    wchar_t name[16] = {};
    long width = 0, height = 0;
    if (std::swscanf(words.c_str(), L" %15ls %ldx%ld", name, &width, &height) != 3 || width <= 0 ||
        height <= 0 || width > 4096 || height > 4096)
        return false;
    format->width = width;
    format->height = height;
    if (std::wcscmp(name, L"RGB24") == 0) {
        *format = {MEDIASUBTYPE_RGB24, width, height, 24, BI_RGB};
        return true;
    }
    if (std::wcscmp(name, L"YUY2") == 0) {
        *format = {MEDIASUBTYPE_YUY2, width, height, 16, MAKEFOURCC('Y', 'U', 'Y', '2')};
        return true;
    }
    return false;
}

bool sameOrOpen(const GUID &asked, const GUID &offered) {
    return asked == GUID_NULL || asked == offered;
}

} // namespace

DWORD Format::imageSize() const {
    // RGB rows are padded to four bytes; YUY2 rows of even width need none.
    const DWORD stride = (static_cast<DWORD>(width) * bitCount / 8 + 3) & ~3u;
    return stride * static_cast<DWORD>(height);
}

std::vector<Format> parseFormats(const std::wstring &text) {
    std::vector<Format> formats;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L',', start);
        if (end == std::wstring::npos)
            end = text.size();
        Format format;
        if (formatFromWords(text.substr(start, end - start), &format))
            formats.push_back(format);
        start = end + 1;
    }
    if (formats.empty())
        formats.push_back({MEDIASUBTYPE_RGB24, 320, 240, 24, BI_RGB});
    return formats;
}

bool describe(const Format &format, AM_MEDIA_TYPE *type) {
    *type = {};
    auto *info = static_cast<VIDEOINFOHEADER *>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    if (!info)
        return false;
    *info = {};
    info->rcSource = {0, 0, format.width, format.height};
    info->rcTarget = info->rcSource;
    info->dwBitRate = format.imageSize() * 8 * 30;
    info->AvgTimePerFrame = frameDuration;
    info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info->bmiHeader.biWidth = format.width;
    info->bmiHeader.biHeight = format.height;
    info->bmiHeader.biPlanes = 1;
    info->bmiHeader.biBitCount = format.bitCount;
    info->bmiHeader.biCompression = format.compression;
    info->bmiHeader.biSizeImage = format.imageSize();
    type->majortype = MEDIATYPE_Video;
    type->subtype = format.subtype;
    type->bFixedSizeSamples = TRUE;
    type->lSampleSize = format.imageSize();
    type->formattype = FORMAT_VideoInfo;
    type->cbFormat = sizeof(VIDEOINFOHEADER);
    type->pbFormat = reinterpret_cast<BYTE *>(info);
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

bool isExactly(const AM_MEDIA_TYPE &type, const Format &format) {
    if (type.majortype != MEDIATYPE_Video || type.subtype != format.subtype ||
        type.formattype != FORMAT_VideoInfo || !type.pbFormat ||
        type.cbFormat < sizeof(VIDEOINFOHEADER))
        return false;
    const BITMAPINFOHEADER &header =
        reinterpret_cast<const VIDEOINFOHEADER *>(type.pbFormat)->bmiHeader;
    return header.biWidth == format.width && header.biHeight == format.height &&
           header.biBitCount == format.bitCount && header.biCompression == format.compression &&
           header.biSizeImage == format.imageSize();
}

bool allows(const AM_MEDIA_TYPE &type, const Format &format) {
    if (!sameOrOpen(type.majortype, MEDIATYPE_Video) || !sameOrOpen(type.subtype, format.subtype) ||
        !sameOrOpen(type.formattype, FORMAT_VideoInfo))
        return false;
    return !type.pbFormat || isExactly(type, format);
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

void freeMediaTypeContents(AM_MEDIA_TYPE *type) {
    CoTaskMemFree(type->pbFormat);
    type->pbFormat = nullptr;
    type->cbFormat = 0;
    if (type->pUnk)
        type->pUnk->Release();
    type->pUnk = nullptr;
}

void deleteMediaType(AM_MEDIA_TYPE *type) {
    if (!type)
        return;
    freeMediaTypeContents(type);
    CoTaskMemFree(type);
}
