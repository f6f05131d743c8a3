#ifndef CLOAKCAM_APP_LOOP_H
#define CLOAKCAM_APP_LOOP_H

#include <SDL.h>

#include "common/pixel.h"

// Only named here: the capture object's header brings COM with it.
class getVideoImage;

// Whether Escape or a window close is waiting among the pending events. Looks
// without taking anything: the passes still handle each event in turn.
bool quitPending();

// One pass of the main loop: counts it, handles at most one pending event,
// fetches the camera frame, takes the reference on the 20th pass showing the
// current source (or the pass in which a key other than Escape went down),
// and draws the effect on screen. Returns false, without fetching or
// drawing, when the user asked to quit.
bool runPass(SDL_Surface *screen, getVideoImage &video, Pixel **pixels);

// Builds the colour tables drawEffect stores colours with, for surfaces of
// `format`: once, when the surface is made. Until then, and for a format
// with a palette, drawEffect asks SDL for every colour.
void prepareColourTables(SDL_PixelFormat *format);

// The drawing half of a pass: applies the effect to every record, in index
// order, and stores each result's colour at its place on the 16-bit screen.
// The screen is not updated.
void drawEffect(SDL_Surface *screen, Pixel **pixels);

#endif
