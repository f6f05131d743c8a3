#ifndef CLOAKCAM_CAPTURE_MEDIA_TYPE_H
#define CLOAKCAM_CAPTURE_MEDIA_TYPE_H

// What the program does with DirectShow media types, on any system.

#include "capture/directshow.h"

// The picture header of a video type, whichever of the two video format
// blocks it has; null for any other.
BITMAPINFOHEADER *bitmapHeader(const AM_MEDIA_TYPE &type);

// Makes a type ask for width x height, which a capability describing a range
// allows: the picture header's size and image size follow, and the
// rectangles are left empty, which means the whole picture.
void resize(AM_MEDIA_TYPE &type, int width, int height);

// The frame interval a video type shows, in 100 ns units; zero for none.
REFERENCE_TIME frameInterval(const AM_MEDIA_TYPE &type);

// Makes a video type ask for frames `interval` apart; zero leaves it as it is.
void setFrameInterval(AM_MEDIA_TYPE &type, REFERENCE_TIME interval);

#endif
