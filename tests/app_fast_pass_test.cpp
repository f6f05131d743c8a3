#include <gtest/gtest.h>

#include <cctype>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "app/effect.h"
#include "app/loop.h"
#include "capture/video_image.h"

// The pass works a row at a time and in vector steps; here it is checked
// against the plainest rendering of the same rules, one pixel after another,
// over camera frames of every kind.

namespace {

constexpr long fullFrame = 3L * framePixels;

// The program's state as the plain rendering keeps it.
struct Model {
    std::vector<Pixel> live = std::vector<Pixel>(framePixels);
    std::vector<Pixel> reference = std::vector<Pixel>(framePixels, Pixel{0, 0, 0});
    std::vector<int32_t> levels = std::vector<int32_t>(framePixels);
    std::vector<Uint16> cells = std::vector<Uint16>(framePixels, 0xAAAA);

    void convert(const std::vector<unsigned char> &bytes, long size) {
        const long usable = size < 0 ? 0 : (size > fullFrame ? fullFrame : size);
        for (long i = 0; i < framePixels; ++i) {
            const long at = usable - 3 * (i + 1);
            live[i] = at >= 0 ? Pixel{bytes[at + 2], bytes[at + 1], bytes[at]} : Pixel{0, 0, 0};
        }
    }

    void drawPass(const SDL_PixelFormat *format, int32_t pixelCount) {
        auto level = [](const Pixel &p) { return (p.r + p.g + p.b) / 3; };
        for (int i = 0; i < pixelCount; ++i) {
            const int current = level(live[i]);
            const int diff = std::abs(level(reference[i]) - current);
            const int motion = std::abs(levels[i] - current);
            levels[i] = current;
            const int j = i + diff / 10 - (diff / 2) * frameWidth;
            Pixel out = diff > 20 && j > 0 ? reference[j] : reference[i];
            if (motion > 20) {
                out.r += 2 * motion - 10;
                out.g += 2 * motion - 10;
                out.b += 2 * motion - 10;
            }
            out.r = out.r > 255 ? 255 : out.r;
            out.g = out.g > 255 ? 255 : out.g;
            out.b = out.b > 255 ? 255 : out.b;
            live[i] = out;
            cells[i] = Uint16(SDL_MapRGB(format, Uint8(out.r), Uint8(out.g), Uint8(out.b)));
        }
    }
};

class FastPassTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Rows padded beyond the picture, so that a row step of the width
        // instead of the pitch lands elsewhere.
        cells.assign(pitch / 2 * frameHeight, 0xAAAA);
        surface = SDL_CreateRGBSurfaceFrom(cells.data(), frameWidth, frameHeight, 16, pitch, 0xF800,
                                           0x07E0, 0x001F, 0);
        ASSERT_NE(surface, nullptr) << SDL_GetError();
        prepareColourTables(surface->format);
        for (Pixel *&p : pointers) {
            p = new Pixel{0, 0, 0};
        }
        clearReference();
        for (int k = 0; k < framePixels; ++k) {
            lastLevel[k] = int32_t(random() % 256);
            model.levels[k] = lastLevel[k];
        }
        frameCount = 0;
    }

    void TearDown() override {
        for (Pixel *p : pointers) {
            delete p;
        }
        SDL_FreeSurface(surface);
        numPixels = framePixels;
    }

    // Record i's place in the camera's bottom-up bytes.
    static unsigned char *groupOf(std::vector<unsigned char> &bytes, int i) {
        return bytes.data() + fullFrame - 3L * (i + 1);
    }

    static void setRecord(std::vector<unsigned char> &bytes, int i, int r, int g, int b) {
        unsigned char *group = groupOf(bytes, i);
        group[2] = static_cast<unsigned char>(r);
        group[1] = static_cast<unsigned char>(g);
        group[0] = static_cast<unsigned char>(b);
    }

    // The next camera frame: either noise over everything, or the previous
    // frame with a few patches changed and a little noise, so that both
    // large and small differences and motions, displacement far up and
    // clamping all occur.
    std::vector<unsigned char> nextFrame(const std::vector<unsigned char> &previous, int pass) {
        std::vector<unsigned char> bytes = previous;
        std::uniform_int_distribution<int> byte(0, 255);
        if (pass % 3 == 0) {
            for (unsigned char &b : bytes) {
                b = static_cast<unsigned char>(byte(random));
            }
        } else {
            std::uniform_int_distribution<int> at(0, framePixels - 1), side(1, 60), jitter(-4, 4);
            for (int patch = 0; patch < 6; ++patch) {
                const int corner = at(random), width = side(random), height = side(random);
                const int r = byte(random), g = byte(random), b = byte(random);
                for (int dy = 0; dy < height; ++dy) {
                    for (int dx = 0; dx < width; ++dx) {
                        const int i = corner + dy * frameWidth + dx;
                        if (i < framePixels) {
                            setRecord(bytes, i, r, g, b);
                        }
                    }
                }
            }
            for (unsigned char &b : bytes) {
                b = static_cast<unsigned char>(std::clamp(b + jitter(random), 0, 255));
            }
        }
        // Pixels whose displaced source lands exactly on index 0 and on
        // index 1: a grey 21 levels above the reference there sends pixel
        // 3198 to j = 0, which may not serve, and 3199 to j = 1, which may.
        for (const int i : {3198, 3199}) {
            const Pixel &ref = model.reference[i];
            const int level = (ref.r + ref.g + ref.b) / 3 + 21;
            if (level <= 255) {
                setRecord(bytes, i, level, level, level);
            }
        }
        return bytes;
    }

    void expectSameState(int pass) {
        for (int k = 0; k < framePixels; ++k) {
            const Pixel &got = *pointers[k];
            const Pixel &want = model.live[k];
            ASSERT_TRUE(got.r == want.r && got.g == want.g && got.b == want.b)
                << "pass " << pass << ", record " << k << ": {" << got.r << ", " << got.g << ", "
                << got.b << "} instead of {" << want.r << ", " << want.g << ", " << want.b << "}";
            ASSERT_EQ(lastLevel[k], model.levels[k]) << "pass " << pass << ", level " << k;
            const Pixel &ref = model.reference[k];
            ASSERT_TRUE(snapshot[k].r == ref.r && snapshot[k].g == ref.g && snapshot[k].b == ref.b)
                << "pass " << pass << ", reference " << k;
        }
        for (int y = 0; y < frameHeight; ++y) {
            for (int x = 0; x < pitch / 2; ++x) {
                const Uint16 want = x < frameWidth ? model.cells[y * frameWidth + x] : 0xAAAA;
                ASSERT_EQ(cells[y * (pitch / 2) + x], want)
                    << "pass " << pass << ", screen x " << x << " y " << y;
            }
        }
    }

    // One pass of each, the program's and the model's, on the same frame.
    void runBoth(const std::vector<unsigned char> &bytes, long size, bool takeReferenceNow) {
        recordsFromBgr(bytes.data(), size, pointers.data(), framePixels);
        model.convert(bytes, size);
        if (takeReferenceNow) {
            takeReference(pointers.data());
            std::copy(model.live.begin(), model.live.begin() + numPixels, model.reference.begin());
        }
        drawEffect(surface, pointers.data());
        model.drawPass(surface->format, numPixels);
    }

    static constexpr int pitch = 704;
    std::vector<Uint16> cells;
    SDL_Surface *surface = nullptr;
    std::vector<Pixel *> pointers = std::vector<Pixel *>(framePixels);
    Model model;
    std::mt19937 random{20240607};
};

