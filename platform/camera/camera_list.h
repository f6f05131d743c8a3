#ifndef CLOAKCAM_PLATFORM_CAMERA_LIST_H
#define CLOAKCAM_PLATFORM_CAMERA_LIST_H

// The cameras the table lists, in the order they are offered.

#include "platform/camera/camera_table.h"

#include <gst/gst.h>

#include <vector>

// What the system calls `device`, where it lives (its device node, or its
// name when it has none), and what it tells of itself.
CameraListing describeDevice(GstDevice *device);

// The device a listing was made from, without a reference for the caller.
GstDevice *deviceOf(const CameraListing &listing);

// A PipeWire camera, which other programs may be streaming already.
bool sharedThroughPipeWire(GstDevice *device);

// The cameras in the order the system offers them: by path, numbers compared
// as numbers, so video10 follows video2.
std::vector<CameraListing> sortCameras(std::vector<CameraListing> cameras);

// The table's list: the device monitor's video sources, then the nodes it
// leaves out; false while the monitor has yet to give its first list.
bool listCameras(std::vector<CameraListing> *cameras);

#endif
