#ifndef CLOAKCAM_APP_SCREEN_H
#define CLOAKCAM_APP_SCREEN_H

#include <SDL.h>

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
