#include "capture/video_image.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include <unistd.h>

#include "equipment/fake_camera.h"
#include "stderr_lines.h"

namespace {

const int width = 320;
const int height = 240;

// A camera picture of four plain quarters, each its own colour, twice the
// size the program asks for, so the picture is also scaled on its way.
std::vector<uint8_t> quarters(int w, int h) {
    const uint8_t colours[4][3] = {{250, 0, 0}, {0, 250, 0}, {0, 0, 250}, {250, 250, 0}};
    std::vector<uint8_t> rgb;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t *colour = colours[(y >= h / 2) * 2 + (x >= w / 2)];
            rgb.insert(rgb.end(), colour, colour + 3);
        }
    return rgb;
}

// What main does before its first pass.
void awaitPicture(getVideoImage &video) {
    while (video.awaitingFirstPicture())
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// A capture object on the first camera, as main has it at its first pass.
std::unique_ptr<getVideoImage> startOnFirstCamera() {
    unsetenv("CLOAKCAM_DEVICE");
    testing::internal::CaptureStdout();
    auto video = std::make_unique<getVideoImage>(width, height);
    testing::internal::GetCapturedStdout();
    awaitPicture(*video);
    return video;
}

void expectColour(const Pixel *p, int r, int g, int b, const char *where) {
    EXPECT_EQ(p->r, r) << where;
    EXPECT_EQ(p->g, g) << where;
    EXPECT_EQ(p->b, b) << where;
}

TEST(VideoImage, ShowsTheCameraUprightAndMirrored) {
    FakeCamera camera(640, 480, quarters(640, 480));
    setenv("CLOAKCAM_DEVICE", fake_camera::path(), 1);
    testing::internal::CaptureStdout();
    getVideoImage video(width, height);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "celled getVideoImage int int\n");
    awaitPicture(video);

    Pixel **pixels = video.getImage();
    video.updateImage();
    EXPECT_EQ(video.getImage(), pixels) << "the records never move";
    // The camera's top-right quarter (green) is on the left of the top row,
    // its top-left (red) on the right; the bottom row likewise, below.
    expectColour(pixels[0], 0, 250, 0, "top-left");
    expectColour(pixels[width - 1], 250, 0, 0, "top-right");
    expectColour(pixels[(height - 1) * width], 250, 250, 0, "bottom-left");
    expectColour(pixels[width * height - 1], 0, 0, 250, "bottom-right");
}

TEST(VideoImage, ACameraThatCannotStartEndsTheWaitAtOnceWithOneLine) {
    FakeCamera camera(320, 240, quarters(320, 240));
    camera.refuse(fake_camera::Refusal::Busy);
    setenv("CLOAKCAM_DEVICE", fake_camera::path(), 1);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const auto started = std::chrono::steady_clock::now();
    getVideoImage video(width, height);
    awaitPicture(video);
    const auto waited = std::chrono::steady_clock::now() - started;
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "celled getVideoImage int int\n");

    EXPECT_LT(waited, std::chrono::seconds(2)) << "not the whole wait for a first picture";
    EXPECT_EQ(errors, std::string("cloakcam: cannot use camera ") + fake_camera::path() + " (" +
                          fake_camera::name() + "): it is in use by another program\n");
    video.updateImage();
    expectColour(video.getImage()[0], 0, 0, 0, "black without a picture");
}

// A camera that takes its time to open holds up nothing but its own
// picture: the window's calls return at once and say what is going on.
TEST(VideoImage, TheWindowNeverWaitsForACameraSlowToOpen) {
    FakeCamera camera(320, 240, quarters(320, 240));
    camera.hold(true);
    setenv("CLOAKCAM_DEVICE", fake_camera::path(), 1);
    testing::internal::CaptureStdout();
    using Clock = std::chrono::steady_clock;
    auto started = Clock::now();
    getVideoImage video(width, height);
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(100)) << "made at once";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "celled getVideoImage int int\n");
    auto slowest = Clock::duration::zero();
    for (int pass = 0; pass < 100; ++pass) {
        started = Clock::now();
        EXPECT_TRUE(video.awaitingFirstPicture());
        video.updateImage();
        slowest = std::max(slowest, Clock::now() - started);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_LT(slowest, std::chrono::milliseconds(20)) << "the slowest pass";
    EXPECT_EQ(video.title(), std::string("cloakcam - starting ") + fake_camera::name());
    expectColour(video.getImage()[0], 0, 0, 0, "black meanwhile");
    camera.hold(false);
    awaitPicture(video);
    video.updateImage();
    expectColour(video.getImage()[0], 0, 250, 0, "the camera's picture once open");
}

