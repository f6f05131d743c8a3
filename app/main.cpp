#include <SDL.h>

#include "app/effect.h"
#include "app/loop.h"
#include "app/process_guard.h"
#include "app/startup.h"
#include "app/window.h"
#include "capture/video_image.h"

// The signature stays exactly this so that SDLmain can take over main on
// Windows.
int main(int argc, char *argv[]) {
    (void)argc;
    (void)argv;

    SDL_Surface *screen = startUp(frameWidth, frameHeight);
    if (screen == nullptr) {
        return 1;
    }

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
