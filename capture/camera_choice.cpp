#include "capture/camera_choice.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

const char *const patternChoice = "pattern";

namespace {

const char *const patternLine = "showing a test pattern";

// Where a link names a camera's node (udev's /dev/v4l/by-id/… and by-path/…,
// which stay the same whatever number the camera gets), the node it leads to
// now; "" for anything else.
std::string linkedNode(const std::string &wanted) {
    std::error_code error;
    if (wanted.empty() || wanted[0] != '/' || !std::filesystem::is_symlink(wanted, error))
        return "";
    const std::filesystem::path node = std::filesystem::canonical(wanted, error);
    return error ? "" : node.string();
}

int indexOf(const std::vector<CameraName> &cameras, const std::string &wanted) {
    const std::string node = linkedNode(wanted);
    for (size_t i = 0; i < cameras.size(); ++i)
        if (cameras[i].path == wanted || cameras[i].name == wanted ||
            (!node.empty() && cameras[i].path == node) ||
            (!cameras[i].port.empty() && cameras[i].port == wanted))
            return static_cast<int>(i);
    return -1;
}

// Whether the name calls it an infrared camera: "IR" as a word of its own,
// as in "Integrated IR Camera" or "HD Webcam (IR)".
bool namedInfrared(const std::string &name) {
    if (name.find("Infrared") != std::string::npos || name.find("infrared") != std::string::npos)
        return true;
    auto isLetter = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
    for (size_t at = name.find("IR"); at != std::string::npos; at = name.find("IR", at + 1))
        if ((at == 0 || !isLetter(name[at - 1])) &&
            (at + 2 == name.size() || !isLetter(name[at + 2])))
            return true;
    return false;
}

int likelihood(const CameraName &camera) {
    if (camera.monochrome || namedInfrared(camera.name))
        return 3;
    if (camera.mediaController)
        return 2;
    return camera.cameraService ? 0 : 1;
}

} // namespace

CameraChoice chooseCamera(const std::vector<CameraName> &cameras, const std::string &wanted) {
    if (wanted == patternChoice)
        return {-1, ""};
    const bool named = !wanted.empty();
    if (cameras.empty())
        return {-1, named ? "no camera called " + wanted + ", and no camera found: " + patternLine
                          : std::string("no camera found, ") + patternLine};
    const int likeliest = rankCameras(cameras)[0];
    if (!named)
        return {likeliest, ""};
    const int found = indexOf(cameras, wanted);
    if (found >= 0)
        return {found, ""};
    return {likeliest,
            "no camera called " + wanted + ", using " + describeCamera(cameras[likeliest])};
}

std::vector<int> rankCameras(const std::vector<CameraName> &cameras) {
    std::vector<int> order(cameras.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return likelihood(cameras[a]) < likelihood(cameras[b]); });
    return order;
}

int findCamera(const std::vector<CameraName> &cameras, const CameraName &camera,
               const std::vector<CameraName> &before) {
    // Its port is its own, whatever number the system gave it this time; a
    // camera in another port is another camera, whatever its number.
    auto portDiffers = [&](const CameraName &c) {
        return !c.port.empty() && !camera.port.empty() && c.port != camera.port;
    };
    for (size_t i = 0; i < cameras.size(); ++i)
        if (cameras[i].path == camera.path && !portDiffers(cameras[i]))
            return static_cast<int>(i);
    for (size_t i = 0; i < cameras.size() && !camera.port.empty(); ++i)
        if (cameras[i].port == camera.port && cameras[i].name == camera.name)
            return static_cast<int>(i);
    for (size_t i = 0; i < cameras.size(); ++i) {
        const std::string &path = cameras[i].path;
        const bool seenBefore = std::any_of(before.begin(), before.end(),
                                            [&](const CameraName &c) { return c.path == path; });
        if (cameras[i].name == camera.name && !seenBefore && !portDiffers(cameras[i]))
            return static_cast<int>(i);
    }
    return -1;
}

std::string modelName(const std::string &name) {
    std::string model = name;
    const std::string route = " (V4L2)";
    if (model.size() > route.size() &&
        model.compare(model.size() - route.size(), route.size(), route) == 0)
        model.resize(model.size() - route.size());
    const size_t colon = model.find(": ");
    if (colon != std::string::npos && colon > 0) {
        const std::string first = model.substr(0, colon), second = model.substr(colon + 2);
        if (!second.empty() && first.compare(0, second.size(), second) == 0)
            model = first;
    }
    return model;
}

std::string describeCamera(const CameraName &camera) {
    if (camera.name.empty() || camera.name == camera.path)
        return camera.path;
    // Windows' device paths (\\?\usb#vid_...) say nothing a user can read.
    if (camera.path.rfind("\\\\?\\", 0) == 0)
        return camera.name;
    return camera.path + " (" + camera.name + ")";
}
