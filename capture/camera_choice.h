#ifndef CLOAKCAM_CAPTURE_CAMERA_CHOICE_H
#define CLOAKCAM_CAPTURE_CAMERA_CHOICE_H

// Which camera the program shows, decided the same way on every system from
// what the device enumerator lists and what the user asked for.

#include <string>
#include <utility>
#include <vector>

struct CameraName {
    CameraName() = default;
    CameraName(std::string name, std::string path, std::string port = {})
        : name(std::move(name)), path(std::move(path)), port(std::move(port)) {}

    std::string name; // what the system calls it
    std::string path; // where it lives; unique among the cameras listed
    // The port it is plugged into, where the system says: a camera back under
    // another path is still the same camera there.
    std::string port;
    // What the system tells of it that picks out the colour camera a user
    // means from the rest, where the system tells it.
    bool mediaController = false; // a raw sensor node, silent until a media pipeline is set up
    bool monochrome = false;      // grey pictures only, as infrared login cameras give
    bool cameraService = false;   // reached through a camera service, not its device node

    bool operator==(const CameraName &other) const {
        return name == other.name && path == other.path && port == other.port;
    }
};

// The value of CLOAKCAM_DEVICE that asks for the built-in test pattern.
extern const char *const patternChoice;

struct CameraChoice {
    // Into the list, or -1 for the test pattern.
    int index;
    // One line for the user, without the newline, or empty.
    std::string message;
};

// The camera whose path, port or name is `wanted`, else the one a user most
// likely means (see rankCameras); the test pattern when `wanted` says so or
// nothing is listed. `wanted` is empty when the user named nothing.
CameraChoice chooseCamera(const std::vector<CameraName> &cameras, const std::string &wanted);

// Indices into `cameras`, the likeliest first: cameras reached through a
// camera service (which drives a laptop's sensor for us), then device nodes,
// then raw sensor nodes, then infrared and grey-only ones; otherwise in the
// system's order.
std::vector<int> rankCameras(const std::vector<CameraName> &cameras);

// The same camera again after it went away: by path, else by name (a camera
// plugged back in may get another path), but never one listed under another
// path in `before`, the cameras listed while it was in use: that is another
// camera of the same model. -1 when it is not listed.
int findCamera(const std::vector<CameraName> &cameras, const CameraName &camera,
               const std::vector<CameraName> &before);

// The model's own name in what a system calls a camera, the same whichever
// way the camera is reached: PipeWire adds " (V4L2)", and a USB camera's
// V4L2 card name repeats the model ("HD WebCam: HD WebCam", cut short at 31
// characters).
std::string modelName(const std::string &name);

// "path (name)", or the path alone when the two are the same.
std::string describeCamera(const CameraName &camera);

#endif
