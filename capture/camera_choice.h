#ifndef CLOAKCAM_CAPTURE_CAMERA_CHOICE_H
#define CLOAKCAM_CAPTURE_CAMERA_CHOICE_H

// Which camera the program shows, decided the same way on every system from
// what the device enumerator lists and what the user asked for.

#include <string>
#include <vector>

struct CameraName {
    std::string name; // what the system calls it
    std::string path; // where it lives; unique among the cameras listed

    bool operator==(const CameraName &other) const {
        return name == other.name && path == other.path;
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

// The camera whose path or name is `wanted`, else the first one listed; the
// test pattern when `wanted` says so or nothing is listed. `wanted` is empty
// when the user named nothing.
CameraChoice chooseCamera(const std::vector<CameraName> &cameras, const std::string &wanted);

// The same camera again after it went away: by path, else by name (a camera
// plugged back in may get another path), but never one listed under another
// path in `before`, the cameras listed while it was in use: that is another
// camera of the same model. -1 when it is not listed.
int findCamera(const std::vector<CameraName> &cameras, const CameraName &camera,
               const std::vector<CameraName> &before);

// "path (name)", or the path alone when the two are the same.
std::string describeCamera(const CameraName &camera);

#endif
