#include "equipment/fake_camera.h"
#include "platform_capture_graph.h"
#include "stderr_lines.h"

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

// A fetch takes microseconds; this bound only allows for a busy machine
// descheduling the test, far below a pipeline's state change.
const auto slowFetch = milliseconds(100);

struct Event {
    LONG code;
    LONG_PTR param1;
    LONG_PTR param2;
};

// The graph's events as its owner reads them.
class Events {
  public:
    explicit Events(IGraphBuilder *graph)
        : events_(query<IMediaEventEx>(graph, IID_IMediaEventEx)) {}
    ~Events() { events_->Release(); }

    // The next event, waiting up to `limit` for it; code 0 when none came.
    Event next(milliseconds limit = milliseconds(3000)) {
        Event event{0, 0, 0};
        if (events_->GetEvent(&event.code, &event.param1, &event.param2,
                              static_cast<LONG>(limit.count())) == S_OK)
            events_->FreeEventParams(event.code, event.param1, event.param2);
        else
            event.code = 0;
        return event;
    }

    IMediaEventEx *get() { return events_; }

  private:
    IMediaEventEx *events_;
};

void expectEvent(const Event &event, LONG code, LONG_PTR param2, HRESULT error = S_OK) {
    EXPECT_EQ(event.code, code);
    EXPECT_EQ(event.param2, param2);
    if (code == EC_ERRORABORT) {
        EXPECT_EQ(static_cast<HRESULT>(event.param1), error);
    }
}

// A fake camera showing red through the capture graph, the graph's events,
// and a main loop fetching its pictures.
struct Streaming {
    FakeCamera camera{320, 240, (CoInitialize(nullptr), plain(red))};
    CaptureGraph graph;
    Events events{graph.graph};
    MainLoop loop{graph};
};

} // namespace

// However the camera goes, the graph says so in one event, as Windows' capture
// filters do, and the main loop keeps getting the last picture at once.
TEST(CameraLoss, KeepsTheLastPictureAndPostsOneEvent) {
    struct Case {
        const char *how;
        void (*lose)(FakeCamera &);
        LONG code;
        HRESULT error;
    };
    const Case cases[] = {
        {"pulled out", [](FakeCamera &c) { c.unplug(); }, EC_DEVICE_LOST, S_OK},
        {"driver error", [](FakeCamera &c) { c.fail(fake_camera::Failure::DriverError); },
         EC_ERRORABORT, HRESULT_FROM_WIN32(ERROR_READ_FAULT)},
        {"end of stream", [](FakeCamera &c) { c.fail(fake_camera::Failure::EndOfStream); },
         EC_COMPLETE, S_OK},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.how);
        Streaming streaming;
        auto &[camera, graph, events, loop] = streaming;
        ASSERT_TRUE(loop.runUntil([&] { return loop.shows(red); }, milliseconds(3000)));

        const auto lost = Clock::now();
        c.lose(camera);
        Event event{0, 0, 0};
        ASSERT_TRUE(loop.runUntil([&] { return (event = events.next(milliseconds(0))).code; },
                                  milliseconds(3000)));
        const auto told = Clock::now() - lost;
        expectEvent(event, c.code, 0, c.error);
        // Later failures of the same loss (the stream's own error after the
        // camera's, the pipeline's end) add nothing.
        loop.runUntil([] { return false; }, milliseconds(300));
        EXPECT_EQ(events.next(milliseconds(0)).code, 0);
        EXPECT_EQ(loop.result, S_OK);
        EXPECT_TRUE(loop.shows(red)) << "the last picture stays";
        EXPECT_LT(loop.slowest, slowFetch) << "fetching a picture never waits";
        std::printf(
            "[ figures  ] %s: event after %lld ms, slowest fetch %lld us\n", c.how, ms(told),
            static_cast<long long>(
                std::chrono::duration_cast<std::chrono::microseconds>(loop.slowest).count()));
    }
}

