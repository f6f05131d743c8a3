#include <SDL.h>

#include <cstdio>
#include <cstdlib>

#include "app/effect.h"
#include "app/loop.h"
#include "capture/video_image.h"

namespace {

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

    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        return cannotOpenWindow(SDL_GetError());
    }
    std::atexit(SDL_Quit);

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

    getVideoImage video(frameWidth, frameHeight);
    Pixel **pixels = video.getImage();
    clearReference();

    while (runPass(screen, video, pixels)) {
    }
    return 0;
}
