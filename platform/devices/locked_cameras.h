#ifndef CLOAKCAM_PLATFORM_LOCKED_CAMERAS_H
#define CLOAKCAM_PLATFORM_LOCKED_CAMERAS_H

// Video4Linux cameras the user may not open. GStreamer's provider (and
// PipeWire's) leaves out a node it cannot open, so a camera whose node is
// kept from the user would look like no camera at all; Windows lists such a
// device, and starting it fails with E_ACCESSDENIED. These are listed too,
// and their sources fail to open the same way.

#include <gst/gst.h>

#include <string>
#include <vector>

struct LockedNode {
    std::string name;
    std::string path;
};

// Where the system describes its video nodes.
struct VideoNodeRoots {
    std::string classes = "/sys/class/video4linux"; // a folder per node: name, dev
    std::string devices = "/dev";                   // the nodes themselves
    std::string udev = "/run/udev/data";            // udev's word on each, by c<major>:<minor>
};

// The nodes udev knows as video capture devices that this process may not
// open for reading and writing, by path.
std::vector<LockedNode> findLockedNodes(const VideoNodeRoots &roots = {});

// A device for each of them, with a reference for the caller, whose source
// is Video4Linux's on its node.
GList *lockedCameras();

#endif
