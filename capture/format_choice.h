#ifndef CLOAKCAM_CAPTURE_FORMAT_CHOICE_H
#define CLOAKCAM_CAPTURE_FORMAT_CHOICE_H

// In which order the program asks a camera for the formats it offers.

#include <string>
#include <vector>

#include "common/directshow.h"

// One capability of a camera: a size, or a range of sizes on a granularity
// (capture cards and virtual cameras describe theirs so).
struct OfferedFormat {
    GUID subtype;
    int width;
    int height; // as the camera gives it; negative for top-down rows
    int minWidth = 0, minHeight = 0, maxWidth = 0, maxHeight = 0;
    int stepX = 0, stepY = 0; // zero for a single size

    bool isRange() const { return maxWidth > minWidth || maxHeight > minHeight; }
};

// A format to ask for: which capability, at which size.
struct FormatTry {
    int index;
    int width;
    int height; // positive
};

// Every usable capability, in the order to try them: RGB24 first (Windows
// converts to it where it can), then the other subtypes in the camera's own
// order of them. Within a subtype, sizes of the window's shape before others,
// and of those the smallest that fills width x height, else the largest; a
// range gives width x height itself where its granularity allows.
std::vector<FormatTry> rankFormats(const std::vector<OfferedFormat> &offered, int width,
                                   int height);

// "YUY2", "RGB24", a four-character code, or "unknown".
std::string subtypeName(const GUID &subtype);

// The offered formats for a user to read: "YUY2 640x480, RGB24 160x120 to 1920x1080".
std::string describeFormats(const std::vector<OfferedFormat> &offered);

#endif
