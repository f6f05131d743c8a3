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

// A video node as udev describes it.
struct VideoNode {
    std::string path;         // its /dev node
    std::string product;      // udev's name for the camera, or empty
    std::string driverName;   // the driver's name for the node
    std::string capabilities; // udev's: ":capture:", ":video_output:"
    int refusal = 0;          // why this process may not open it for reading and writing
};

// The video4linux nodes udev knows.
std::vector<VideoNode> videoNodes();

struct LockedNode {
    std::string name;
    std::string path;
    std::string bus;              // where it says it is plugged in, when it was asked
    unsigned long deviceCaps = 0; // V4L2's, when it was asked
};

// The capture nodes among `nodes` that this process may not open.
std::vector<LockedNode> findLockedNodes(const std::vector<VideoNode> &nodes);

// What a node that opens says of itself when asked (VIDIOC_QUERYCAP).
struct NodeCapabilities {
    std::string card;
    std::string bus;
    unsigned long deviceCaps = 0;
};
using QueryNode = bool (*)(const std::string &path, NodeCapabilities *capabilities);

// The video capture nodes among `nodes`, not in `listed`, that this process
// may open: GStreamer's provider never lists a node it once could not open,
// and hears nothing when the user is allowed to; nor one that became a
// capture node after udev looked (a loopback camera whose producer started
// later), nor one that offers output too. Only nodes udev calls capture or
// output nodes are opened to ask, so that the cameras' other nodes are left
// asleep.
std::vector<LockedNode> findUnlistedNodes(const std::vector<VideoNode> &nodes,
                                          const std::vector<std::string> &listed, QueryNode query);
// Asks the node itself.
bool queryNode(const std::string &path, NodeCapabilities *capabilities);

// A device for each locked node, and for each capture node not in `listed`,
// with a reference for the caller, whose source is Video4Linux's on its node.
GList *lockedCameras(const std::vector<std::string> &listed);

#endif
