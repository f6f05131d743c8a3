#ifndef CLOAKCAM_TEST_CAMERA_FORMATS_H
#define CLOAKCAM_TEST_CAMERA_FORMATS_H

// The picture formats a test camera offers, read from the text it was
// registered with ("RGB24 320x240, YUY2 640x480"; the first is its own), and
// the DirectShow media types that describe them.

#include "com.h"

#include <string>
#include <vector>

struct Format {
    GUID subtype;
    LONG width;
    LONG height;
    WORD bitCount;
    DWORD compression;
    DWORD imageSize() const;
};

// Formats not understood are left out; no format at all gives RGB24 320x240.
std::vector<Format> parseFormats(const std::wstring &text);

// Fills `type` with a media type of `format`, its format block allocated with
// CoTaskMemAlloc. False when out of memory.
bool describe(const Format &format, AM_MEDIA_TYPE *type);
// The same, allocated as a whole for a caller to free (GetFormat, GetStreamCaps).
AM_MEDIA_TYPE *newMediaType(const Format &format);
// True when `type` is exactly `format`: the subtype, size, bit count,
// compression and image size all agree.
bool isExactly(const AM_MEDIA_TYPE &type, const Format &format);
// True when `type` leaves open or agrees with what `format` is: an
// intelligent connect proposes partial types.
bool allows(const AM_MEDIA_TYPE &type, const Format &format);
bool copyMediaType(const AM_MEDIA_TYPE &from, AM_MEDIA_TYPE *to);
void freeMediaTypeContents(AM_MEDIA_TYPE *type);
void deleteMediaType(AM_MEDIA_TYPE *type);

#endif
