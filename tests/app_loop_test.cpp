#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/effect.h"
#include "app/loop.h"
#include "capture/video_image.h"

namespace {

// No camera component can hold this, so an entry still holding it was not
// rewritten in the pass.
constexpr int32_t untouched = 1000;

class LoopTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        setenv("CLOAKCAM_DEVICE", "pattern", 1);
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        screen = SDL_SetVideoMode(frameWidth, frameHeight, 16, 0);
        ASSERT_NE(screen, nullptr) << SDL_GetError();
        prepareColourTables(screen->format);
        // Like main's, the capture object lasts for every test.
        video = new getVideoImage(frameWidth, frameHeight);
        pixels = video->getImage();
        // Its first picture already shown: the passes count from a source
        // that is no longer new.
        while (video->awaitingFirstPicture())
            SDL_Delay(5);
        video->updateImage();
    }

    // Gone before the process ends, as main's is: its camera thread must not
    // run on while the libraries it calls are torn down.
    static void TearDownTestSuite() {
        delete video;
        video = nullptr;
        SDL_Quit();
    }

    void SetUp() override {
        ASSERT_NE(video, nullptr);
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
        }
        frameCount = 0;
        clearReference();
        std::memset(lastLevel, 0, sizeof lastLevel);
    }

    static void pushKey(Uint8 type, SDLKey key) {
        SDL_Event event{};
        event.type = type;
        event.key.type = type;
        event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
        event.key.keysym.sym = key;
        ASSERT_EQ(SDL_PushEvent(&event), 0);
    }

    static void pushOfType(Uint8 type) {
        SDL_Event event{};
        event.type = type;
        ASSERT_EQ(SDL_PushEvent(&event), 0);
    }

    static void markUntouched(Pixel *entries) {
        for (int k = 0; k < framePixels; ++k) {
            entries[k] = Pixel{untouched, untouched, untouched};
        }
    }

    static void markLiveUntouched() {
        for (int k = 0; k < framePixels; ++k) {
            *pixels[k] = Pixel{untouched, untouched, untouched};
        }
    }

    // Runs one pass with the reference and the live frame marked, and tells
    // whether the pass took a reference from a freshly fetched frame. Fails
    // the test if it rewrote only part of the reference or took the stale
    // live frame.
    static bool passTakesReference(bool expectContinue = true) {
        markUntouched(snapshot);
        markLiveUntouched();
        EXPECT_EQ(runPass(screen, *video, pixels), expectContinue);
        int rewritten = 0;
        for (int k = 0; k < framePixels; ++k) {
            rewritten += snapshot[k].r != untouched;
        }
        EXPECT_TRUE(rewritten == 0 || rewritten == framePixels) << rewritten;
        for (int k = 0; k < framePixels && rewritten > 0; ++k) {
            if (snapshot[k].r > 255 || snapshot[k].g > 255 || snapshot[k].b > 255) {
                ADD_FAILURE() << "reference pixel " << k << " taken before the frame was fetched";
                break;
            }
        }
        return rewritten > 0;
    }

    static std::vector<Uint16> screenCells() {
        std::vector<Uint16> cells;
        const Uint8 *bytes = static_cast<const Uint8 *>(screen->pixels);
        for (int y = 0; y < frameHeight; ++y) {
            const Uint16 *row = reinterpret_cast<const Uint16 *>(bytes + y * screen->pitch);
            cells.insert(cells.end(), row, row + frameWidth);
        }
        return cells;
    }

    static inline SDL_Surface *screen = nullptr;
    static inline getVideoImage *video = nullptr;
    static inline Pixel **pixels = nullptr;
};

TEST_F(LoopTest, ReferenceIsTakenInTheTwentiethPassOnly) {
    for (int pass = 1; pass <= 25; ++pass) {
        EXPECT_EQ(passTakesReference(), pass == 20) << "pass " << pass;
        EXPECT_EQ(frameCount, pass);
    }
}

TEST_F(LoopTest, KeyPressTakesTheReferenceAtOnce) {
    for (int pass = 1; pass <= 20; ++pass) {
        if (pass == 5) {
            pushKey(SDL_KEYDOWN, SDLK_a);
        }
        EXPECT_EQ(passTakesReference(), pass == 5) << "pass " << pass;
    }
    EXPECT_EQ(frameCount, 35);
}

