#ifndef CLOAKCAM_APP_STARTUP_H
#define CLOAKCAM_APP_STARTUP_H

// Everything that happens before the window opens: the process made safe
// against hostile surroundings, SDL started quietly on a display the user can
// see, and the window opened.

#include <SDL.h>

#include <string>

// Starts the process, SDL and the window, width by height; null after telling
// the user why when the program cannot go on. SDL_Quit then runs at exit.
SDL_Surface *startUp(int width, int height);

// Whether the video driver SDL picked shows nothing on screen although the
// user did not ask for it in SDL_VIDEODRIVER (requested may be null). Without
// a display SDL falls back to such a driver instead of failing.
bool invisibleDriverNotRequested(const char *driver, const char *requested);

// Why no window could be opened when SDL found no display to show it on;
// `display` is the DISPLAY the user set, or null.
std::string noDisplayReason(const char *display);

#endif
