#include <SDL.h>

#include <cstdio>
#include <cstdlib>

#include "app/effect.h"
#include "app/loop.h"
#include "app/process_guard.h"
#include "app/window.h"
#include "capture/video_image.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif
#ifdef CLOAKCAM_X11
#include <X11/Xlib.h>
#endif

namespace {

#ifndef _WIN32
// Where the program's own last words go: standard error, except while SDL
// starts, when that is muted and this is a copy of it.
int messageFd = STDERR_FILENO;
#endif

#ifdef CLOAKCAM_X11
// Writes one line from where stdio may not be safe (an Xlib handler).
void sayAtOnce(const char *line, size_t length) {
    const ssize_t written = write(messageFd, line, length);
    (void)written;
}
#endif

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
    if (muted) {
        messageFd = saved;
    }
    const int result = SDL_Init(SDL_INIT_VIDEO);
    if (muted) {
        dup2(saved, STDERR_FILENO);
        messageFd = STDERR_FILENO;
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
// leaves the program spinning. End at once instead, with one line. Installed
// before SDL starts, since the server may go while it does.
int displayLost(Display *) {
    static const char message[] = "cloakcam: the display went away\n";
    sayAtOnce(message, sizeof message - 1);
    _exit(1);
}

// Xlib's own handler prints a many-line dump and exits. The one error a user
// can cause is another program destroying the window (xdotool windowclose, a
// window manager gone astray): the window is gone, as if closed, so the
// program ends as a quit does. Anything else is reported as what it is.
int requestRefused(Display *, XErrorEvent *error) {
    if (error->error_code == BadDrawable || error->error_code == BadWindow) {
        static const char message[] = "cloakcam: the window was closed from outside\n";
        sayAtOnce(message, sizeof message - 1);
        _exit(0);
    }
    char message[96];
    const int length =
        std::snprintf(message, sizeof message,
                      "cloakcam: the display refused a request (X error %d)\n", error->error_code);
    sayAtOnce(message, length > 0 ? size_t(length) : 0);
    _exit(1);
}
#endif

// SDL 1.2 on Linux is usually sdl12-compat over SDL2, which would draw through
// OpenGL. A 320x240 window needs none of it, and the GL drivers are what
// dumps many lines, fails in little address space and crashes when the X
// server dies during start-up: ask for plain X11 drawing, unless the user
// chose otherwise. Classic SDL 1.2 ignores these.
void preferPlainDrawing() {
#ifndef _WIN32
    setenv("SDL12COMPAT_OPENGL_SCALING", "0", 0);
    setenv("SDL_FRAMEBUFFER_ACCELERATION", "0", 0);
    setenv("SDL_RENDER_DRIVER", "software", 0);
#endif
}

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

    reopenClosedStandardStreams();
    ignoreBrokenPipes();
    writeUtf8ToConsole();
    const std::string limits = checkResourceLimits();
    if (!limits.empty()) {
        std::fprintf(stderr, "cloakcam: %s\n", limits.c_str());
        return 1;
    }
    preferPlainDrawing();
    nameWindowClass();
#ifdef CLOAKCAM_X11
    XSetIOErrorHandler(displayLost);
#endif

    if (startVideo() < 0) {
        return cannotOpenWindow(SDL_GetError());
    }
    std::atexit(SDL_Quit);
    // After SDL, whose own SIGTERM handler this replaces.
    catchQuitSignals();

    // Without a display SDL quietly picks a driver that draws nowhere, and the
    // program would run unseen; refuse before the camera is started.
    char driver[64] = "";
    if (SDL_VideoDriverName(driver, sizeof driver) != nullptr &&
        invisibleDriverNotRequested(driver, std::getenv("SDL_VIDEODRIVER"))) {
        return cannotOpenWindow(noDisplayReason(std::getenv("DISPLAY")).c_str());
    }

    SDL_Surface *screen = openWindow(frameWidth, frameHeight);
    if (screen == nullptr) {
        return cannotOpenWindow(SDL_GetError());
    }
#ifdef CLOAKCAM_X11
    XSetErrorHandler(requestRefused);
#endif
    // Mouse movement means nothing here. Left on, a mouse moved over the
    // window while passes are slow fills SDL 1.2's event queue (128 events),
    // which then drops what comes next, an Escape among them.
    SDL_EventState(SDL_MOUSEMOTION, SDL_IGNORE);

    getVideoImage video(frameWidth, frameHeight);
    TitleBar title;
    // A camera can take seconds to start; the window answers a quit meanwhile.
    while (video.awaitingFirstPicture()) {
        title.show(video.title());
        if (quitSignalled() || quitPending()) {
            return 0;
        }
        SDL_Delay(10);
    }
    Pixel **pixels = video.getImage();
    clearReference();

    do {
        title.show(video.title());
    } while (!quitSignalled() && runPass(screen, video, pixels));
    return 0;
}
