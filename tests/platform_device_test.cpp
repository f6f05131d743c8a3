#include "equipment/fake_camera.h"
#include "platform/camera/camera_list.h"
#include "platform/camera/device_monitor.h"
#include "platform/camera/locked_cameras.h"
#include "platform_pins.h"

#include <gtest/gtest.h>

#include <linux/videodev2.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

std::vector<std::string> paths(const std::vector<CameraListing> &devices) {
    std::vector<std::string> result;
    for (const CameraListing &entry : devices)
        result.push_back(entry.path);
    return result;
}

using Paths = std::vector<std::string>;

} // namespace

TEST(DeviceOrder, SortsByPathWithNumbersAsNumbers) {
    std::vector<CameraListing> cameras(3);
    cameras[0].path = "/dev/video10";
    cameras[1].path = "/dev/video2";
    cameras[2].path = "/dev/video0";
    EXPECT_TRUE(sortCameras({}).empty());
    EXPECT_EQ(paths(sortCameras(cameras)), (Paths{"/dev/video0", "/dev/video2", "/dev/video10"}));
}

namespace {

IEnumMoniker *videoInputs() {
    auto *devices = create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    IEnumMoniker *monikers = nullptr;
    EXPECT_EQ(devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0), S_OK);
    EXPECT_EQ(devices->Release(), 0u);
    return monikers;
}

// The filter behind the first moniker, checked to be a capture filter with one
// output pin that answers IAMStreamConfig.
IBaseFilter *bindFirst(IEnumMoniker *monikers) {
    IMoniker *moniker = nullptr;
    ULONG fetched = 0;
    EXPECT_EQ(monikers->Next(1, &moniker, &fetched), S_OK);
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, nullptr), E_POINTER);
    IBaseFilter *filter = nullptr;
    EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                    reinterpret_cast<void **>(&filter)),
              S_OK);
    EXPECT_EQ(moniker->Release(), 0u);
    return filter;
}

int formatWidth(IBaseFilter *filter) {
    IPin *pin = firstPin(filter, PINDIR_OUTPUT);
    auto *config = query<IAMStreamConfig>(pin, IID_IAMStreamConfig);
    AM_MEDIA_TYPE *type = nullptr;
    EXPECT_EQ(config->GetFormat(&type), S_OK);
    int width = reinterpret_cast<VIDEOINFOHEADER *>(type->pbFormat)->bmiHeader.biWidth;
    deleteMediaType(type);
    config->Release();
    pin->Release();
    return width;
}

} // namespace

namespace {

std::wstring readProperty(IMoniker *moniker, const wchar_t *name) {
    IPropertyBag *bag = nullptr;
    EXPECT_EQ(
        moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void **>(&bag)),
        S_OK);
    VARIANT value;
    VariantInit(&value);
    std::wstring text;
    if (bag->Read(name, &value, nullptr) == S_OK && value.vt == VT_BSTR)
        text = value.bstrVal;
    VariantClear(&value);
    EXPECT_EQ(value.vt, VT_EMPTY);
    EXPECT_EQ(bag->Read(L"CLSID", &value, nullptr), E_INVALIDARG);
    EXPECT_EQ(bag->Release(), 0u);
    return text;
}

} // namespace

// PipeWire's hiding is heeded; libcamera's hiding of V4L2 is not, and its
// USB cameras, which V4L2 lists with their hot-plug, are left out.
TEST(DeviceMonitor, HeedsPipeWireHidingButNotLibcamera) {
    const std::vector<std::string> none, v4l2 = {"v4l2deviceprovider"};
    EXPECT_TRUE(listedDevice("GstV4l2Device", "HD WebCam", none));
    EXPECT_FALSE(listedDevice("GstV4l2Device", "HD WebCam", v4l2));
    EXPECT_TRUE(listedDevice("GstPipeWireDevice", "HD WebCam (V4L2)", v4l2));
    EXPECT_FALSE(
        listedDevice("GstLibcameraDevice", "\\_SB_.PCI0.XHC_.RHUB.HS05-5:1.0-0c45:6366", none));
    EXPECT_TRUE(listedDevice("GstLibcameraDevice", "\\_SB_.PCI0.LNK1", none));
    EXPECT_TRUE(listedDevice("GstLibcameraDevice", "/base/soc/i2c0mux/i2c@1/imx219@10", none));
}

