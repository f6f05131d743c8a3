#include "platform_capture_graph.h"
#include "platform_fake_camera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Everything written on stderr while it exists, readable at any moment; what
// was written is passed on to the real stderr at the end, for the test log.
class StderrLines {
  public:
    StderrLines() {
        std::fflush(stderr);
        file_ = std::tmpfile();
        saved_ = dup(STDERR_FILENO);
        dup2(fileno(file_), STDERR_FILENO);
    }
    ~StderrLines() {
        std::string written = text();
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        std::fclose(file_);
        std::fputs(written.c_str(), stderr);
    }

    std::string text() {
        std::fflush(stderr);
        std::string all;
        char chunk[4096];
        for (off_t at = 0;;) {
            ssize_t got = pread(fileno(file_), chunk, sizeof chunk, at);
            if (got <= 0)
                break;
            all.append(chunk, got);
            at += got;
        }
        return all;
    }

    std::vector<std::string> lines() {
        std::vector<std::string> all;
        std::istringstream in(text());
        for (std::string line; std::getline(in, line);)
            all.push_back(line);
        return all;
    }

    int count(const std::string &line) {
        int n = 0;
        for (const std::string &each : lines())
            n += each == line;
        return n;
    }

  private:
    std::FILE *file_;
    int saved_;
};

// The program's main loop in miniature: fetches the latest picture over and
// over, as each pass of the real one does, until `done` holds or `limit` has
// passed; keeps the slowest fetch and the last picture fetched.
struct MainLoop {
    explicit MainLoop(CaptureGraph &graph) : graph(graph) {}

    CaptureGraph &graph;
    Clock::duration slowest{};
    std::vector<uint8_t> picture;
    HRESULT result = S_OK;

    template <typename Done> bool runUntil(Done done, milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            std::vector<uint8_t> data(sampleBytes);
            LONG size = sampleBytes;
            const auto before = Clock::now();
            result = graph.grabber->GetCurrentBuffer(&size, reinterpret_cast<LONG *>(data.data()));
            slowest = std::max(slowest, Clock::now() - before);
            if (result == S_OK)
                picture = std::move(data);
            if (done())
                return true;
            std::this_thread::sleep_for(milliseconds(2));
        }
        return false;
    }

    // Whether the last picture fetched is all `colour`, checked at a few places.
    bool shows(Rgb colour) {
        if (picture.size() != size_t(sampleBytes))
            return false;
        for (int x : {0, 160, 319})
            for (int y : {0, 120, 239}) {
                Rgb seen = pixel(picture, x, y);
                if (seen.r != colour.r || seen.g != colour.g || seen.b != colour.b)
                    return false;
            }
        return true;
    }
};

std::vector<uint8_t> plain(Rgb colour) {
    return quarters(320, 240, colour, colour, colour, colour);
}

long long ms(Clock::duration d) { return std::chrono::duration_cast<milliseconds>(d).count(); }

const std::string backLine = "cloakcam: camera back";

// A fetch takes microseconds; this bound only allows for a busy machine
// descheduling the test, far below a pipeline's state change.
const auto slowFetch = milliseconds(100);

} // namespace

// However the camera goes, the main loop keeps getting the last picture at
// once, and one line says why.
TEST(CameraLoss, KeepsTheLastPictureAndSaysSoOnce) {
    struct Case {
        const char *how;
        void (*lose)(FakeCamera &);
        const char *line;
    };
    const Case cases[] = {
        {"pulled out", [](FakeCamera &c) { c.unplug(); },
         "cloakcam: camera lost: it was unplugged"},
        {"driver error", [](FakeCamera &c) { c.fail(fake_camera::Failure::DriverError); },
         "cloakcam: camera lost: Could not read from resource."},
        {"end of stream", [](FakeCamera &c) { c.fail(fake_camera::Failure::EndOfStream); },
         "cloakcam: camera lost: it stopped sending pictures"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.how);
        CoInitialize(nullptr);
        FakeCamera camera(320, 240, plain(red));
        setenv("CLOAKCAM_DEVICE", fake_camera::path(), 1);
        CaptureGraph graph;
        unsetenv("CLOAKCAM_DEVICE");
        MainLoop loop(graph);
        ASSERT_TRUE(loop.runUntil([&] { return loop.shows(red); }, milliseconds(3000)));

        StderrLines stderrLines;
        const auto lost = Clock::now();
        c.lose(camera);
        ASSERT_TRUE(
            loop.runUntil([&] { return stderrLines.count(c.line) > 0; }, milliseconds(3000)))
            << stderrLines.text();
        const auto said = Clock::now() - lost;
        // Later failures of the same loss (the stream's own error after the
        // camera's, the pipeline's end) add nothing.
        loop.runUntil([] { return false; }, milliseconds(300));
        EXPECT_EQ(loop.result, S_OK);
        EXPECT_TRUE(loop.shows(red)) << "the last picture stays";
        EXPECT_EQ(stderrLines.lines(), std::vector<std::string>{c.line});
        EXPECT_LT(loop.slowest, slowFetch) << "fetching a picture never waits";
        std::printf(
            "[ figures  ] %s: line after %lld ms, slowest fetch %lld us\n", c.how, ms(said),
            static_cast<long long>(
                std::chrono::duration_cast<std::chrono::microseconds>(loop.slowest).count()));
    }
}

