#ifndef CLOAKCAM_APP_FRAME_H
#define CLOAKCAM_APP_FRAME_H

// The picture the program works on and shows: 320 x 240, indexed row by row
// from the top left.
constexpr int frameWidth = 320;
constexpr int frameHeight = 240;
constexpr int framePixels = frameWidth * frameHeight;

#endif
