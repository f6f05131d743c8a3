#include "app/effect.h"

#include <algorithm>
#include <cstdlib>

int32_t numPixels = framePixels;
int32_t frameCount = 0;
Pixel snapshot[framePixels] = {};
int32_t lastLevel[framePixels] = {};

namespace {

// Differences of average brightness up to this much count as noise.
constexpr int threshold = 20;

} // namespace

int average(const Pixel &p) { return (p.r + p.g + p.b) / 3; }

void takeReference(Pixel *pixels[]) {
    for (int32_t i = 0; i < numPixels; ++i) {
        snapshot[i] = *pixels[i];
    }
}

void applyEffect(Pixel *pixels[], int i) {
    const int current = average(*pixels[i]);
    const int diff = std::abs(average(snapshot[i]) - current);
    const int motion = std::abs(lastLevel[i] - current);
    lastLevel[i] = current;

    // Taken on the linear index, so a source beyond the right edge wraps to
    // the next row. It never lies below i, hence only the lower bound needs
    // a check; index 0 is deliberately never a displaced source.
    const int j = i + diff / 10 - (diff / 2) * frameWidth;
    Pixel out = (diff > threshold && j > 0) ? snapshot[j] : snapshot[i];

    if (motion > threshold) {
        const int boost = 2 * motion - 10;
        out.r += boost;
        out.g += boost;
        out.b += boost;
    }
    // The boost is positive, so only the top can be overshot.
    out.r = std::min<int32_t>(out.r, 255);
    out.g = std::min<int32_t>(out.g, 255);
    out.b = std::min<int32_t>(out.b, 255);
    *pixels[i] = out;
}

void putPixel16(SDL_Surface *surface, int x, int y, Uint32 colour) {
    Uint8 *address = static_cast<Uint8 *>(surface->pixels) + y * surface->pitch +
                     x * surface->format->BytesPerPixel;
    *reinterpret_cast<Uint16 *>(address) = static_cast<Uint16>(colour);
}
