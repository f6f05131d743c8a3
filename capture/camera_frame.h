#ifndef CLOAKCAM_CAPTURE_CAMERA_FRAME_H
#define CLOAKCAM_CAPTURE_CAMERA_FRAME_H

// The camera's latest picture as the Sample Grabber hands it over, and how
// it lies; brought into the program's picture only when a new one came.

#include <vector>

#include "capture/directshow.h"
#include "capture/frame_layout.h"

class CameraFrame {
  public:
    // Takes the layout of the grabber's connected type for pictures drawn
    // width x height, and makes room for one of them; false when the type
    // cannot be read. Called when the graph is built, never per picture.
    bool learn(ISampleGrabber *grabber, int width, int height);
    // The graph is gone: nothing is fetched until learn is called again.
    void forget();

    // Fetches the grabber's picture into `picture` (width x height, packed,
    // bottom-up BGR) when `samples`, the grabber's count, says a new one
    // came; its size goes to `pictureSize`. True when `picture` holds a
    // camera's picture, new or not; false until the first one came.
    bool fetch(ISampleGrabber *grabber, unsigned long samples, unsigned char *picture,
               LONG *pictureSize);

    // The length of the camera's latest picture while it fits no size of its
    // format, neither its connected type's nor another it could have sent
    // (such pictures are not shown); 0 otherwise.
    long unreadableBytes() const { return unreadableBytes_; }

  private:
    bool drawnAsIs() const;
    // After a picture of `bytes` bytes, another length than expected: true
    // when a new layout is taken, the connected type's if it changed,
    // otherwise one of the same format found from the length.
    bool relearn(ISampleGrabber *grabber, long bytes);
    void take(const FrameLayout &layout);

    FrameLayout layout_{PixelFormat::Rgb24, 0, 0, false, 0};
    int width_ = 0;
    int height_ = 0;
    bool known_ = false;
    bool fetched_ = false;
    unsigned long samplesFetched_ = 0;
    long unreadableBytes_ = 0;
    // A picture of the camera's own size and format, before it is converted.
    std::vector<unsigned char> camera_;
};

#endif
