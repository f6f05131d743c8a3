#ifndef CLOAKCAM_APP_EFFECT_H
#define CLOAKCAM_APP_EFFECT_H

// The displacement effect: its state, which lives as long as the program, and
// the per-pixel rule.

#include <cstdint>
#include <string>
#include <vector>

#include "app/frame.h"
#include "common/pixel.h"

// The bound of every per-pixel loop; framePixels in the program, smaller in
// tests that work on part of a frame.
extern int32_t numPixels;
// The reference picture the live frame is compared with.
extern Pixel snapshot[framePixels];
// The brightness of each live pixel in the previous pass, before the effect
// replaced it.
extern int32_t lastLevel[framePixels];

int average(const Pixel &p);

// Copies the live frame into the reference.
void takeReference(Pixel *pixels[]);

// Blanks the reference, so that before one is taken the picture shows black
// wherever nothing moves.
void clearReference();

// Passes of the main loop so far, counted from the first that showed a
// picture of the current source; the reference is taken when it reads 20.
// It stays at INT32_MAX rather than wrapping, which would come back through
// 20 and retake the reference.
extern int32_t frameCount;

// Counts a pass of the main loop, as soon as it begins.
void countPass();

// Once the pass has fetched its frame: a key that went down takes the
// reference now; otherwise a new source's passes are counted afresh. Takes
// the reference when the count reaches 20.
void takeReferenceWhenDue(Pixel *pixels[], bool keyDown, bool newSource);

// Replaces live pixel i by the reference, shifted up and to the right where
// the picture differs from the reference and brightened where it changed
// since the previous pass.
void applyEffect(Pixel *pixels[], int i);

// The same for the count pixels from first on, each exactly as applyEffect
// leaves it. A pixel's result depends only on its own record and level and on
// the reference, which the effect never writes, so a stretch can be worked
// through stage by stage rather than pixel by pixel; a whole row goes that
// way, in steps the vectoriser can take several pixels at a time.
// Runs in the best variant this processor can: the row's arithmetic is built
// for several instruction sets.
void applyEffectRow(Pixel *pixels[], int first, int count);

// The variants built into the program, best first, by name.
std::vector<std::string> effectRowVariants();
// Runs applyEffectRow in the variant named from now on; false, and no
// change, when this processor cannot run it. For tests and benchmarks.
bool useEffectRowVariant(const std::string &name);

#endif
