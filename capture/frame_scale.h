#ifndef CLOAKCAM_CAPTURE_FRAME_SCALE_H
#define CLOAKCAM_CAPTURE_FRAME_SCALE_H

// Pictures of another size than the program draws, brought to its size.

// How a camera's RGB24 pictures are laid out: rows padded to four bytes,
// bottom row first unless the platform says top-down (a negative height).
struct FrameLayout {
    int width;
    int height;
    bool topDown;

    long rowBytes() const { return (width * 3L + 3) & ~3L; }
    long bytes() const { return rowBytes() * height; }
};

// Stretches a picture laid out as `source` over a packed, bottom-up BGR
// picture of width x height at `target`, taking the nearest source pixel.
// Reads nothing past frameSize bytes; rows the frame does not reach are black.
void scaleFrame(const unsigned char *frame, long frameSize, const FrameLayout &source,
                unsigned char *target, int width, int height);

#endif