// The camera plugged back in shows its new picture through the same graph,
// announced once; a camera that failed while staying listed returns when it
// is pulled out and plugged in again, with no second line about its loss.
TEST(CameraReturn, NewPicturesFlowAndOneLineSaysSo) {
    CoInitialize(nullptr);
    FakeCamera camera(320, 240, plain(red));
    setenv("CLOAKCAM_DEVICE", fake_camera::path(), 1);
    CaptureGraph graph;
    unsetenv("CLOAKCAM_DEVICE");
    MainLoop loop(graph);
    ASSERT_TRUE(loop.runUntil([&] { return loop.shows(red); }, milliseconds(3000)));

    StderrLines stderrLines;
    camera.fail(fake_camera::Failure::DriverError);
    const std::string lostLine = "cloakcam: camera lost: Could not read from resource.";
    ASSERT_TRUE(
        loop.runUntil([&] { return stderrLines.count(lostLine) == 1; }, milliseconds(3000)));
    camera.unplug();
    loop.runUntil([] { return false; }, milliseconds(100));
    const auto plugged = Clock::now();
    camera.plug(640, 480, quarters(640, 480, blue, blue, blue, blue));
    ASSERT_TRUE(loop.runUntil([&] { return loop.shows(blue); }, milliseconds(3000)))
        << stderrLines.text();
    const auto resumed = Clock::now() - plugged;
    loop.runUntil([] { return false; }, milliseconds(200));
    EXPECT_EQ(stderrLines.lines(), (std::vector<std::string>{lostLine, backLine}));
    EXPECT_LT(loop.slowest, slowFetch);
    std::printf("[ figures  ] plugged back in to new pictures: %lld ms\n", ms(resumed));
}

TEST(CameraReturn, EveryLossAndReturnIsOneLine) {
    CoInitialize(nullptr);
    FakeCamera camera(320, 240, plain(red));
    setenv("CLOAKCAM_DEVICE", fake_camera::path(), 1);
    CaptureGraph graph;
    unsetenv("CLOAKCAM_DEVICE");
    MainLoop loop(graph);
    ASSERT_TRUE(loop.runUntil([&] { return loop.shows(red); }, milliseconds(3000)));

    StderrLines stderrLines;
    const Rgb colours[] = {green, yellow, blue, red};
    const fake_camera::Failure failures[] = {
        fake_camera::Failure::Unplugged, fake_camera::Failure::EndOfStream,
        fake_camera::Failure::DriverError, fake_camera::Failure::Unplugged};
    Rgb shown = red;
    long long slowestReturn = 0;
    for (int cycle = 0; cycle < 4; ++cycle) {
        SCOPED_TRACE(cycle);
        camera.fail(failures[cycle]);
        camera.unplug();
        ASSERT_TRUE(
            loop.runUntil([&] { return stderrLines.lines().size() == size_t(2 * cycle + 1); },
                          milliseconds(3000)));
        EXPECT_TRUE(loop.shows(shown));
        const auto plugged = Clock::now();
        camera.plug(320, 240, plain(colours[cycle]));
        ASSERT_TRUE(loop.runUntil([&] { return loop.shows(colours[cycle]); }, milliseconds(3000)))
            << stderrLines.text();
        slowestReturn = std::max(slowestReturn, ms(Clock::now() - plugged));
        shown = colours[cycle];
    }
    loop.runUntil([] { return false; }, milliseconds(200));
    std::vector<std::string> lines = stderrLines.lines();
    ASSERT_EQ(lines.size(), 8u) << stderrLines.text();
    for (size_t i = 0; i < lines.size(); i += 2) {
        EXPECT_EQ(lines[i].rfind("cloakcam: camera lost: ", 0), 0u) << lines[i];
        EXPECT_EQ(lines[i + 1], backLine);
    }
    EXPECT_LT(loop.slowest, slowFetch);
    std::printf("[ figures  ] slowest of 4 returns to new pictures: %lld ms\n", slowestReturn);
}

