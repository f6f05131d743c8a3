#ifndef CLOAKCAM_CAPTURE_FORMAT_CHOICE_H
#define CLOAKCAM_CAPTURE_FORMAT_CHOICE_H

// In which order the program asks a camera for the formats it offers.

#include <string>
#include <vector>

#include "capture/directshow.h"

// One capability of a camera: a size, or a range of sizes on a granularity
// (capture cards and virtual cameras describe theirs so).
struct OfferedFormat {
    GUID subtype;
    int width;
    int height; // as the camera gives it; negative for top-down rows
    int minWidth = 0, minHeight = 0, maxWidth = 0, maxHeight = 0;
    int stepX = 0, stepY = 0; // zero for a single size
    // The shortest frame interval, in 100 ns units; zero when the camera
    // says nothing of its rate.
    REFERENCE_TIME fastest = 0;
    REFERENCE_TIME slowest = 0; // the longest; zero when not said

    bool isRange() const { return maxWidth > minWidth || maxHeight > minHeight; }
};

// A format to ask for: which capability, at which size.
struct FormatTry {
    int index;
    int width;
    int height;              // positive
    REFERENCE_TIME interval; // to ask for; zero leaves the camera's own
};

// Every usable capability, in the order to try them, each at its fastest
// rate up to 30 frames a second. Those below the floor of 15 frames a second (24 where the camera
// gives that at a size that fills width x height) come last. Then sizes of
// the window's shape before others, those that fill width x height before
// those too small; then the cheapest: raw formats up to 640x480, then MJPG,
// then larger raw and other formats; RGB24 first among equals (Windows
// converts to it where it can), the fewest pixels beyond the window's, and
// the camera's own order. A range gives width x height itself where its
// granularity allows.
std::vector<FormatTry> rankFormats(const std::vector<OfferedFormat> &offered, int width,
                                   int height);

// The subtypes to ask the grabber for, in turn, for a camera sending
// `subtype`: motion JPEG as a decoder's YUV, which the program brings to the
// window's size itself, before RGB24; others as RGB24 first, then as they
// come when the program reads them.
std::vector<GUID> grabberSubtypes(const GUID &subtype);

// "YUY2", "RGB24", a four-character code, or "unknown".
std::string subtypeName(const GUID &subtype);

// The offered formats for a user to read: "YUY2 640x480, RGB24 160x120 to 1920x1080".
std::string describeFormats(const std::vector<OfferedFormat> &offered);

#endif
