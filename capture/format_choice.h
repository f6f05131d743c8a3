#ifndef CLOAKCAM_CAPTURE_FORMAT_CHOICE_H
#define CLOAKCAM_CAPTURE_FORMAT_CHOICE_H

// Which of the formats a camera offers the program asks it for.

#include <vector>

#include "capture/directshow.h"

struct OfferedFormat {
    GUID subtype;
    int width;
    int height; // as the camera gives it; negative for top-down rows
};

// The camera's own subtype at width x height, else the nearest size it has in
// that subtype; the nearest size in any subtype when its own is not among
// them. -1 when nothing is offered. Asking for a type the camera lists, never
// one put together here, is what drivers accept.
int chooseFormat(const std::vector<OfferedFormat> &offered, const GUID &current, int width,
                 int height);

#endif
