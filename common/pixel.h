#ifndef CLOAKCAM_COMMON_PIXEL_H
#define CLOAKCAM_COMMON_PIXEL_H

#include <cstdint>

// One picture element as the program computes with it: each component holds
// 0 to 255 once converted from the camera, but signed arithmetic on it
// (differences, brightening) must not wrap.
struct Pixel {
    int32_t r;
    int32_t g;
    int32_t b;
};

#endif