TEST_F(LoopTest, QueuedEventsAreHandledOnePerPass) {
    pushKey(SDL_KEYDOWN, SDLK_a);
    pushKey(SDL_KEYDOWN, SDLK_SPACE);
    EXPECT_TRUE(passTakesReference());
    EXPECT_TRUE(passTakesReference());
    EXPECT_FALSE(passTakesReference());
    EXPECT_EQ(frameCount, 21);

    pushKey(SDL_KEYDOWN, SDLK_b);
    pushOfType(SDL_QUIT);
    EXPECT_TRUE(passTakesReference());
    EXPECT_FALSE(passTakesReference(false));
}

TEST_F(LoopTest, QuitEndsThePassBeforeFetchingOrDrawing) {
    for (const bool escape : {true, false}) {
        SCOPED_TRACE(escape ? "Escape" : "SDL_QUIT");
        frameCount = 19;
        std::memset(screen->pixels, 0x5A, size_t(screen->pitch) * frameHeight);
        const std::vector<Uint16> before = screenCells();
        markLiveUntouched();
        if (escape) {
            pushKey(SDL_KEYDOWN, SDLK_ESCAPE);
        } else {
            pushOfType(SDL_QUIT);
        }

        EXPECT_FALSE(runPass(screen, *video, pixels));
        EXPECT_EQ(frameCount, 20);
        EXPECT_EQ(pixels[0]->r, untouched);
        EXPECT_EQ(pixels[framePixels - 1]->b, untouched);
        EXPECT_EQ(snapshot[0].r, 0) << "reference taken";
        EXPECT_TRUE(screenCells() == before) << "screen drawn";
    }
}

TEST_F(LoopTest, OtherEventsChangeNothing) {
    frameCount = 5;
    pushKey(SDL_KEYUP, SDLK_a);
    pushKey(SDL_KEYUP, SDLK_ESCAPE);
    SDL_Event motion{};
    motion.type = SDL_MOUSEMOTION;
    motion.motion.type = SDL_MOUSEMOTION;
    motion.motion.x = 10;
    motion.motion.y = 20;
    ASSERT_EQ(SDL_PushEvent(&motion), 0);
    for (int pass = 6; pass <= 9; ++pass) {
        EXPECT_FALSE(passTakesReference()) << "pass " << pass;
        EXPECT_EQ(frameCount, pass);
    }
}

TEST_F(LoopTest, CounterStopsAtItsLargestValue) {
    frameCount = INT32_MAX - 1;
    EXPECT_FALSE(passTakesReference());
    EXPECT_EQ(frameCount, INT32_MAX);
    EXPECT_FALSE(passTakesReference());
    EXPECT_EQ(frameCount, INT32_MAX);

    pushKey(SDL_KEYDOWN, SDLK_a);
    EXPECT_TRUE(passTakesReference());
    EXPECT_EQ(frameCount, 20);
}

TEST_F(LoopTest, ScreenShowsTheEffectOutput) {
    // The first frames of the test pattern may still be black; a black frame
    // would let a wrongly drawn screen pass unnoticed.
    for (int attempt = 0; attempt < 500; ++attempt) {
        video->updateImage();
        int lit = 0;
        for (int k = 0; k < framePixels; ++k) {
            lit += average(*pixels[k]) > 20;
        }
        if (lit > framePixels / 4) {
            break;
        }
        SDL_Delay(10);
    }
    frameCount = 19;
    std::memset(screen->pixels, 0x5A, size_t(screen->pitch) * frameHeight);
    ASSERT_TRUE(runPass(screen, *video, pixels));

    const std::vector<Uint16> cells = screenCells();
    int lit = 0;
    for (int k = 0; k < framePixels; ++k) {
        const Pixel &p = *pixels[k];
        ASSERT_LE(p.r, 255) << "pixel " << k;
        const Uint32 colour = SDL_MapRGB(screen->format, Uint8(p.r), Uint8(p.g), Uint8(p.b));
        ASSERT_EQ(cells[k], Uint16(colour)) << "pixel " << k;
        // On the first pass the live frame is compared with itself as the
        // reference and with a black previous pass: the output is the frame
        // brightened, so lastLevel holds what the camera gave.
        ASSERT_GE(p.r, snapshot[k].r) << "pixel " << k;
        lit += lastLevel[k] > 20;
    }
    EXPECT_GT(lit, 0) << "the test pattern showed nothing";
}

} // namespace
