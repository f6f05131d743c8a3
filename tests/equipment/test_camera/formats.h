#ifndef CLOAKCAM_TEST_CAMERA_FORMATS_H
#define CLOAKCAM_TEST_CAMERA_FORMATS_H

// The picture formats a test camera offers, read from the text it was
// registered with ("RGB24 320x240, NV12 640x480, RGB24 160x120-1920x1080/8";
// the first is its own, the word "vih2" describes them all with
// VIDEOINFOHEADER2), and the DirectShow media types that describe them. The
// subtypes: RGB24, RGB32, YUY2, UYVY, NV12, I420, IYUV and Y41P. A camera's
// audio pin has a format of its own, PCM.

#include "capture/pins_and_types.h"
#include "com.h"

#include <string>
#include <vector>

struct Format {
    GUID subtype;
    // The size, or the largest size of a range.
    LONG width;
    LONG height;
    WORD bitCount;
    DWORD compression;
    bool videoInfo2 = false;
    // A range of sizes: any from the smallest to the largest on the steps.
    // Zero steps: one size.
    SIZE smallest = {};
    SIZE step = {};

    DWORD imageSize() const;
    bool isAudio() const;
    // The format at one size of its range.
    Format at(LONG width, LONG height) const;
};

// Formats not understood are left out; no format at all gives RGB24 320x240.
std::vector<Format> parseFormats(const std::wstring &text);
// True when the comma-separated text holds `word` as one of its items.
bool hasWord(const std::wstring &text, const wchar_t *word);
// The item after `prefix` ("port=" gives "2" from "port=2"), or "".
std::wstring wordAfter(const std::wstring &text, const wchar_t *prefix);
// The format of an audio pin: 16-bit stereo PCM at 44.1 kHz.
Format audioFormat();

// Fills `type` with a media type of `format` (of a range: at its largest
// size), its format block allocated with CoTaskMemAlloc. False when out of
// memory.
bool describe(const Format &format, AM_MEDIA_TYPE *type);
// The same, allocated as a whole for a caller to free (GetFormat, GetStreamCaps).
AM_MEDIA_TYPE *newMediaType(const Format &format);
// True when `type` is one of the sizes `capability` offers: the subtype,
// format block, bit count, compression and image size all agree. `fitted`
// receives the format at that size.
bool fits(const AM_MEDIA_TYPE &type, const Format &capability, Format *fitted);
// True when `type` leaves open or agrees with the format of fixed size
// `format`: an intelligent connect proposes partial types.
bool allows(const AM_MEDIA_TYPE &type, const Format &format);
bool copyMediaType(const AM_MEDIA_TYPE &from, AM_MEDIA_TYPE *to);

#endif
