#include "app/startup.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/process_guard.h"
#include "app/window.h"
#include "common/message.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif
#ifdef CLOAKCAM_X11
#include <X11/Xlib.h>
#endif

namespace {

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

#ifdef CLOAKCAM_X11
// When the X server goes away (the session ends, the server dies), Xlib's own
// handler calls exit(), whose SDL_Quit then waits for that server for ever and
// leaves the program spinning. End at once instead, with one line. Installed
// before SDL starts, since the server may go while it does. Xlib calls it as
// an ordinary function, not from a signal, so it may allocate.
int displayLost(Display *) {
    tellUser("the display went away");
    _exit(1);
}

// Xlib's own handler prints a many-line dump and exits. The one error a user
// can cause is another program destroying the window (xdotool windowclose, a
// window manager gone astray): the window is gone, as if closed, so the
// program ends as a quit does. Anything else is reported as what it is.
int requestRefused(Display *, XErrorEvent *error) {
    if (error->error_code == BadDrawable || error->error_code == BadWindow) {
        tellUser("the window was closed from outside");
        _exit(0);
    }
    tellUser("the display refused a request (X error " + std::to_string(error->error_code) + ")");
    _exit(1);
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
        sendMessagesTo(saved);
    }
    const int result = SDL_Init(SDL_INIT_VIDEO);
    if (muted) {
        dup2(saved, STDERR_FILENO);
        sendMessagesTo(STDERR_FILENO);
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

// Without a display SDL quietly picks a driver that draws nowhere, and the
// program would run unseen.
bool drawsNowhere() {
    char driver[64] = "";
    return SDL_VideoDriverName(driver, sizeof driver) != nullptr &&
           invisibleDriverNotRequested(driver, std::getenv("SDL_VIDEODRIVER"));
}

SDL_Surface *cannotOpenWindow(const std::string &reason) {
    tellUser("cannot open a window: " + reason);
    return nullptr;
}

// SDL matches driver names ignoring case.
bool sameName(const char *a, size_t aLength, const char *b) {
    if (std::strlen(b) != aLength) {
        return false;
    }
    for (size_t k = 0; k < aLength; ++k) {
        if (std::tolower(static_cast<unsigned char>(a[k])) !=
            std::tolower(static_cast<unsigned char>(b[k]))) {
            return false;
        }
    }
    return true;
}

// SDL_VIDEODRIVER may name several drivers separated by commas.
bool listed(const char *name, const char *list) {
    for (const char *entry = list; *entry != '\0';) {
        const char *end = std::strchr(entry, ',');
        const size_t entryLength = end ? size_t(end - entry) : std::strlen(entry);
        if (sameName(entry, entryLength, name)) {
            return true;
        }
        entry += entryLength;
        if (*entry == ',') {
            ++entry;
        }
    }
    return false;
}

} // namespace

SDL_Surface *startUp(int width, int height) {
    reopenClosedStandardStreams();
    ignoreBrokenPipes();
    writeUtf8ToConsole();
    const std::string limits = checkResourceLimits();
    if (!limits.empty()) {
        tellUser(limits);
        return nullptr;
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

    // Refused before the camera is started.
    if (drawsNowhere()) {
        return cannotOpenWindow(noDisplayReason(std::getenv("DISPLAY")));
    }

    SDL_Surface *screen = openWindow(width, height);
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
    return screen;
}

bool invisibleDriverNotRequested(const char *driver, const char *requested) {
    static const char *const invisible[] = {"offscreen", "dummy", "evdev"};
    bool showsNothing = false;
    for (const char *name : invisible) {
        showsNothing = showsNothing || sameName(driver, std::strlen(driver), name);
    }
    return showsNothing && !(requested && listed(driver, requested));
}

std::string noDisplayReason(const char *display) {
    const char *dummy = "SDL_VIDEODRIVER=dummy to run without one";
    if (display && *display)
        return std::string("cannot reach display ") + display +
               " (is its X server running? Or set " + dummy + ")";
    return std::string("no display found (set DISPLAY, or ") + dummy + ")";
}
