// The program's own decisions about cameras, the same on every system: which
// one to show, what to tell the user as it comes and goes, and the picture
// shown without one.

#include "capture/camera_choice.h"
#include "capture/camera_status.h"
#include "capture/test_pattern.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

namespace {

const std::vector<CameraName> cameras = {
    {"Desk", "/dev/video0"}, {"Back", "/dev/video2"}, {"Front", "/dev/video10"}};

TEST(CameraChoice, NamedByPathOrNameElseTheFirstOrThePattern) {
    struct Case {
        std::vector<CameraName> listed;
        const char *wanted;
        int index;
        const char *message;
    };
    const Case cases[] = {
        {cameras, "", 0, ""},
        {cameras, "/dev/video10", 2, ""},
        {cameras, "Back", 1, ""},
        {cameras, "pattern", -1, ""},
        {cameras, "Nowhere", 0, "no camera called Nowhere, using /dev/video0 (Desk)"},
        {{}, "", -1, "no camera found, showing a test pattern"},
        {{}, "pattern", -1, ""},
        {{},
         "/dev/video3",
         -1,
         "no camera called /dev/video3, and no camera found: showing a test pattern"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.wanted);
        const CameraChoice choice = chooseCamera(c.listed, c.wanted);
        EXPECT_EQ(choice.index, c.index);
        EXPECT_EQ(choice.message, c.message);
    }
    // A camera back under another path is found by its name, unless a camera
    // of that name was there all along: that one is another of the model.
    EXPECT_EQ(findCamera(cameras, {"Back", "/dev/video4"}, {}), 1);
    EXPECT_EQ(findCamera(cameras, {"Gone", "/dev/video4"}, {}), -1);
    EXPECT_EQ(findCamera(cameras, {"Back", "/dev/video4"}, cameras), -1);
    EXPECT_EQ(findCamera(cameras, {"Back", "/dev/video2"}, cameras), 1);
    // A camera's port outweighs its number.
    const std::vector<CameraName> ported = {{"Desk", "/dev/video1", "usb-1"},
                                            {"Desk", "/dev/video0", "usb-2"}};
    EXPECT_EQ(findCamera(ported, {"Desk", "/dev/video0", "usb-1"}, {}), 0);
    EXPECT_EQ(findCamera({ported[1]}, {"Desk", "/dev/video0", "usb-1"}, {}), -1);
    EXPECT_EQ(chooseCamera(ported, "usb-2").index, 1);
    // udev's stable link to a node names the camera at that node.
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "cloakcam-by-id";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "video7").put('\n');
    std::filesystem::remove(folder / "usb-Desk-video-index0");
    std::filesystem::create_symlink(folder / "video7", folder / "usb-Desk-video-index0");
    const std::string node = std::filesystem::canonical(folder / "video7").string();
    EXPECT_EQ(
        chooseCamera({cameras[0], {"Desk", node}}, (folder / "usb-Desk-video-index0").string())
            .index,
        1);
    std::filesystem::remove_all(folder);
    EXPECT_EQ(describeCamera({"Named", "Named"}), "Named");
    for (const char *routed : {"HD WebCam: HD WebCam", "HD WebCam (V4L2)", "HD WebCam"})
        EXPECT_EQ(modelName(routed), "HD WebCam");
    EXPECT_EQ(modelName("Integrated Camera: Integrated C"), "Integrated Camera");
    EXPECT_EQ(modelName("Dock: Camera"), "Dock: Camera");
    EXPECT_EQ(describeCamera({"Named", "\\\\?\\usb#vid_046d#1&2\\global"}), "Named");
}

TEST(CameraChoice, TheColourCameraAUserMeansComesFirst) {
    std::vector<CameraName> listed = {{"Integrated IR Camera", "/dev/video0"},
                                      {"Hello", "/dev/video2"},
                                      {"ISYS Capture 0", "/dev/video4"},
                                      {"HD Webcam", "/dev/video6"},
                                      {"Built-in Front Camera", "Built-in Front Camera"},
                                      {"Webcam (IRIS)", "/dev/video8"}};
    listed[1].monochrome = true;
    listed[2].mediaController = true;
    listed[4].cameraService = true;
    EXPECT_EQ(rankCameras(listed), (std::vector<int>{4, 3, 5, 2, 0, 1}));
    EXPECT_EQ(chooseCamera(listed, "").index, 4);
    EXPECT_EQ(chooseCamera(listed, "Hello").index, 1) << "a camera named is taken as it is";
}

