#ifndef CLOAKCAM_CAPTURE_PICTURE_SOURCE_H
#define CLOAKCAM_CAPTURE_PICTURE_SOURCE_H

// Where the pictures on screen come from: the test pattern or a camera, known
// by its path. A reference taken of one source shows nothing of another, so
// whoever keeps one needs to know when the pictures start coming from a
// different source, the very first picture included.

#include <string>

class PictureSource {
  public:
    // A picture from the pattern, or else from the camera at `cameraPath`, is
    // shown; true when the picture shown before it came from another source
    // or there was none.
    bool shown(bool pattern, const std::string &cameraPath);

  private:
    bool any_ = false;
    bool pattern_ = false;
    std::string cameraPath_;
};

#endif
