#include <SDL.h>

#include <cstdio>
#include <cstdlib>

#include "app/effect.h"
#include "app/loop.h"
#include "capture/video_image.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif
#ifdef CLOAKCAM_X11
#include <X11/Xlib.h>
#endif

namespace {

// SDL tries one video driver after another, and the libraries behind some of
// them write complaints of their own on stderr when they find no display. The
// program reports a missing window itself, in one line, so their chatter is
// dropped while SDL starts.
int startVideo() {
#ifdef _WIN32
    return SDL_Init(SDL_INIT_VIDEO);
#else
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int sink = open("/dev/null", O_WRONLY);
    const bool muted = saved >= 0 && sink >= 0 && dup2(sink, STDERR_FILENO) >= 0;
    const int result = SDL_Init(SDL_INIT_VIDEO);
    if (muted) {
        dup2(saved, STDERR_FILENO);
    }
    if (saved >= 0) {
        close(saved);
    }
    if (sink >= 0) {
        close(sink);
    }
    return result;
#endif
}

#ifdef CLOAKCAM_X11
// When the X server goes away (the session ends, the server dies), Xlib's own
// handler calls exit(), whose SDL_Quit then waits for that server for ever and
// leaves the program spinning. End at once instead, with one line.
int displayLost(Display *) {
    static const char message[] = "cloakcam: the display went away\n";
    const ssize_t written = write(STDERR_FILENO, message, sizeof message - 1);
    (void)written;
    _exit(1);
}
#endif

int cannotOpenWindow(const char *reason) {
    std::fprintf(stderr, "cloakcam: cannot open a window: %s\n", reason);
    return 1;
}

} // namespace

// The signature stays exactly this so that SDLmain can take over main on
// Windows.
int main(int argc, char *argv[]) {
    (void)argc;
    (void)argv;

    if (startVideo() < 0) {
        return cannotOpenWindow(SDL_GetError());
    }
    std::atexit(SDL_Quit);
#ifdef CLOAKCAM_X11
    XSetIOErrorHandler(displayLost);
#endif

    // Without a display SDL quietly picks a driver that draws nowhere, and the
    // program would run unseen; refuse before the camera is started.
    char driver[64] = "";
    if (SDL_VideoDriverName(driver, sizeof driver) != nullptr &&
        invisibleDriverNotRequested(driver, std::getenv("SDL_VIDEODRIVER"))) {
        return cannotOpenWindow(
            "no display found (set DISPLAY, or SDL_VIDEODRIVER=dummy to run without one)");
    }

    SDL_Surface *screen = SDL_SetVideoMode(frameWidth, frameHeight, 16, 0);
    if (screen == nullptr) {
        return cannotOpenWindow(SDL_GetError());
    }
    SDL_WM_SetCaption("cloakcam", nullptr);
    // Mouse movement means nothing here. Left on, a mouse moved over the
    // window while passes are slow fills SDL 1.2's event queue (128 events),
    // which then drops what comes next, an Escape among them.
    SDL_EventState(SDL_MOUSEMOTION, SDL_IGNORE);

    getVideoImage video(frameWidth, frameHeight);
    Pixel **pixels = video.getImage();
    clearReference();

    while (runPass(screen, video, pixels)) {
    }
    return 0;
}