// A quit while the camera's driver holds the camera thread ends the process
// without it, well within the second a quit may take.
TEST(VideoImageDeathTest, AQuitNeverWaitsForACameraStuckInItsDriver) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            FakeCamera camera(320, 240, quarters(320, 240));
            camera.hold(true);
            setenv("CLOAKCAM_DEVICE", fake_camera::path(), 1);
            {
                getVideoImage video(width, height);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                std::thread([] {
                    std::this_thread::sleep_for(std::chrono::seconds(1));
                    _exit(3);
                }).detach();
            }
            std::exit(2);
        },
        testing::ExitedWithCode(0), "");
}

TEST(VideoImage, DeliversMovingPicturesFromTheTestPattern) {
    setenv("CLOAKCAM_DEVICE", "pattern", 1);
    getVideoImage video(width, height);
    awaitPicture(video);
    Pixel **pixels = video.getImage();

    auto brightness = [&] {
        long sum = 0;
        for (int i = 0; i < width * height; ++i)
            sum += pixels[i]->r + pixels[i]->g + pixels[i]->b;
        return sum;
    };
    auto changedSince = [&](const std::vector<Pixel> &before) {
        for (int i = 0; i < width * height; ++i)
            if (pixels[i]->r != before[i].r || pixels[i]->g != before[i].g ||
                pixels[i]->b != before[i].b)
                return true;
        return false;
    };

    video.updateImage();
    EXPECT_GT(brightness(), 0) << "the first picture is already there, not black";
    std::vector<Pixel> first;
    for (int i = 0; i < width * height; ++i)
        first.push_back(*pixels[i]);
    bool moved = false;
    for (int attempt = 0; attempt < 50 && !moved; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        video.updateImage();
        moved = changedSince(first);
    }
    EXPECT_TRUE(moved) << "the picture changes within a second";
}

// What the user reads as the camera comes and goes, and what the window
// shows meanwhile: the last picture while it is away, its new one once back.
TEST(VideoImage, SaysWhenTheCameraIsLostAndBackAndKeepsTheLastPicture) {
    struct Case {
        const char *how;
        void (*lose)(FakeCamera &);
        const char *line;
    };
    const Case cases[] = {
        {"pulled out", [](FakeCamera &c) { c.unplug(); },
         "cloakcam: camera lost: it was unplugged"},
        {"driver error", [](FakeCamera &c) { c.fail(fake_camera::Failure::DriverError); },
         "cloakcam: camera lost: it cannot be read"},
        // The read fails a moment before the system tells of the removal.
        {"pulled out mid-read",
         [](FakeCamera &c) {
             c.fail(fake_camera::Failure::DriverError);
             std::this_thread::sleep_for(std::chrono::milliseconds(50));
             c.unplug();
         },
         "cloakcam: camera lost: it was unplugged"},
        {"end of stream", [](FakeCamera &c) { c.fail(fake_camera::Failure::EndOfStream); },
         "cloakcam: camera lost: it stopped sending pictures"},
        {"fallen silent", [](FakeCamera &c) { c.fail(fake_camera::Failure::Silent); },
         "cloakcam: camera lost: it stopped sending pictures"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.how);
        FakeCamera camera(320, 240, quarters(320, 240));
        const std::unique_ptr<getVideoImage> started = startOnFirstCamera();
        getVideoImage &video = *started;
        Pixel **pixels = video.getImage();
        StderrLines stderrLines;
        auto passesUntil = [&](auto done) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (!done() && std::chrono::steady_clock::now() < deadline) {
                video.updateImage();
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            return done();
        };
        video.updateImage();
        expectColour(pixels[0], 0, 250, 0, "the camera's picture");

        c.lose(camera);
        ASSERT_TRUE(passesUntil([&] { return stderrLines.count(c.line) == 1; }))
            << stderrLines.text();
        video.updateImage();
        expectColour(pixels[0], 0, 250, 0, "the last picture stays");

        // A camera that failed comes back once it is pulled out and plugged in.
        camera.unplug();
        camera.plug(320, 240, std::vector<uint8_t>(320 * 240 * 3, 100));
        ASSERT_TRUE(passesUntil([&] { return pixels[0]->r == 100; })) << stderrLines.text();
        for (int pass = 0; pass < 20; ++pass)
            video.updateImage();
        EXPECT_EQ(stderrLines.lines(), (std::vector<std::string>{c.line, "cloakcam: camera back"}));
    }
}

