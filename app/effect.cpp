#include "app/effect.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

int32_t numPixels = framePixels;
Pixel snapshot[framePixels] = {};
int32_t lastLevel[framePixels] = {};
int32_t frameCount = 0;

namespace {

// Differences of average brightness up to this much count as noise.
constexpr int threshold = 20;

// The pass that takes the reference of its own accord.
constexpr int32_t referencePass = 20;

// The effect's rule for pixel i, from the brightness sums of the live pixel
// and of its reference and from the level it had in the previous pass: its
// new level, the reference pixel it shows, and how much that is brightened.
// Word is the arithmetic: signed, as the rule is defined, or unsigned, which
// gives the same figures where no sum or level is negative (as with
// everything from the camera) and vectorises in fewer steps, since unsigned
// division by a constant needs no sign corrections. Always inlined: each of
// the row's processor variants must compile it for its own instructions.
template <typename Word>
__attribute__((always_inline)) inline void step(int32_t sum, int32_t referenceSum, int32_t &level,
                                                int i, int32_t &source, int32_t &boost) {
    const Word current = Word(sum) / 3;
    const Word reference = Word(referenceSum) / 3;
    const Word previous = Word(level);
    const Word diff = reference > current ? reference - current : current - reference;
    const Word motion = previous > current ? previous - current : current - previous;
    level = int32_t(current);
    // Taken on the linear index, so a source beyond the right edge wraps to
    // the next row. It never lies below i, hence only the lower bound needs
    // a check; index 0 is deliberately never a displaced source.
    const int j = i + int(diff / 10) - int(diff / 2) * frameWidth;
    source = (diff > Word(threshold) && j > 0) ? j : i;
    // Adding nothing where there is no motion leaves the value as it is,
    // and spares a branch on every pixel.
    boost = motion > Word(threshold) ? 2 * int(motion) - 10 : 0;
}

__attribute__((always_inline)) inline int32_t sumOf(const Pixel &p) { return p.r + p.g + p.b; }

// The boost is positive, so only the top can be overshot.
__attribute__((always_inline)) inline Pixel brightened(const Pixel &from, int32_t boost) {
    return Pixel{std::min<int32_t>(from.r + boost, 255), std::min<int32_t>(from.g + boost, 255),
                 std::min<int32_t>(from.b + boost, 255)};
}

// The row's middle stage: the rule over plain arrays, which the vectoriser
// takes.
template <typename Word>
__attribute__((always_inline)) inline void
sourceAndBoost(const int32_t *sum, const int32_t *referenceSum, int32_t *level, int first,
               int32_t *source, int32_t *boost) {
    for (int k = 0; k < frameWidth; ++k)
        step<Word>(sum[k], referenceSum[k], level[k], first + k, source[k], boost[k]);
}

} // namespace

int average(const Pixel &p) { return sumOf(p) / 3; }

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

void countPass() {
    if (frameCount < INT32_MAX) {
        ++frameCount;
    }
}

void takeReferenceWhenDue(Pixel *pixels[], bool keyDown, bool newSource) {
    // The reference of another source (the test pattern, or black before the
    // camera's first picture) shows nothing of this one: its passes are
    // counted afresh, unless a key asks for the reference now.
    if (keyDown) {
        frameCount = referencePass;
    } else if (newSource) {
        frameCount = 1;
    }
    if (frameCount == referencePass) {
        takeReference(pixels);
    }
}

void applyEffect(Pixel *pixels[], int i) {
    int32_t source, boost;
    step<int32_t>(sumOf(*pixels[i]), sumOf(snapshot[i]), lastLevel[i], i, source, boost);
    *pixels[i] = brightened(snapshot[source], boost);
}

namespace {

// The row pass itself, compiled once for each processor variant below.
__attribute__((always_inline)) inline void rowPass(Pixel *pixels[], int first, int count) {
    if (count != frameWidth) {
        for (int i = first; i < first + count; ++i) {
            applyEffect(pixels, i);
        }
        return;
    }
    // Stages over the whole row, each a loop of known length. Following the
    // pointers to the records is done one by one, in a loop of its own, so
    // that the reference's sums, from a plain array, and the rule itself, on
    // plain arrays, are taken by the vectoriser (together with the pointers
    // that loop took a third longer).
    int32_t sum[frameWidth];
    int32_t referenceSum[frameWidth];
    int32_t source[frameWidth];
    int32_t boost[frameWidth];
    Pixel *const *row = pixels + first;
    const Pixel *reference = snapshot + first;
    int32_t *level = lastLevel + first;

    for (int k = 0; k < frameWidth; ++k)
        sum[k] = sumOf(*row[k]);
    int32_t signs = 0;
    for (int k = 0; k < frameWidth; ++k) {
        referenceSum[k] = sumOf(reference[k]);
        signs |= sum[k] | referenceSum[k] | level[k];
    }

    if (signs >= 0) {
        sourceAndBoost<uint32_t>(sum, referenceSum, level, first, source, boost);
    } else {
        sourceAndBoost<int32_t>(sum, referenceSum, level, first, source, boost);
    }

    for (int k = 0; k < frameWidth; ++k)
        *row[k] = brightened(snapshot[source[k]], boost[k]);
}

using RowPass = void (*)(Pixel *pixels[], int first, int count);

void baselineRow(Pixel *pixels[], int first, int count) { rowPass(pixels, first, count); }

// The row's middle stage multiplies 32-bit lanes, which x86-64's baseline
// vector instructions do only with much shuffling: AVX2 and AVX-512 variants
// run it at two and four times the width and with those multiplies, in about
// half the time of the baseline (BM_Effect 160 against 300 us).
#if defined(__GNUC__) && defined(__x86_64__)
__attribute__((target("arch=x86-64-v4"))) void avx512Row(Pixel *pixels[], int first, int count) {
    rowPass(pixels, first, count);
}
__attribute__((target("avx2"))) void avx2Row(Pixel *pixels[], int first, int count) {
    rowPass(pixels, first, count);
}
#endif

struct RowVariant {
    const char *name;
    RowPass run;
    bool (*supported)();
};

// Best first.
const RowVariant rowVariants[] = {
#if defined(__GNUC__) && defined(__x86_64__)
    {"x86-64-v4", avx512Row, [] { return __builtin_cpu_supports("x86-64-v4") != 0; }},
    {"avx2", avx2Row, [] { return __builtin_cpu_supports("avx2") != 0; }},
#endif
    {"baseline", baselineRow, [] { return true; }},
};

RowPass &chosenRow() {
    static RowPass chosen = [] {
#if defined(__GNUC__) && defined(__x86_64__)
        __builtin_cpu_init();
#endif
        for (const RowVariant &variant : rowVariants)
            if (variant.supported())
                return variant.run;
        return baselineRow;
    }();
    return chosen;
}

} // namespace

void applyEffectRow(Pixel *pixels[], int first, int count) { chosenRow()(pixels, first, count); }

std::vector<std::string> effectRowVariants() {
    std::vector<std::string> names;
    for (const RowVariant &variant : rowVariants)
        names.push_back(variant.name);
    return names;
}

bool useEffectRowVariant(const std::string &name) {
    chosenRow();
    for (const RowVariant &variant : rowVariants) {
        if (name == variant.name && variant.supported()) {
            chosenRow() = variant.run;
            return true;
        }
    }
    return false;
}
