#ifndef CLOAKCAM_TEST_CAMERA_PICTURE_H
#define CLOAKCAM_TEST_CAMERA_PICTURE_H

// The test camera's picture: four coloured quarters, red top left, green top
// right, blue bottom left and white bottom right, so that a screenshot shows
// whether the picture is upright, mirrored and in its colours. A picture
// wider than 4:3 has magenta bands over what a centred 4:3 crop leaves out,
// so that a screenshot shows whether it was cropped or squashed. YUV formats
// carry the colours in BT.601 video range, as cameras send them. The other
// picture, a one-pixel black and white checkerboard, is grey to a program
// that averages when it shrinks and noise to one that skips pixels.

#include "formats.h"

enum class Pattern { Quarters, Checker };

// Draws the picture into `data`, which holds format.imageSize() bytes. A
// format nobody converts gets a flat grey.
void drawPicture(const Format &format, Pattern pattern, BYTE *data);

#endif