// Stopping the graph just as the camera comes back, or while it is away, ends
// at once and lets go of every object.
TEST(CameraReturn, StoppingWhileTheCameraIsAwayOrReturningEndsCleanly) {
    for (bool returning : {false, true}) {
        SCOPED_TRACE(returning ? "returning" : "away");
        CoInitialize(nullptr);
        FakeCamera camera(320, 240, plain(red));
        setenv("CLOAKCAM_DEVICE", fake_camera::path(), 1);
        StderrLines stderrLines;
        const auto stopped = [&] {
            CaptureGraph graph;
            unsetenv("CLOAKCAM_DEVICE");
            MainLoop loop(graph);
            EXPECT_TRUE(loop.runUntil([&] { return loop.shows(red); }, milliseconds(3000)));
            camera.unplug();
            EXPECT_TRUE(
                loop.runUntil([&] { return !stderrLines.lines().empty(); }, milliseconds(3000)));
            if (returning)
                camera.plug(320, 240, plain(green));
            return Clock::now();
        }();
        EXPECT_LT(Clock::now() - stopped, milliseconds(1000));
        EXPECT_LE(stderrLines.count(backLine), 1);
    }
}

// A camera that cannot stream from the start is named in one line with the
// reason, and nothing else is said; fetching pictures keeps answering at once.
// Once it is plugged in again and works, it is back.
TEST(CameraStart, BusyOrFormatlessCameraIsOneLineNamingIt) {
    struct Case {
        fake_camera::Refusal refusal;
        const char *line;
    };
    const Case cases[] = {
        {fake_camera::Refusal::Busy,
         "cloakcam: cannot use camera /dev/fake-video0 (Fake Camera): it is busy"},
        {fake_camera::Refusal::NoFormat, "cloakcam: cannot use camera /dev/fake-video0 (Fake "
                                         "Camera): it offers no picture format that can be shown"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        CoInitialize(nullptr);
        FakeCamera camera(320, 240, plain(red));
        camera.refuse(c.refusal);
        setenv("CLOAKCAM_DEVICE", fake_camera::path(), 1);
        StderrLines stderrLines;
        const auto started = Clock::now();
        CaptureGraph graph;
        unsetenv("CLOAKCAM_DEVICE");
        MainLoop loop(graph);
        ASSERT_TRUE(
            loop.runUntil([&] { return stderrLines.count(c.line) == 1; }, milliseconds(3000)))
            << stderrLines.text();
        const auto said = Clock::now() - started;
        loop.runUntil([] { return false; }, milliseconds(300));
        EXPECT_EQ(loop.result, VFW_E_WRONG_STATE) << "no picture has come";
        EXPECT_EQ(stderrLines.lines(), std::vector<std::string>{c.line});
        EXPECT_LT(loop.slowest, slowFetch);
        std::printf("[ figures  ] start to line: %lld ms\n", ms(said));

        // Whoever waits for a first picture learns from the graph that none will come.
        IMediaEvent *events = query<IMediaEvent>(graph.graph, IID_IMediaEvent);
        LONG code = 0;
        LONG_PTR param1 = 0, param2 = 0;
        EXPECT_EQ(events->GetEvent(&code, &param1, &param2, 1000), S_OK);
        EXPECT_EQ(code, EC_ERRORABORT);
        EXPECT_EQ(events->GetEvent(&code, &param1, &param2, 0), E_ABORT) << "said once";
        EXPECT_EQ(events->GetEvent(nullptr, &param1, &param2, 0), E_POINTER);
        events->Release();

        camera.refuse(fake_camera::Refusal::None);
        camera.unplug();
        camera.plug(320, 240, plain(green));
        EXPECT_TRUE(loop.runUntil([&] { return loop.shows(green); }, milliseconds(3000)));
        loop.runUntil([] { return false; }, milliseconds(100));
        EXPECT_EQ(stderrLines.lines(), (std::vector<std::string>{c.line, backLine}));
    }
}
