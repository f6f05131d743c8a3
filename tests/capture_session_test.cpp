// The camera's rules on a clock of the test's own: every timer and rule of
// the session, run in no time.

#include "capture/camera_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Order = CameraSession::Order;
using Retry = CameraSession::Retry;
using Millis = CameraSession::Millis;

const CameraName desk{"Desk", "/dev/video0"};
const CameraName twin{"Desk", "/dev/video2"};

struct Session : CameraSession {
    explicit Session(const std::string &wanted = "")
        : CameraSession(wanted, [this](const std::string &line) { lines.push_back(line); }) {}

    // Lets the session run pass by pass, 10 ms apart, until `until`, with the
    // cameras listed being `cameras`; the times at which it had the graph
    // rebuilt.
    std::vector<Millis> run(Millis until, const std::vector<CameraName> &cameras,
                            bool rebuildFails = false, Retry how = Retry::Refused) {
        std::vector<Millis> rebuilds;
        for (; now <= until; now += 10) {
            Order order = next(now);
            if (order == Order::LookForCameras)
                order = camerasListed(cameras, now);
            if (order != Order::Rebuild)
                continue;
            rebuilds.push_back(now);
            cameraFor(cameras, now);
            rebuilt(now);
            // Told twice, as Run's result and as the camera's event.
            for (int k = 0; rebuildFails && k < 2; ++k)
                failed(how == Retry::Refused ? "it is in use by another program"
                                             : "it cannot be read",
                       how, now);
        }
        return rebuilds;
    }

    // The camera streams until `until`: a sample and a picture each pass;
    // whether its first picture was a new source.
    bool stream(Millis until) {
        bool first = true, fresh = false;
        for (; now <= until; now += 10) {
            samplesCounted(++samples, now);
            cameraPicture();
            pictureShown();
            fresh = first ? newSource() : fresh && !newSource();
            first = false;
        }
        return fresh;
    }

    std::vector<std::string> lines;
    Millis now = 0;
    unsigned long samples = 0;
};

TEST(CameraSession, ACameraWithoutAPictureInFiveSecondsHasFailedAndIsTriedAgain) {
    Session session;
    ASSERT_EQ(session.cameraFor({desk}, 0), 0);
    EXPECT_EQ(session.title(), "cloakcam - starting Desk");
    EXPECT_TRUE(session.awaitingFirstPicture(4990));
    EXPECT_FALSE(session.awaitingFirstPicture(5000));
    EXPECT_FALSE(session.awaitingFirstPicture(9000));
    EXPECT_EQ(session.lines, (std::vector<std::string>{"cannot use camera /dev/video0 (Desk): it "
                                                       "has delivered no picture in 5 seconds"}));
    EXPECT_EQ(session.title(), "cloakcam - cannot use Desk");
    EXPECT_EQ(session.next(9000), Order::Stop);
    session.now = 9000;
    EXPECT_EQ(session.run(9100, {desk}), (std::vector<Millis>{9000}));

    Session quick;
    quick.cameraFor({desk}, 0);
    quick.now = 100;
    quick.stream(200);
    EXPECT_FALSE(quick.awaitingFirstPicture(300));
    EXPECT_EQ(quick.title(), "cloakcam - Desk");
    EXPECT_TRUE(quick.lines.empty());
}

TEST(CameraSession, ACameraSilentForThreeSecondsIsLostAndStopped) {
    Session session;
    session.cameraFor({desk}, 0);
    session.stream(1000);
    for (Millis t = 1010; t <= 4010; t += 10) {
        session.samplesCounted(session.samples, t);
        EXPECT_EQ(session.next(t) == Order::Stop, t == 4010) << t;
    }
    EXPECT_EQ(session.lines,
              (std::vector<std::string>{"camera lost: it stopped sending pictures"}));
    EXPECT_EQ(session.title(), "cloakcam - camera lost");
}

