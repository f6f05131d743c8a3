#include "capture/picture_source.h"

bool PictureSource::shown(bool pattern, const std::string &cameraPath) {
    // Compared before anything is copied: the same source, pass after pass,
    // costs no allocation.
    if (any_ && pattern == pattern_ && (pattern || cameraPath == cameraPath_))
        return false;
    any_ = true;
    pattern_ = pattern;
    cameraPath_ = pattern ? std::string() : cameraPath;
    return true;
}
