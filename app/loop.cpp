#include "app/loop.h"

#include <cctype>
#include <cstdint>
#include <cstring>

#include "app/effect.h"

namespace {

constexpr int32_t referencePass = 20;

bool userQuits(const SDL_Event &event) {
    return event.type == SDL_QUIT ||
           (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE);
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

void clearReference() {
    for (int32_t i = 0; i < numPixels; ++i) {
        snapshot[i] = Pixel{0, 0, 0};
    }
}

void drawEffect(SDL_Surface *screen, Pixel **pixels) {
    // A row at a time: the effect goes through the row, then the row is drawn
    // left to right. Every pixel is still drawn after its own effect step and
    // in index order, and no step reads what another writes, so the records,
    // levels and screen end exactly as with one pixel at a time.
    int y = 0;
    for (int32_t first = 0; first < numPixels; first += frameWidth, ++y) {
        const int count = numPixels - first < frameWidth ? int(numPixels - first) : frameWidth;
        applyEffectRow(pixels, first, count);
        Pixel *const *row = pixels + first;
        for (int x = 0; x < count; ++x) {
            const Pixel &p = *row[x];
            putPixel16(screen, x, y,
                       SDL_MapRGB(screen->format, Uint8(p.r), Uint8(p.g), Uint8(p.b)));
        }
    }
}

bool runPass(SDL_Surface *screen, getVideoImage &video, Pixel **pixels) {
    if (frameCount < INT32_MAX) {
        ++frameCount;
    }

    SDL_Event event;
    if (SDL_PollEvent(&event)) {
        if (userQuits(event)) {
            return false;
        }
        if (event.type == SDL_KEYDOWN) {
            frameCount = referencePass;
        }
    }

    video.updateImage();
    if (frameCount == referencePass) {
        takeReference(pixels);
    }

    drawEffect(screen, pixels);
    SDL_UpdateRect(screen, 0, 0, 0, 0);
    return true;
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
