#ifndef CLOAKCAM_APP_EFFECT_H
#define CLOAKCAM_APP_EFFECT_H

#include <SDL.h>

#include <cstdint>

#include "common/pixel.h"

constexpr int frameWidth = 320;
constexpr int frameHeight = 240;
constexpr int framePixels = frameWidth * frameHeight;

// The bound of every per-pixel loop. Nothing writes it.
extern int32_t numPixels;
// Passes of the main loop so far; the reference is taken when it reads 20.
// It stays at INT32_MAX rather than wrapping, which would come back through
// 20 and retake the reference.
extern int32_t frameCount;
// The reference picture the live frame is compared with.
extern Pixel snapshot[framePixels];
// The brightness of each live pixel in the previous pass, before the effect
// replaced it.
extern int32_t lastLevel[framePixels];

int average(const Pixel &p);

// Copies the live frame into the reference.
void takeReference(Pixel *pixels[]);

// Replaces live pixel i by the reference, shifted up and to the right where
// the picture differs from the reference and brightened where it changed
// since the previous pass.
void applyEffect(Pixel *pixels[], int i);

// The same for the count pixels from first on, each exactly as applyEffect
// leaves it. A pixel's result depends only on its own record and level and on
// the reference, which the effect never writes, so a stretch can be worked
// through stage by stage rather than pixel by pixel; a whole row goes that
// way, in steps the vectoriser can take several pixels at a time.
void applyEffectRow(Pixel *pixels[], int first, int count);

// Stores a 16-bit colour at (x, y). The caller keeps (x, y) on the surface
// and the surface 16 bits deep; nothing is locked or checked.
// Inline: the pass calls it for every pixel, and only inlined can the
// address arithmetic follow the pass's own walk along the row.
inline void putPixel16(SDL_Surface *surface, int x, int y, Uint32 colour) {
    Uint8 *address = static_cast<Uint8 *>(surface->pixels) + y * surface->pitch +
                     x * surface->format->BytesPerPixel;
    *reinterpret_cast<Uint16 *>(address) = static_cast<Uint16>(colour);
}

#endif
