#include "app/effect.h"

#include <algorithm>
#include <cstdlib>

int32_t numPixels = framePixels;
Pixel snapshot[framePixels] = {};
int32_t lastLevel[framePixels] = {};

namespace {

// Differences of average brightness up to this much count as noise.
constexpr int threshold = 20;

} // namespace

// The row's middle stage multiplies 32-bit lanes, which x86-64's baseline
// vector instructions do only with much shuffling; where the system can pick
// a function's variant at load time, AVX2 and AVX-512 ones are built as well
// and chosen on processors that have them, at two and four times the width
// and with those multiplies.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__)
#define CLOAKCAM_VECTOR_VARIANTS __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define CLOAKCAM_VECTOR_VARIANTS
#endif

int average(const Pixel &p) { return (p.r + p.g + p.b) / 3; }

void takeReference(Pixel *pixels[]) {
    for (int32_t i = 0; i < numPixels; ++i) {
        snapshot[i] = *pixels[i];
    }
}

void clearReference() {
    for (int32_t i = 0; i < numPixels; ++i) {
        snapshot[i] = Pixel{0, 0, 0};
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

namespace {

// The middle stage of a row: from the brightness sums of the live pixels and
// of the reference, each pixel's level, where its source lies and how much it
// is brightened. Unsigned, it gives the same figures as signed where no sum
// or level is negative, as with everything from the camera, and in fewer
// vector steps: unsigned division by a constant needs no sign corrections.
template <typename Word>
inline void sourceAndBoost(const int32_t *sum, const int32_t *referenceSum, int32_t *level,
                           int first, int32_t *source, int32_t *boost) {
    for (int k = 0; k < frameWidth; ++k) {
        const Word current = Word(sum[k]) / 3;
        const Word reference = Word(referenceSum[k]) / 3;
        const Word previous = Word(level[k]);
        const Word diff = reference > current ? reference - current : current - reference;
        const Word motion = previous > current ? previous - current : current - previous;
        level[k] = int32_t(current);
        const int i = first + k;
        const int j = i + int(diff / 10) - int(diff / 2) * frameWidth;
        source[k] = (diff > Word(threshold) && j > 0) ? j : i;
        // Adding nothing where there is no motion leaves the value as it is,
        // and spares a branch on every pixel.
        boost[k] = motion > Word(threshold) ? 2 * int(motion) - 10 : 0;
    }
}

} // namespace

CLOAKCAM_VECTOR_VARIANTS void applyEffectRow(Pixel *pixels[], int first, int count) {
    if (count != frameWidth) {
        for (int i = first; i < first + count; ++i) {
            applyEffect(pixels, i);
        }
        return;
    }
    // Stages over the whole row, each a loop of known length: the first and
    // last follow the pointers to the records one by one, the middle one works
    // on plain arrays and is the one the vectoriser takes.
    int32_t sum[frameWidth];
    int32_t referenceSum[frameWidth];
    int32_t source[frameWidth];
    int32_t boost[frameWidth];
    Pixel *const *row = pixels + first;
    const Pixel *reference = snapshot + first;
    int32_t *level = lastLevel + first;

    int32_t signs = 0;
    for (int k = 0; k < frameWidth; ++k) {
        const Pixel &p = *row[k];
        sum[k] = p.r + p.g + p.b;
        referenceSum[k] = reference[k].r + reference[k].g + reference[k].b;
        signs |= sum[k] | referenceSum[k] | level[k];
    }

    if (signs >= 0) {
        sourceAndBoost<uint32_t>(sum, referenceSum, level, first, source, boost);
    } else {
        sourceAndBoost<int32_t>(sum, referenceSum, level, first, source, boost);
    }

    for (int k = 0; k < frameWidth; ++k) {
        const Pixel &from = snapshot[source[k]];
        *row[k] = Pixel{std::min<int32_t>(from.r + boost[k], 255),
                        std::min<int32_t>(from.g + boost[k], 255),
                        std::min<int32_t>(from.b + boost[k], 255)};
    }
}
