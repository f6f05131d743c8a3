#include "capture/camera_choice.h"

#include <algorithm>

const char *const patternChoice = "pattern";

namespace {

const char *const patternLine = "showing a test pattern";

int indexOf(const std::vector<CameraName> &cameras, const std::string &wanted) {
    for (size_t i = 0; i < cameras.size(); ++i)
        if (cameras[i].path == wanted || cameras[i].name == wanted)
            return static_cast<int>(i);
    return -1;
}

} // namespace

CameraChoice chooseCamera(const std::vector<CameraName> &cameras, const std::string &wanted) {
    if (wanted == patternChoice)
        return {-1, ""};
    const bool named = !wanted.empty();
    if (cameras.empty())
        return {-1, named ? "no camera called " + wanted + ", and no camera found: " + patternLine
                          : std::string("no camera found, ") + patternLine};
    if (!named)
        return {0, ""};
    const int found = indexOf(cameras, wanted);
    if (found >= 0)
        return {found, ""};
    return {0, "no camera called " + wanted + ", using " + describeCamera(cameras[0])};
}

int findCamera(const std::vector<CameraName> &cameras, const CameraName &camera,
               const std::vector<CameraName> &before) {
    for (size_t i = 0; i < cameras.size(); ++i)
        if (cameras[i].path == camera.path)
            return static_cast<int>(i);
    for (size_t i = 0; i < cameras.size(); ++i) {
        const std::string &path = cameras[i].path;
        const bool seenBefore = std::any_of(before.begin(), before.end(),
                                            [&](const CameraName &c) { return c.path == path; });
        if (cameras[i].name == camera.name && !seenBefore)
            return static_cast<int>(i);
    }
    return -1;
}

std::string describeCamera(const CameraName &camera) {
    if (camera.name.empty() || camera.name == camera.path)
        return camera.path;
    // Windows' device paths (\\?\usb#vid_...) say nothing a user can read.
    if (camera.path.rfind("\\\\?\\", 0) == 0)
        return camera.name;
    return camera.path + " (" + camera.name + ")";
}