TEST(CameraSession, UnpluggedThenBackIsRebuiltAtOnceAndToldOnce) {
    Session session;
    session.cameraFor({desk}, 0);
    EXPECT_TRUE(session.stream(500)) << "the first picture is a new source";
    session.unplugged(510);
    session.unplugged(520);
    EXPECT_EQ(session.next(520), Order::Stop);
    EXPECT_EQ(session.run(3000, {}), std::vector<Millis>{});
    session.pluggedBack(3010);
    EXPECT_EQ(session.next(3010), Order::Rebuild);
    EXPECT_EQ(session.next(3020), Order::Rebuild) << "until the graph is rebuilt";
    EXPECT_EQ(session.cameraFor({desk}, 3030), 0);
    session.rebuilt(3030);
    EXPECT_FALSE(session.stream(3100)) << "the same camera keeps its reference";
    EXPECT_EQ(session.lines,
              (std::vector<std::string>{"camera lost: it was unplugged", "camera back"}));
}

TEST(CameraSession, RefusalsAreTriedAgainEverLessOftenAndNeverGivenUp) {
    Session session;
    session.cameraFor({desk}, 0);
    session.failed("it is in use by another program", Retry::Refused, 0);
    EXPECT_EQ(session.run(60000, {desk}, true),
              (std::vector<Millis>{2010, 6010, 14010, 30010, 46010}));
    EXPECT_EQ(session.lines,
              (std::vector<std::string>{"cannot use camera /dev/video0 (Desk): it is in use by "
                                        "another program"}));
    // Once it works, the next refusal starts again at 2 seconds.
    session.stream(60100);
    session.failed("it is in use by another program", Retry::Refused, 60100);
    EXPECT_EQ(session.run(64200, {desk}, true), (std::vector<Millis>{62110}));

    // Any other failure backs off the same way.
    Session failing;
    failing.cameraFor({desk}, 0);
    failing.failed("it cannot be read", Retry::Failed, 0);
    EXPECT_EQ(failing.run(31000, {desk}, true, Retry::Failed),
              (std::vector<Millis>{2010, 6010, 14010, 30010}));
    // And so does a camera whose graph is built but never gives a picture.
    Session silent;
    silent.cameraFor({desk}, 0);
    silent.failed("it cannot be read", Retry::Failed, 0);
    EXPECT_EQ(silent.run(31000, {desk}), (std::vector<Millis>{2010, 6010, 14010, 30010}));
}

TEST(CameraSession, ACameraFailingBeforeItsFirstPictureGivesWayToTheNext) {
    const CameraName raw{"ISYS Capture 0", "/dev/video0"}, front{"Front", "/dev/video4"};
    Session session;
    ASSERT_EQ(session.cameraFor({raw, front}, 0), 0);
    session.failed("it cannot be read", Retry::Failed, 100);
    EXPECT_EQ(session.next(100), Order::Stop);
    EXPECT_EQ(session.next(110), Order::Rebuild);
    EXPECT_EQ(session.cameraFor({raw, front}, 110), 1);
    session.rebuilt(110);
    EXPECT_TRUE(session.awaitingFirstPicture(5100)) << "five seconds of its own";
    EXPECT_FALSE(session.awaitingFirstPicture(5110));
    EXPECT_EQ(session.lines,
              (std::vector<std::string>{
                  "cannot use camera /dev/video0 (ISYS Capture 0): it cannot be read",
                  "using camera /dev/video4 (Front)",
                  "cannot use camera /dev/video4 (Front): it has delivered no picture in 5 "
                  "seconds"}));
    session.now = 5110;
    EXPECT_EQ(session.run(8000, {raw, front}).size(), 1u) << "the last is tried again";

    // Not a refused camera, nor one the user named.
    Session refused, named("/dev/video0");
    for (Session *s : {&refused, &named}) {
        s->cameraFor({raw, front}, 0);
        s->failed("it cannot be read", s == &refused ? Retry::Refused : Retry::Failed, 100);
        EXPECT_EQ(s->lines.size(), 1u);
        EXPECT_EQ(s->run(4100, {raw, front}), (std::vector<Millis>{4010}));
        EXPECT_EQ(s->cameraFor({raw, front}, 4100), 0);
    }
}

TEST(CameraSession, ACameraThatCannotBeShownWaitsForAnotherListOfCameras) {
    Session session;
    session.cameraFor({desk}, 0);
    session.failed("it offers no picture format that can be shown", Retry::WhenCamerasChange, 0);
    EXPECT_TRUE(session.run(30000, {desk}).empty());
    EXPECT_EQ(session.run(32000, {desk, twin}), (std::vector<Millis>{30010}));

    // One that connects in none of its formats is also tried on the longest
    // back-off.
    Session unconnected;
    unconnected.cameraFor({desk}, 0);
    unconnected.failed("it could not be connected", Retry::Rarely, 0);
    EXPECT_EQ(unconnected.run(40000, {desk}, true, Retry::Rarely),
              (std::vector<Millis>{16010, 32010}));
}