TEST(DeviceEnum, ListsCamerasWithTheirNameAndPath) {
    CoInitialize(nullptr);
    auto *devices = create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    IEnumMoniker *monikers = reinterpret_cast<IEnumMoniker *>(1);
    EXPECT_EQ(devices->CreateClassEnumerator(MEDIATYPE_Video, &monikers, 0), S_FALSE);
    EXPECT_EQ(monikers, nullptr);
    EXPECT_EQ(devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, nullptr, 0),
              E_POINTER);
    // Without a camera, as on Windows: S_FALSE and no enumerator at all.
    monikers = reinterpret_cast<IEnumMoniker *>(1);
    const HRESULT listed =
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    EXPECT_EQ(listed == S_FALSE, monikers == nullptr);
    if (monikers) {
        EXPECT_EQ(monikers->Release(), 0u);
    }
    EXPECT_EQ(devices->Release(), 0u);

    {
        // A 160-wide fake camera tells itself apart from the default size.
        FakeCamera camera(160, 120, std::vector<uint8_t>(160 * 120 * 3, 128));
        monikers = videoInputs();
        IMoniker *several[2] = {};
        EXPECT_EQ(monikers->Next(2, several, nullptr), E_INVALIDARG);
        IMoniker *moniker = nullptr;
        ASSERT_EQ(monikers->Next(1, &moniker, nullptr), S_OK);
        EXPECT_EQ(readProperty(moniker, L"FriendlyName"), L"Fake Camera");
        EXPECT_EQ(readProperty(moniker, L"DevicePath"), L"/dev/fake-video0");
        EXPECT_EQ(moniker->Release(), 0u);
        EXPECT_EQ(monikers->Release(), 0u);

        monikers = videoInputs();
        IBaseFilter *filter = bindFirst(monikers);
        EXPECT_EQ(formatWidth(filter), 160);
        EXPECT_EQ(filter->Release(), 0u);
        EXPECT_EQ(monikers->Release(), 0u);
    }
}

namespace {

// Video nodes described as the system describes them, in a folder of the
// test's own that anyone may read.
class NodeTree {
  public:
    NodeTree() {
        char folder[] = "/tmp/cloakcam-nodes.XXXXXX";
        root_ = mkdtemp(folder);
        roots.classes = root_ + "/class";
        roots.devices = root_ + "/dev";
        roots.udev = root_ + "/udev";
        for (const std::string &made : {root_, roots.classes, roots.devices, roots.udev}) {
            std::filesystem::create_directories(made);
            std::filesystem::permissions(made, std::filesystem::perms(0755));
        }
    }
    ~NodeTree() { std::filesystem::remove_all(root_); }

    // A node; `mode` 0 for one nobody but root may open, no `udev` data
    // when empty.
    void add(const std::string &node, const std::string &dev, int mode, const std::string &name,
             const std::string &udev) {
        write(roots.classes + "/" + node + "/name", name);
        write(roots.classes + "/" + node + "/dev", dev);
        write(roots.devices + "/" + node, "", mode);
        if (!udev.empty())
            write(roots.udev + "/c" + dev, udev);
    }

    VideoNodeRoots roots;

  private:
    static void write(const std::string &path, const std::string &text, int mode = 0644) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::filesystem::permissions(std::filesystem::path(path).parent_path(),
                                     std::filesystem::perms(0755));
        std::ofstream(path) << text << "\n";
        std::filesystem::permissions(path, std::filesystem::perms(mode));
    }

    std::string root_;
};

