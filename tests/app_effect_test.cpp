#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <vector>

#include "app/effect.h"
#include "app/screen.h"

static bool operator==(const Pixel &a, const Pixel &b) {
    return a.r == b.r && a.g == b.g && a.b == b.b;
}

static void PrintTo(const Pixel &p, std::ostream *os) {
    *os << "{" << p.r << ", " << p.g << ", " << p.b << "}";
}

namespace {

Pixel gray(int level) { return Pixel{level, level, level}; }

// A reference in which neighbouring entries differ, so that a pixel taken
// from the wrong place shows; every component stays below 200 to leave room
// for brightening without reaching the clamp.
Pixel referenceAt(int k) { return Pixel{10 + k % 97, 20 + (k / frameWidth) % 89, 30}; }

class EffectTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::memset(snapshot, 0, sizeof snapshot);
        std::memset(lastLevel, 0, sizeof lastLevel);
        frameCount = 0;
        // The live frame holds a value no reference entry has, so reading a
        // live pixel where the reference was meant shows.
        live.assign(framePixels, Pixel{1, 2, 3});
        for (int k = 0; k < framePixels; ++k) {
            pointers[k] = &live[k];
        }
    }

    void useDistinctReference() {
        for (int k = 0; k < framePixels; ++k) {
            snapshot[k] = referenceAt(k);
        }
    }

    // Runs the effect on pixel i whose average differs from the reference's
    // by referenceOffset and from the previous pass's by motionOffset.
    Pixel effectAt(int i, int referenceOffset, int motionOffset) {
        const int level = average(snapshot[i]) + referenceOffset;
        live[i] = gray(level);
        lastLevel[i] = level - motionOffset;
        applyEffect(pointers.data(), i);
        EXPECT_EQ(lastLevel[i], level) << "pixel " << i;
        return live[i];
    }

    std::vector<Pixel> live;
    std::vector<Pixel *> pointers = std::vector<Pixel *>(framePixels);
};

TEST_F(EffectTest, DisplacementAndBrighteningStartJustAboveTwenty) {
    useDistinctReference();
    const int i = 100 * frameWidth + 100;

    EXPECT_EQ(effectAt(i, 20, 0), referenceAt(i));
    EXPECT_EQ(effectAt(i, -20, 0), referenceAt(i));
    // 21 moves the source 10 rows up and 2 columns right, whichever way the
    // brightness changed.
    EXPECT_EQ(effectAt(i, 21, 0), referenceAt(i + 2 - 10 * frameWidth));
    EXPECT_EQ(effectAt(i, -21, 0), referenceAt(i + 2 - 10 * frameWidth));
    // A larger difference moves further: 65 gives 6 columns and 32 rows.
    EXPECT_EQ(effectAt(i, 65, 0), referenceAt(i + 6 - 32 * frameWidth));

    const Pixel still = referenceAt(i);
    EXPECT_EQ(effectAt(i, 0, 20), still);
    EXPECT_EQ(effectAt(i, 0, -20), still);
    EXPECT_EQ(effectAt(i, 0, 21), (Pixel{still.r + 32, still.g + 32, still.b + 32}));
    EXPECT_EQ(effectAt(i, 0, -21), (Pixel{still.r + 32, still.g + 32, still.b + 32}));

    // Both at once: the displaced source is brightened.
    const Pixel moved = referenceAt(i + 2 - 10 * frameWidth);
    EXPECT_EQ(effectAt(i, 21, 30), (Pixel{moved.r + 50, moved.g + 50, moved.b + 50}));
}

TEST_F(EffectTest, DisplacedSourceFollowsTheLinearIndex) {
    useDistinctReference();
    // j = 1: the top row's second pixel may serve as a source...
    EXPECT_EQ(effectAt(3199, 21, 0), referenceAt(1));
    // ...but j = 0 may not, and the pixel shows its own reference.
    EXPECT_EQ(effectAt(3198, 21, 0), referenceAt(3198));
    // A source past the right edge continues on the next row: the last
    // column of row 11 reads row 1, column 1.
    EXPECT_EQ(effectAt(3519, 21, 0), referenceAt(frameWidth + 1));
    // A source above the picture falls back to the pixel's own reference.
    EXPECT_EQ(effectAt(5 * frameWidth + 7, 21, 0), referenceAt(5 * frameWidth + 7));
}

TEST_F(EffectTest, BrighteningStopsAt255) {
    const int i = 500;
    snapshot[i] = Pixel{200, 155, 0};
    // Motion 55 adds 100: 300 shows as 255, 255 stays, 100 is left alone.
    EXPECT_EQ(effectAt(i, 0, 55), (Pixel{255, 255, 100}));
    snapshot[i] = Pixel{250, 250, 250};
    EXPECT_EQ(effectAt(i, 0, 200), gray(255));
}

TEST_F(EffectTest, WholeFrame) {
    for (int k = 0; k < framePixels; ++k) {
        live[k] = Pixel{k % 256, (k * 7) % 256, (k * 13) % 256};
    }
    const std::vector<Pixel> original = live;

    // The first pass compares with a black reference and a black previous
    // pass: every pixel is black plus the brightening for its own level.
    for (int k = 0; k < framePixels; ++k) {
        applyEffect(pointers.data(), k);
    }
    int brightened = 0;
    for (int k = 0; k < framePixels; ++k) {
        const int level = average(original[k]);
        ASSERT_EQ(lastLevel[k], level) << "pixel " << k;
        const Pixel expected = level > 20 ? gray(std::min(2 * level - 10, 255)) : gray(0);
        ASSERT_EQ(live[k], expected) << "pixel " << k;
        brightened += level > 20;
    }
    EXPECT_GT(brightened, framePixels / 2);

    // With the reference taken from this frame and nothing changed since the
    // previous pass, the picture is the reference itself.
    live = original;
    takeReference(pointers.data());
    for (int k = 0; k < framePixels; ++k) {
        ASSERT_EQ(snapshot[k], original[k]) << "pixel " << k;
    }
    for (int k = 0; k < framePixels; ++k) {
        applyEffect(pointers.data(), k);
    }
    for (int k = 0; k < framePixels; ++k) {
        ASSERT_EQ(live[k], original[k]) << "pixel " << k;
    }
}

TEST(PutPixel16, WritesOneCellAtTheSurfacePitch) {
    // Rows padded beyond 320 cells, so that a row step of width * 2 bytes
    // instead of the pitch lands elsewhere.
    const int pitch = 704;
    std::vector<Uint16> cells(pitch / 2 * frameHeight, 0xAAAA);
    SDL_Surface *surface = SDL_CreateRGBSurfaceFrom(cells.data(), frameWidth, frameHeight, 16,
                                                    pitch, 0xF800, 0x07E0, 0x001F, 0);
    ASSERT_NE(surface, nullptr) << SDL_GetError();

    const struct {
        int index;
        Uint32 colour;
    } writes[] = {{319, 0x12345678}, {320, 0x0000BEEF}, {76799, 0xFFFF0001}};
    std::vector<Uint16> expected = cells;
    for (const auto &write : writes) {
        const int x = write.index % frameWidth;
        const int y = write.index / frameWidth;
        putPixel16(surface, x, y, write.colour);
        expected[y * (pitch / 2) + x] = Uint16(write.colour & 0xFFFF);
    }
    SDL_FreeSurface(surface);

    for (size_t k = 0; k < cells.size(); ++k) {
        ASSERT_EQ(cells[k], expected[k]) << "cell " << k;
    }
}

} // namespace
