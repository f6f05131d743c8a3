#ifndef CLOAKCAM_APP_WINDOW_H
#define CLOAKCAM_APP_WINDOW_H

// The window as the desktop sees it: a plain top-level window of the
// program's own class, with its icon, and a title that says what is shown.

#include <SDL.h>

#include <string>

// Before SDL starts: the window class that the desktop entry names, unless
// the user chose another.
void nameWindowClass();

// Opens the window, width by height in 16 bits, titled "cloakcam", with the
// colour tables built for its surface; null, with SDL's error set, when it
// cannot.
SDL_Surface *openWindow(int width, int height);

// The window's title, set only when it changes: a pass costs a comparison.
class TitleBar {
  public:
    void show(const std::string &title);

  private:
    std::string shown_;
};

#endif
