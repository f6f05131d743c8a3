#ifndef CLOAKCAM_STAND_IN_DVDMEDIA_H
#define CLOAKCAM_STAND_IN_DVDMEDIA_H

// VIDEOINFOHEADER2, which decoders and newer drivers describe pictures with,
// with the fields in Windows' order.

#include <dshow.h>

struct VIDEOINFOHEADER2 {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    DWORD dwInterlaceFlags;
    DWORD dwCopyProtectFlags;
    DWORD dwPictAspectRatioX;
    DWORD dwPictAspectRatioY;
    DWORD dwControlFlags;
    DWORD dwReserved2;
    BITMAPINFOHEADER bmiHeader;
};

#endif