TEST_F(FastPassTest, MatchesThePixelByPixelPassOverManyFrames) {
    std::vector<unsigned char> bytes(fullFrame, 0);
    for (int pass = 1; pass <= 12; ++pass) {
        bytes = nextFrame(bytes, pass);
        // The reference is taken from the third frame on and again later,
        // so passes run against a black reference and against real ones.
        runBoth(bytes, fullFrame, pass == 3 || pass == 8);
        expectSameState(pass);
        if (HasFatalFailure()) {
            return;
        }
    }
}

TEST_F(FastPassTest, MatchesOnShortAndOversizedFrames) {
    std::vector<unsigned char> bytes(fullFrame, 0);
    bytes = nextFrame(bytes, 3);
    runBoth(bytes, fullFrame, true);
    // Sizes that are not whole pixels, stop in the middle of a row, or claim
    // more than a frame holds.
    const long sizes[] = {fullFrame - 1, 3L * 1000 + 2, 0, -6, fullFrame + 300, 3L * 77};
    int pass = 2;
    for (const long size : sizes) {
        bytes = nextFrame(bytes, pass);
        runBoth(bytes, size, false);
        expectSameState(pass);
        if (HasFatalFailure()) {
            return;
        }
        ++pass;
    }
}

TEST_F(FastPassTest, MatchesWhenThePictureEndsInsideARow) {
    // A pixel count that is not whole rows sends the last row down the
    // pixel-by-pixel way; the cells beyond it keep their earlier colours.
    std::vector<unsigned char> bytes(fullFrame, 0);
    for (int pass = 1; pass <= 4; ++pass) {
        numPixels = framePixels - 100 - 7 * pass;
        bytes = nextFrame(bytes, pass);
        runBoth(bytes, fullFrame, pass == 2);
        expectSameState(pass);
        if (HasFatalFailure()) {
            return;
        }
    }
}

// Every processor variant of the row pass that the program ships, not just
// the one this machine would pick, against the same model.
class FastPassVariantTest : public FastPassTest, public ::testing::WithParamInterface<std::string> {
  protected:
    void TearDown() override {
        for (const std::string &name : effectRowVariants())
            if (useEffectRowVariant(name))
                break;
        FastPassTest::TearDown();
    }
};

TEST_P(FastPassVariantTest, MatchesThePixelByPixelPass) {
    if (!useEffectRowVariant(GetParam()))
        GTEST_SKIP() << "this processor cannot run " << GetParam();
    std::vector<unsigned char> bytes(fullFrame, 0);
    for (int pass = 1; pass <= 6; ++pass) {
        bytes = nextFrame(bytes, pass);
        runBoth(bytes, fullFrame, pass == 3);
        expectSameState(pass);
        if (HasFatalFailure())
            return;
    }
}

INSTANTIATE_TEST_SUITE_P(RowVariants, FastPassVariantTest, ::testing::ValuesIn(effectRowVariants()),
                         [](const ::testing::TestParamInfo<std::string> &info) {
                             std::string name = info.param;
                             for (char &c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

} // namespace
