#ifndef CLOAKCAM_CAPTURE_FRAME_LAYOUT_H
#define CLOAKCAM_CAPTURE_FRAME_LAYOUT_H

// A camera's pictures as they come, in whatever format and size it sends, and
// how they are brought to the picture the program draws.

#include "capture/directshow.h"

// The formats the program turns into its picture itself. Windows converts
// others (MJPG among them) to RGB24 before the program sees them.
enum class PixelFormat { Rgb24, Rgb32, Yuy2, Uyvy, Nv12, I420 };

// Where a picture's bytes lie.
struct FrameLayout {
    PixelFormat format;
    int width;    // pixels shown in a row
    int height;   // rows shown
    bool topDown; // the first row in memory is the top one
    long stride;  // bytes from one row of the first plane to the next
    // Rows the buffer holds in each plane when more than are shown (a decoder
    // pads 1080 to 1088); 0 when they are the rows shown.
    int planeHeight = 0;

    // Rows in memory of the first plane, padding included.
    int rows() const { return planeHeight > height ? planeHeight : height; }
    // Bytes of one whole picture, every plane included.
    long bytes() const;
};

// The format the program converts for `subtype`; false for one it does not.
bool pixelFormatOf(const GUID &subtype, PixelFormat *format);

// How pictures of a connected media type lie, from its VIDEOINFOHEADER or
// VIDEOINFOHEADER2: RGB rows padded to four bytes and bottom-up unless the
// height is negative, YUV rows top-down; a width in the header larger than
// the source rectangle is the stride. False for a type the program cannot
// read or convert.
bool frameLayoutOf(const AM_MEDIA_TYPE &type, FrameLayout *layout);

// The layout of pictures of `bytes` bytes from a camera connected as
// `connected` that sends another size than its type says: the same format,
// with padded rows, then a size of the same shape, then a size cameras
// commonly send. False when none has that many bytes.
bool layoutOfSize(const FrameLayout &connected, long bytes, FrameLayout *layout);

// Brings one picture laid out as `source` to the packed, bottom-up BGR
// picture of width x height at `target` (the form recordsFromBgr reads): the
// centre of the source in the target's shape is taken, the rest cut off, and
// scaled; where it shrinks by two or more in a direction each target pixel
// is the average of the source pixels it covers, otherwise the nearest one.
// YUV is read as BT.601 limited range. Reads
// nothing past frameSize bytes (rows the frame does not reach are black) and
// allocates nothing.
void bgrFromCameraFrame(const unsigned char *frame, long frameSize, const FrameLayout &source,
                        unsigned char *target, int width, int height);

#endif