TEST(CameraStatus, OneLineForEachStartLossAndReturn) {
    CameraStatus status;
    EXPECT_EQ(status.recordLoss("it was unplugged").line, "") << "no camera, nothing to say";
    EXPECT_FALSE(status.returned());

    status.start({"Desk", "/dev/video0"});
    EXPECT_EQ(status.recordLoss("it is busy").line,
              "cannot use camera /dev/video0 (Desk): it is busy");
    EXPECT_EQ(status.recordLoss("it failed").line, "") << "one line per loss";
    EXPECT_TRUE(status.returned());
    EXPECT_FALSE(status.returned()) << "one graph per return";
    EXPECT_EQ(status.pictureArrived(), "camera back");
    EXPECT_EQ(status.pictureArrived(), "");
    EXPECT_EQ(status.recordLoss("it was unplugged").line, "camera lost: it was unplugged");
    EXPECT_TRUE(status.returned());
    EXPECT_EQ(status.recordLoss("it was unplugged").line, "") << "a failed return stays quiet";
    EXPECT_EQ(status.state(), CameraStatus::State::Lost);

    EXPECT_EQ(reasonFor(HRESULT_FROM_WIN32(ERROR_BUSY)), "it is in use by another program");
    EXPECT_EQ(reasonFor(static_cast<HRESULT>(0x8007001Ful)), "it is in use by another program");
    EXPECT_EQ(reasonFor(static_cast<HRESULT>(0x800705AAul)),
              "it is in use by another program, or its USB port has no bandwidth left: try "
              "another port");
    EXPECT_EQ(reasonFor(static_cast<HRESULT>(0xC00D3704ul)), "it is in use by another program");
    EXPECT_TRUE(isRefusal(static_cast<HRESULT>(0xC00D3704ul)));
    EXPECT_EQ(reasonFor(static_cast<HRESULT>(0x80070651ul)), "it was unplugged");
    EXPECT_EQ(unconnectedReason(static_cast<HRESULT>(0x8004022Aul), "NV12 1920x1080"),
              "it could not be connected (error 0x8004022A); it offers NV12 1920x1080");
    EXPECT_EQ(unreadableReason(1000), "it sends pictures of 1000 bytes, which fit no size");
    EXPECT_EQ(reasonFor(E_ACCESSDENIED).rfind("access to it was refused; ", 0), 0u);
    EXPECT_TRUE(isRefusal(E_ACCESSDENIED));
    EXPECT_TRUE(isRefusal(static_cast<HRESULT>(0x8007001Ful)));
    EXPECT_FALSE(isRefusal(VFW_E_CANNOT_CONNECT));
    EXPECT_EQ(reasonFor(VFW_E_CANNOT_CONNECT), "it offers no picture format that can be shown");
    EXPECT_EQ(reasonFor(E_FAIL), "it failed (error 0x80004005)");
}

// The title follows the same steps as the lines, and a long name is cut
// whole characters at a time so that the status around it stays in view.
TEST(CameraStatus, TheTitleSaysWhatIsShown) {
    CameraStatus status;
    const std::string accented = "\xc3\xa9";
    std::string longAccented, cutAccented;
    for (int k = 0; k < 30; ++k)
        longAccented += accented;
    for (int k = 0; k < 17; ++k)
        cutAccented += accented;
    struct Step {
        std::function<void()> act;
        std::string title;
    };
    const Step steps[] = {
        {[] {}, "cloakcam"},
        {[&] {
             status.start({"Desk", "/dev/video0"});
         },
         "cloakcam - starting Desk"},
        {[&] { status.recordLoss("it is busy"); }, "cloakcam - cannot use Desk"},
        {[&] { status.returned(); }, "cloakcam - cannot use Desk"},
        {[&] { status.pictureArrived(); }, "cloakcam - Desk"},
        {[&] { status.recordLoss("it was unplugged"); }, "cloakcam - camera lost"},
        {[&] {
             status.returned();
             status.recordLoss("it failed");
         },
         "cloakcam - camera lost"},
        {[&] {
             status.start({"", "/dev/video2"});
         },
         "cloakcam - starting /dev/video2"},
        {[&] {
             status.start({"Integrated Webcam Ultra HD Pro", "/dev/video0"});
         },
         "cloakcam - starting Integrated Webcam..."},
        {[&] {
             status.start({"USB2.0 HD UVC WebCam", "/dev/video0"});
         },
         "cloakcam - starting USB2.0 HD UVC WebCam"},
        {[&] {
             status.start({longAccented, "/dev/video0"});
         },
         "cloakcam - starting " + cutAccented + "..."},
        {[&] { status.showPattern(""); }, "cloakcam - no camera"},
        {[&] { status.showPattern("pattern"); }, "cloakcam - test pattern"},
        {[&] { status.showPattern("Front"); }, "cloakcam - not found: Front"},
    };
    for (const Step &step : steps) {
        step.act();
        EXPECT_EQ(status.title(), step.title);
    }
}

// The pattern in the camera's layout on a tiny frame: bottom row first, blue
// before red; the chart's first column is red at the top, a quarter as bright
// at the bottom; the ball is white.
TEST(TestPattern, ChartAndBallInTheCamerasLayout) {
    const int width = 48, height = 32;
    TestPattern pattern(width, height);
    std::vector<unsigned char> frame(width * height * 3, 7);
    pattern.draw(frame.data(), 0.0);
    auto at = [&](int x, int y) { return &frame[((height - 1 - y) * width + x) * 3]; };

    const unsigned char *topLeft = at(0, 0);
    EXPECT_EQ(topLeft[0], 0);
    EXPECT_EQ(topLeft[1], 0);
    EXPECT_EQ(topLeft[2], 255);
    EXPECT_EQ(at(0, height - 1)[2], 64);
    int x, y;
    pattern.ballCentre(0.0, &x, &y);
    EXPECT_EQ(x, width / 2);
    const unsigned char *ball = at(x, y);
    EXPECT_EQ(ball[0] + ball[1] + ball[2], 3 * 255);

    // A second later the ball has left, and the chart shows where it was.
    std::vector<unsigned char> later(frame.size());
    pattern.draw(later.data(), 1.0);
    EXPECT_NE(later, frame);
    const unsigned char *same = &later[((height - 1 - y) * width + x) * 3];
    EXPECT_NE(same[0] + same[1] + same[2], 3 * 255);
}

} // namespace