// The locked nodes as "name=path" lines, found by a process of a user other
// than root, which may open anything.
std::string lockedAsUser(const VideoNodeRoots &roots) {
    int pipe[2];
    if (::pipe(pipe) != 0)
        return "no pipe";
    const pid_t child = fork();
    if (child == 0) {
        close(pipe[0]);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        std::string found;
        for (const LockedNode &node : findLockedNodes(roots))
            found += node.name + "=" + node.path + "\n";
        _exit(::write(pipe[1], found.data(), found.size()) == ssize_t(found.size()) ? 0 : 3);
    }
    close(pipe[1]);
    std::string found;
    char buffer[512];
    for (ssize_t got; (got = read(pipe[0], buffer, sizeof buffer)) > 0;)
        found.append(buffer, got);
    close(pipe[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return found;
}

} // namespace

// A capture node the user may not open is listed, so that using it can say
// why it fails; nodes the user may open (GStreamer lists those), nodes that
// capture nothing and nodes udev has not described are not.
TEST(LockedCameras, ListsCaptureNodesTheUserMayNotOpen) {
    struct Node {
        const char *node, *dev;
        int mode;
        const char *name, *udev;
    };
    const Node nodes[] = {
        {"video0", "81:0", 0, "uvcvideo",
         "E:ID_V4L_CAPABILITIES=:capture:\nE:ID_V4L_PRODUCT=Desk Camera"},
        {"video1", "81:1", 0, "uvcvideo", "E:ID_V4L_CAPABILITIES=:"},
        {"video2", "81:2", 0666, "Open Camera", "E:ID_V4L_CAPABILITIES=:capture:"},
        {"video3", "81:3", 0, "Side Camera", "E:ID_V4L_CAPABILITIES=:capture:"},
        {"video4", "81:4", 0, "Unknown", ""},
        {"radio0", "81:5", 0, "Radio", "E:ID_V4L_CAPABILITIES=:capture:"},
    };
    NodeTree tree;
    for (const Node &n : nodes)
        tree.add(n.node, n.dev, n.mode, n.name, n.udev);
    // Listed by sysfs, gone from /dev.
    tree.add("video5", "81:6", 0, "Gone", "E:ID_V4L_CAPABILITIES=:capture:");
    std::filesystem::remove(tree.roots.devices + "/video5");

    const std::string found = lockedAsUser(tree.roots);
    const std::string dev = tree.roots.devices;
    EXPECT_TRUE(found == "Desk Camera=" + dev + "/video0\nSide Camera=" + dev + "/video3\n" ||
                found == "Side Camera=" + dev + "/video3\nDesk Camera=" + dev + "/video0\n")
        << found;
    EXPECT_TRUE(findLockedNodes({tree.roots.classes + "/none", dev, tree.roots.udev}).empty());
}

namespace {

std::vector<std::string> asked;

// Each node says it captures, but the one whose name says it holds metadata.
bool answerAsCamera(const std::string &path, NodeCapabilities *capabilities) {
    asked.push_back(path);
    if (path.find("video6") != std::string::npos) {
        errno = EACCES;
        return false;
    }
    const bool meta = path.find("video5") != std::string::npos;
    *capabilities = {"Card", "usb-1", meta ? V4L2_CAP_META_CAPTURE : V4L2_CAP_VIDEO_CAPTURE + 0ul};
    return true;
}

} // namespace

// A capture node that opens but was never listed is listed all the same: one
// the user was allowed to open after the provider looked, a loopback camera
// whose producer came later. Nodes udev calls neither capture nor output are
// never opened, and nodes listed already are left alone.
TEST(UnlistedCameras, ListsCaptureNodesTheProviderLeftOut) {
    NodeTree tree;
    tree.add("video0", "81:0", 0666, "Listed", "E:ID_V4L_CAPABILITIES=:capture:");
    tree.add("video2", "81:2", 0666, "Allowed", "E:ID_V4L_CAPABILITIES=:capture:");
    tree.add("video3", "81:3", 0666, "Loopback", "E:ID_V4L_CAPABILITIES=:video_output:");
    tree.add("video4", "81:4", 0666, "Metadata", "E:ID_V4L_CAPABILITIES=:");
    tree.add("video5", "81:5", 0666, "Metadata too", "E:ID_V4L_CAPABILITIES=:capture:");
    tree.add("video6", "81:6", 0666, "Refused", "E:ID_V4L_CAPABILITIES=:capture:");
    const std::string dev = tree.roots.devices;
    asked.clear();
    std::vector<std::string> found;
    for (const LockedNode &node : findUnlistedNodes({dev + "/video0"}, answerAsCamera, tree.roots))
        found.push_back(node.name + "=" + node.path + "@" + node.bus);
    std::sort(found.begin(), found.end());
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(found, (std::vector<std::string>{"Card=" + dev + "/video2@usb-1",
                                               "Card=" + dev + "/video3@usb-1",
                                               "Refused=" + dev + "/video6@"}));
    EXPECT_EQ(asked, (std::vector<std::string>{dev + "/video2", dev + "/video3", dev + "/video5",
                                               dev + "/video6"}));
}