// A lost camera listed again is announced once per loss, stopped graph or
// not; a camera listed while it was never lost is no news. A graph built anew
// for it shows its new picture.
TEST(CameraReturn, EveryLossAndReturnIsOnePairOfEvents) {
    Streaming streaming;
    auto &[camera, graph, events, loop] = streaming;
    ASSERT_TRUE(loop.runUntil([&] { return loop.shows(red); }, milliseconds(3000)));

    camera.unplug();
    camera.plug(320, 240, plain(green));
    EXPECT_EQ(events.next().code, EC_DEVICE_LOST);
    const fake_camera::Failure failures[] = {
        fake_camera::Failure::Unplugged, fake_camera::Failure::EndOfStream,
        fake_camera::Failure::DriverError, fake_camera::Failure::Unplugged};
    long long slowestReturn = 0;
    Event event = events.next();
    expectEvent(event, EC_DEVICE_LOST, 1);
    for (fake_camera::Failure failure : failures) {
        camera.fail(failure);
        camera.unplug();
        graph.control->Stop();
        event = events.next();
        EXPECT_TRUE(event.code == EC_DEVICE_LOST || event.code == EC_ERRORABORT ||
                    event.code == EC_COMPLETE)
            << event.code;
        EXPECT_EQ(event.param2, 0);
        const auto plugged = Clock::now();
        camera.plug(320, 240, plain(blue));
        expectEvent(events.next(), EC_DEVICE_LOST, 1);
        slowestReturn = std::max(slowestReturn, ms(Clock::now() - plugged));
    }
    EXPECT_EQ(events.next(milliseconds(200)).code, 0) << "nothing more was said";
    EXPECT_LT(loop.slowest, slowFetch);
    std::printf("[ figures  ] slowest of 4 returns to its event: %lld ms\n", slowestReturn);

    CaptureGraph rebuilt;
    MainLoop again(rebuilt);
    EXPECT_TRUE(again.runUntil([&] { return again.shows(blue); }, milliseconds(3000)));
}

// Letting go of the graph while the camera is away or just back ends at once
// and lets go of every object.
TEST(CameraReturn, ReleasingTheGraphWhileTheCameraIsAwayOrReturningEndsCleanly) {
    for (bool returning : {false, true}) {
        SCOPED_TRACE(returning ? "returning" : "away");
        CoInitialize(nullptr);
        FakeCamera camera(320, 240, plain(red));
        const auto stopped = [&] {
            CaptureGraph graph;
            Events events(graph.graph);
            MainLoop loop(graph);
            EXPECT_TRUE(loop.runUntil([&] { return loop.shows(red); }, milliseconds(3000)));
            camera.unplug();
            EXPECT_EQ(events.next().code, EC_DEVICE_LOST);
            if (returning)
                camera.plug(320, 240, plain(green));
            return Clock::now();
        }();
        EXPECT_LT(Clock::now() - stopped, milliseconds(1000));
    }
}

// A camera that cannot stream from the start is one EC_ERRORABORT with the
// reason Windows gives; fetching pictures keeps answering at once, and the
// graph says nothing on stderr: telling the user is its owner's business.
TEST(CameraStart, BusyOrFormatlessCameraIsOneErrorEvent) {
    struct Case {
        fake_camera::Refusal refusal;
        HRESULT error;
    };
    const Case cases[] = {
        {fake_camera::Refusal::Busy, HRESULT_FROM_WIN32(ERROR_BUSY)},
        {fake_camera::Refusal::NoFormat, VFW_E_NO_ACCEPTABLE_TYPES},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.error);
        CoInitialize(nullptr);
        FakeCamera camera(320, 240, plain(red));
        camera.refuse(c.refusal);
        StderrLines stderrLines;
        const auto started = Clock::now();
        CaptureGraph graph;
        Events events(graph.graph);
        MainLoop loop(graph);
        Event event{0, 0, 0};
        ASSERT_TRUE(loop.runUntil([&] { return (event = events.next(milliseconds(0))).code; },
                                  milliseconds(3000)));
        const auto said = Clock::now() - started;
        expectEvent(event, EC_ERRORABORT, 0, c.error);
        loop.runUntil([] { return false; }, milliseconds(300));
        EXPECT_EQ(loop.result, VFW_E_WRONG_STATE) << "no picture has come";
        EXPECT_EQ(events.next(milliseconds(0)).code, 0) << "said once";
        LONG code = 0;
        LONG_PTR param1 = 0, param2 = 0;
        EXPECT_EQ(events.get()->GetEvent(nullptr, &param1, &param2, 0), E_POINTER);
        EXPECT_EQ(events.get()->GetEvent(&code, &param1, &param2, 0), E_ABORT);
        EXPECT_TRUE(stderrLines.lines().empty()) << stderrLines.text();
        EXPECT_LT(loop.slowest, slowFetch);
        std::printf("[ figures  ] start to event: %lld ms\n", ms(said));
    }
}

// A camera node the user may not open fails the graph's start with the reason
// Windows gives for a camera it may not use, and nothing more is said.
TEST(CameraStart, ACameraTheUserMayNotOpenIsAccessDenied) {
    CoInitialize(nullptr);
    FakeCamera camera(320, 240, plain(red));
    camera.refuse(fake_camera::Refusal::Denied);
    StderrLines stderrLines;
    CaptureGraph graph(false);
    Events events(graph.graph);
    EXPECT_EQ(graph.control->Run(), E_ACCESSDENIED);
    EXPECT_EQ(events.next(milliseconds(300)).code, 0) << "said once, by Run";
    EXPECT_TRUE(stderrLines.lines().empty()) << stderrLines.text();
}
