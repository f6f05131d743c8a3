#ifndef CLOAKCAM_PLATFORM_DEVICE_LIST_H
#define CLOAKCAM_PLATFORM_DEVICE_LIST_H

// The cameras that the video input category lists, in the order they are offered.

#include <gst/gst.h>

#include <memory>
#include <string>
#include <vector>

struct DeviceEntry {
    std::string name;
    std::string path;
    // Empty for the built-in test pattern.
    std::shared_ptr<GstDevice> device;
};

extern const char *const testPatternName;
extern const char *const testPatternChoice;

// What the system calls `device`, and where it lives (its device node, or its
// name when it has no node).
DeviceEntry describeDevice(GstDevice *device);

// Sorts the cameras by path (numbers compared as numbers, so video10 follows
// video2), then moves the one whose path or name is `choice` to the front. The
// test pattern leads when `choice` is testPatternChoice and is the only entry
// when there is no camera. `choice` may be null.
std::vector<DeviceEntry> orderDevices(std::vector<DeviceEntry> cameras, const char *choice);

// Whether `choice` names one of `devices` or the test pattern.
bool choiceFound(const std::vector<DeviceEntry> &devices, const char *choice);

#endif
