#ifndef CLOAKCAM_PLATFORM_CAMERA_MODES_H
#define CLOAKCAM_PLATFORM_CAMERA_MODES_H

// A camera's formats, read from the caps its device lists, and the caps that
// hold it to one of them.

#include "platform/camera/camera_table.h"

#include <gst/gst.h>

#include <memory>
#include <vector>

// One mode per structure of the caps, and one per size where a structure lists
// several, in the device's order, each with the structure it came from (null
// for the usual mode of a device that lists nothing usable).
struct DeviceModes {
    std::vector<CameraMode> modes;
    std::vector<std::shared_ptr<GstStructure>> structures;
};
DeviceModes modesOf(const GstCaps *caps);

// The interval `structure` lists nearest to `asked` (100 ns units); `usual`
// when nothing is asked or it lists no rate.
int64_t intervalNear(const GstStructure *structure, int64_t asked, int64_t usual);

// What the camera is held to at `width` x `height` and `interval`.
GstCaps *capsOf(const GstStructure *structure, int width, int height, int64_t interval);

// What a camera another program may be streaming already is held to: its
// media type and pixel format only, whatever size and rate the stream has.
GstCaps *formatCapsOf(const GstStructure *structure);

#endif
