#ifndef CLOAKCAM_TEST_CAMERA_PICTURE_H
#define CLOAKCAM_TEST_CAMERA_PICTURE_H

// The test camera's picture: four coloured quarters, red top left, green top
// right, blue bottom left and white bottom right, so that a screenshot shows
// whether the picture is upright, mirrored and in its colours.

#include "formats.h"

// Draws the picture into `data`, which holds format.imageSize() bytes.
void drawQuarters(const Format &format, BYTE *data);

#endif
