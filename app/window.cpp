#include "app/window.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/loop.h"

#ifdef CLOAKCAM_X11
#include <X11/Xlib.h>
#endif
#ifdef _WIN32
#include <SDL_syswm.h>
#include <windows.h>

#include "common/utf8.h"
#endif

#ifndef _WIN32
// The 48x48 icon, red, green, blue and alpha bytes row by row; generated
// from data/icons at configure time.
extern const unsigned char windowIconPixels[];
#endif

namespace {

// SDL 1.2 on Windows makes its own icon 256 colours and a 1-bit mask; the
// program's resource (windows/cloakcam.rc) gives the window its icon there.
void setIcon() {
#ifndef _WIN32
    const int size = 48;
#if SDL_BYTEORDER == SDL_LIL_ENDIAN
    const Uint32 r = 0x000000FF, g = 0x0000FF00, b = 0x00FF0000, a = 0xFF000000;
#else
    const Uint32 r = 0xFF000000, g = 0x00FF0000, b = 0x0000FF00, a = 0x000000FF;
#endif
    SDL_Surface *icon = SDL_CreateRGBSurfaceFrom(const_cast<unsigned char *>(windowIconPixels),
                                                 size, size, 32, size * 4, r, g, b, a);
    if (icon == nullptr)
        return;
    SDL_WM_SetIcon(icon, nullptr);
    SDL_FreeSurface(icon);
#endif
}

// SDL2 under sdl12-compat marks its window a transient of the root window
// when the X server has never heard of the Motif hints atom, as on a server
// without a window manager yet; some window managers then keep the window
// off the task bar. Once the atom exists, SDL2 sets the hints instead.
void keepTopLevel() {
#ifdef CLOAKCAM_X11
    // Only where SDL draws through X: elsewhere DISPLAY may name a server
    // that takes long to answer, or none.
    char driver[16] = "";
    if (SDL_VideoDriverName(driver, sizeof driver) == nullptr || std::strcmp(driver, "x11") != 0)
        return;
    Display *display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return;
    XInternAtom(display, "_MOTIF_WM_HINTS", False);
    XCloseDisplay(display);
#endif
}

} // namespace

void nameWindowClass() {
#ifndef _WIN32
    setenv("SDL_VIDEO_X11_WMCLASS", "cloakcam", 0);
#endif
}

SDL_Surface *openWindow(int width, int height) {
    setIcon();
    keepTopLevel();
    SDL_Surface *screen = SDL_SetVideoMode(width, height, 16, 0);
    if (screen != nullptr) {
        SDL_WM_SetCaption("cloakcam", nullptr);
        // Built once: the window is made once and keeps its format.
        prepareColourTables(screen->format);
    }
    return screen;
}

void TitleBar::show(const std::string &title) {
    if (title == shown_)
        return;
    shown_ = title;
    SDL_WM_SetCaption(shown_.c_str(), nullptr);
#ifdef _WIN32
    // SDL 1.2 sets the title through the ANSI code page, where a camera's
    // name may have no characters; the window takes it whole in UTF-16.
    // SDL's window procedure is an ANSI one, which SetWindowTextW would
    // reach through the code page all the same, so the default procedure
    // stores the text itself.
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWMInfo(&info) > 0) {
        const std::wstring wide = wideFromUtf8(shown_);
        DefWindowProcW(info.window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    }
#endif
}
