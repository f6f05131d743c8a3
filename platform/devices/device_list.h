#ifndef CLOAKCAM_PLATFORM_DEVICE_LIST_H
#define CLOAKCAM_PLATFORM_DEVICE_LIST_H

// The cameras that the video input category lists, in the order they are offered.

#include <gst/gst.h>

#include <memory>
#include <string>
#include <vector>

// Its bus (V4L2's bus_info), V4L2's device capabilities, whether every
// format it lists is grey, and whether it comes through a camera service
// (PipeWire, libcamera) rather than from its node.
struct DeviceFacts {
    std::string bus;
    unsigned long deviceCaps = 0;
    bool monochrome = false;
    bool cameraService = false;
};

struct DeviceEntry {
    std::string name;
    std::string path;
    std::shared_ptr<GstDevice> device;
    // What the device tells of itself, passed on as it is.
    DeviceFacts facts;
};

// What the system calls `device`, where it lives (its device node, or its
// name when it has no node), and what it tells of itself.
DeviceEntry describeDevice(GstDevice *device);

// A PipeWire camera, which other programs may be streaming already.
bool sharedThroughPipeWire(GstDevice *device);

// The cameras in the order the system offers them: by path, numbers compared
// as numbers, so video10 follows video2.
std::vector<DeviceEntry> sortDevices(std::vector<DeviceEntry> cameras);

#endif
