#include "app/loop.h"

#include <cstdint>

#include "app/effect.h"
#include "app/screen.h"
#include "capture/video_image.h"

namespace {

bool userQuits(const SDL_Event &event) {
    return event.type == SDL_QUIT ||
           (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE);
}

// SDL_MapRGB's answer for each value of each component alone. Without a
// palette, a colour's pixel value is the three put together, which is
// checked against SDL_MapRGB itself when the tables are built; sdl12-compat
// rebuilds its format information on every SDL_MapRGB call, which cost a
// third of a pass.
struct ColourTables {
    bool usable = false;
    Uint32 red[256];
    Uint32 green[256];
    Uint32 blue[256];
};

ColourTables colourTables;

bool tablesAgree(SDL_PixelFormat *format) {
    for (int r = 0; r < 256; r += 17)
        for (int g = 0; g < 256; g += 17)
            for (int b = 0; b < 256; b += 17)
                if ((colourTables.red[r] | colourTables.green[g] | colourTables.blue[b]) !=
                    SDL_MapRGB(format, Uint8(r), Uint8(g), Uint8(b)))
                    return false;
    return true;
}

Uint32 tableColour(const Pixel &p) {
    return colourTables.red[Uint8(p.r)] | colourTables.green[Uint8(p.g)] |
           colourTables.blue[Uint8(p.b)];
}

} // namespace

void prepareColourTables(SDL_PixelFormat *format) {
    for (int v = 0; v < 256; ++v) {
        colourTables.red[v] = SDL_MapRGB(format, Uint8(v), 0, 0);
        colourTables.green[v] = SDL_MapRGB(format, 0, Uint8(v), 0);
        colourTables.blue[v] = SDL_MapRGB(format, 0, 0, Uint8(v));
    }
    colourTables.usable = format->palette == nullptr && tablesAgree(format);
}

void drawEffect(SDL_Surface *screen, Pixel **pixels) {
    // A row at a time: the effect goes through the row, then the row is drawn
    // left to right. Every pixel is still drawn after its own effect step and
    // in index order, and no step reads what another writes, so the records,
    // levels and screen end exactly as with one pixel at a time.
    // A copy the compiler knows no pixel store can reach: stored through
    // screen itself, every pixel would read the surface's fields again.
    SDL_Surface target = *screen;
    int y = 0;
    for (int32_t first = 0; first < numPixels; first += frameWidth, ++y) {
        const int count = numPixels - first < frameWidth ? int(numPixels - first) : frameWidth;
        applyEffectRow(pixels, first, count);
        Pixel *const *row = pixels + first;
        if (colourTables.usable) {
            for (int x = 0; x < count; ++x)
                putPixel16(&target, x, y, tableColour(*row[x]));
        } else {
            for (int x = 0; x < count; ++x)
                putPixel16(&target, x, y,
                           SDL_MapRGB(target.format, Uint8(row[x]->r), Uint8(row[x]->g),
                                      Uint8(row[x]->b)));
        }
    }
}

bool quitPending() {
    SDL_PumpEvents();
    SDL_Event pending[32];
    const int found = SDL_PeepEvents(pending, 32, SDL_PEEKEVENT, SDL_QUITMASK | SDL_KEYDOWNMASK);
    for (int k = 0; k < found; ++k) {
        if (userQuits(pending[k])) {
            return true;
        }
    }
    return false;
}

bool runPass(SDL_Surface *screen, getVideoImage &video, Pixel **pixels) {
    countPass();

    SDL_Event event;
    bool keyDown = false;
    if (SDL_PollEvent(&event)) {
        if (userQuits(event)) {
            return false;
        }
        keyDown = event.type == SDL_KEYDOWN;
    }

    video.updateImage();
    takeReferenceWhenDue(pixels, keyDown, video.newSource());

    drawEffect(screen, pixels);
    SDL_UpdateRect(screen, 0, 0, 0, 0);
    return true;
}