// A camera whose port has no bandwidth left is built again at once, asked
// for less, and only then told of and backed off like a refusal.
TEST(CameraSession, OutOfBandwidthTriesLessOnceBeforeSayingSo) {
    Session session;
    session.cameraFor({desk}, 0);
    EXPECT_FALSE(session.bandwidthLowered());
    session.failed("no bandwidth", Retry::Bandwidth, 100);
    session.failed("no bandwidth", Retry::Bandwidth, 100);
    EXPECT_TRUE(session.lines.empty());
    EXPECT_TRUE(session.bandwidthLowered());
    session.now = 110;
    EXPECT_EQ(session.run(7000, {desk}, true, Retry::Bandwidth),
              (std::vector<Millis>{110, 2130, 6130}));
    EXPECT_EQ(session.lines.size(), 1u) << "told once the lowered try failed too";
    Session other;
    other.cameraFor({twin}, 0);
    EXPECT_FALSE(other.bandwidthLowered()) << "each camera starts with all it offers";
}

TEST(CameraSession, TheOneInUseIsFollowedNeverItsTwin) {
    Session session;
    session.cameraFor({desk, twin}, 0);
    session.stream(100);
    session.unplugged(110);
    EXPECT_TRUE(session.run(10000, {twin}).empty()) << "the twin is not the camera back";
    EXPECT_EQ(session.run(12000, {twin, desk}).size(), 1u);
    session.stream(12100);
    EXPECT_EQ(session.lines,
              (std::vector<std::string>{"camera lost: it was unplugged", "camera back"}));
}

TEST(CameraSession, NoCameraIsSaidMissingBeforeTheSystemHasLookedEverywhere) {
    Session late, none;
    for (Session *s : {&late, &none}) {
        EXPECT_EQ(s->cameraFor({}, 0, false), -1);
        EXPECT_TRUE(s->showsPattern());
        EXPECT_EQ(s->title(), "cloakcam - looking for cameras");
        EXPECT_EQ(s->next(250), Order::LookForCameras);
        EXPECT_EQ(s->camerasListed({}, 250, false), Order::None);
        EXPECT_EQ(s->next(300), Order::None);
        EXPECT_EQ(s->next(500), Order::LookForCameras);
    }
    EXPECT_EQ(late.camerasListed({desk}, 500), Order::Rebuild);
    EXPECT_EQ(late.cameraFor({desk}, 510), 0);
    late.rebuilt(510);
    EXPECT_TRUE(late.lines.empty());
    EXPECT_FALSE(late.showsPattern());
    EXPECT_EQ(late.title(), "cloakcam - starting Desk");
    EXPECT_EQ(none.camerasListed({}, 500), Order::Rebuild);
    EXPECT_EQ(none.cameraFor({}, 510), -1);
    EXPECT_EQ(none.lines, (std::vector<std::string>{"no camera found, showing a test pattern"}));
}

TEST(CameraSession, ThePatternStandsInUntilACameraComes) {
    Session session;
    EXPECT_EQ(session.cameraFor({}, 0), -1);
    EXPECT_TRUE(session.showsPattern());
    session.pictureShown();
    EXPECT_TRUE(session.newSource());
    session.pictureShown();
    EXPECT_FALSE(session.newSource());
    EXPECT_TRUE(session.run(5000, {}).empty());
    EXPECT_EQ(session.run(7000, {desk}), (std::vector<Millis>{6000}));
    EXPECT_FALSE(session.showsPattern());
    EXPECT_EQ(session.title(), "cloakcam - starting Desk");
    EXPECT_TRUE(session.stream(7100)) << "a camera in the pattern's place";
    EXPECT_EQ(session.lines, (std::vector<std::string>{"no camera found, showing a test pattern",
                                                       "using camera /dev/video0 (Desk)"}));

    Session asked("pattern");
    asked.cameraFor({}, 0);
    EXPECT_TRUE(asked.run(10000, {desk}).empty()) << "the pattern the user asked for stays";
    Session named("Back");
    named.cameraFor({}, 0);
    EXPECT_TRUE(named.run(5000, {desk}).empty()) << "only the camera named is waited for";
}

} // namespace