// A camera that failed but is still listed is tried again a little later, and
// comes back without being pulled out.
TEST(VideoImage, TriesAFailedCameraAgain) {
    FakeCamera camera(320, 240, quarters(320, 240));
    const std::unique_ptr<getVideoImage> started = startOnFirstCamera();
    getVideoImage &video = *started;
    StderrLines stderrLines;
    camera.fail(fake_camera::Failure::DriverError);
    const auto failed = std::chrono::steady_clock::now();
    while (stderrLines.count("cloakcam: camera back") == 0 &&
           std::chrono::steady_clock::now() - failed < std::chrono::seconds(5)) {
        video.updateImage();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(stderrLines.lines(),
              (std::vector<std::string>{"cloakcam: camera lost: it cannot be read",
                                        "cloakcam: camera back"}));
}

// A new source is told with its first picture, over a run in which a camera
// takes the pattern's place, is lost and comes back.
TEST(VideoImage, TellsOfEachNewSourceOnItsFirstPictureOnly) {
    unsetenv("CLOAKCAM_DEVICE");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    getVideoImage video(width, height);
    testing::internal::GetCapturedStdout();
    awaitPicture(video);
    Pixel **pixels = video.getImage();
    std::vector<int> told; // pixel 0's green when a new source was told
    auto passesUntil = [&](auto done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(6);
        do {
            video.updateImage();
            if (video.newSource())
                told.push_back(pixels[0]->g);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        } while (!done() && std::chrono::steady_clock::now() < deadline);
        return done();
    };
    passesUntil([] { return true; });
    ASSERT_EQ(told.size(), 1u) << "the pattern's first picture";

    FakeCamera camera(320, 240, quarters(320, 240));
    ASSERT_TRUE(passesUntil([&] { return pixels[0]->g == 250; })) << "the camera taken up";
    for (int pass = 0; pass < 20; ++pass)
        passesUntil([] { return true; });
    EXPECT_EQ(told.size(), 2u);
    EXPECT_EQ(told.back(), 250) << "told with the camera's own first picture";

    camera.unplug();
    camera.plug(320, 240, std::vector<uint8_t>(320 * 240 * 3, 100));
    ASSERT_TRUE(passesUntil([&] { return pixels[0]->g == 100; })) << "the camera back";
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(told.size(), 2u) << "a camera back from a loss is no new source";
}

TEST(VideoImage, SaysWhenTheNamedCameraIsNotThere) {
    FakeCamera camera(320, 240, quarters(320, 240));
    setenv("CLOAKCAM_DEVICE", "Nowhere", 1);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    getVideoImage video(width, height);
    awaitPicture(video);
    unsetenv("CLOAKCAM_DEVICE");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("cloakcam: no camera called Nowhere, using ") + fake_camera::path() +
                  " (" + fake_camera::name() + ")\n");
    testing::internal::GetCapturedStdout();
    video.updateImage();
    expectColour(video.getImage()[0], 0, 250, 0, "the first camera's picture");
}

} // namespace
