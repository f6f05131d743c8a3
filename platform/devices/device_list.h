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
    std::shared_ptr<GstDevice> device;
};

// What the system calls `device`, and where it lives (its device node, or its
// name when it has no node).
DeviceEntry describeDevice(GstDevice *device);

// The cameras in the order the system offers them: by path, numbers compared
// as numbers, so video10 follows video2.
std::vector<DeviceEntry> sortDevices(std::vector<DeviceEntry> cameras);

#endif
