#ifndef CLOAKCAM_PLATFORM_DEVICE_MONITOR_H
#define CLOAKCAM_PLATFORM_DEVICE_MONITOR_H

// The system's video sources as the process sees them, kept up to date for
// its whole life, as Windows' device manager is. One GStreamer device monitor
// is started once and never stopped: its providers, PipeWire's among them,
// do not survive being stopped while the process goes on (PipeWire's frees
// its connection twice), and a started monitor lists devices without probing
// the hardware again. PipeWire's provider alone is moved to each new run of
// its daemon, once the run before has ended.

#include <gst/gst.h>

#include <functional>
#include <string>
#include <vector>

// The video sources listed now, each with a reference for the caller. Waits
// a moment for the monitor's first list, never longer; `complete` (unless
// null) tells whether that list was made.
GList *listVideoSources(bool *complete = nullptr);

// Whether a device of GStreamer type `type` named `name` is listed, when
// the providers listing besides its own hide those named in `hidden`.
// libcamera's provider hides V4L2's wholesale, yet never tells of a camera
// plugged in later: that is not heeded, and the USB cameras it lists, which
// V4L2's provider lists too, are left out instead.
bool listedDevice(const std::string &type, const std::string &name,
                  const std::vector<std::string> &hidden);

// `listener` hears of each video source added (true) or removed (false), on
// whichever thread the provider tells of it, from now until it is removed.
using DeviceListener = std::function<void(GstDevice *device, bool added)>;
int addDeviceListener(DeviceListener listener);
// Once this returns, the listener is not running and will not run again.
void removeDeviceListener(int id);

#endif
