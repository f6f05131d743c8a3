#include "platform/camera/locked_cameras.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>

namespace {

std::string firstLine(const std::string &file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

bool startsWith(const std::string &text, const std::string &start) {
    return text.compare(0, start.size(), start) == 0;
}

// What udev says of the node numbered `dev` ("81:0"): its capabilities
// (":capture:", ":video_output:"), and its product name when it knows one.
std::string udevCapabilities(const VideoNodeRoots &roots, const std::string &dev,
                             std::string *product) {
    std::ifstream data(roots.udev + "/c" + dev);
    std::string found;
    const std::string capabilities = "E:ID_V4L_CAPABILITIES=", name = "E:ID_V4L_PRODUCT=";
    for (std::string line; std::getline(data, line);) {
        if (startsWith(line, capabilities))
            found = line.substr(capabilities.size());
        else if (startsWith(line, name))
            *product = line.substr(name.size());
    }
    return found;
}

GstElement *createSource(GstDevice *device, const gchar *name) {
    GstElement *source = gst_element_factory_make("v4l2src", name);
    GstStructure *properties = gst_device_get_properties(device);
    if (source && properties)
        g_object_set(source, "device", gst_structure_get_string(properties, "device.path"),
                     nullptr);
    if (properties)
        gst_structure_free(properties);
    return source;
}

GType lockedDeviceType() {
    static GType type = g_type_register_static_simple(
        GST_TYPE_DEVICE, "CloakcamLockedV4l2Device", sizeof(GstDeviceClass),
        [](gpointer klass, gpointer) { GST_DEVICE_CLASS(klass)->create_element = createSource; },
        sizeof(GstDevice), nullptr, GTypeFlags(0));
    return type;
}

} // namespace

namespace {

// A video node as sysfs and udev describe it.
struct VideoNode {
    std::string path;
    std::string product;      // udev's name for it, or empty
    std::string name;         // the driver's
    std::string capabilities; // udev's: ":capture:", ":video_output:"
};

// Every videoN node of `roots` whose node `keep` keeps.
template <typename Keep> std::vector<VideoNode> videoNodes(const VideoNodeRoots &roots, Keep keep) {
    std::vector<VideoNode> nodes;
    DIR *folder = opendir(roots.classes.c_str());
    if (!folder)
        return nodes;
    while (const dirent *entry = readdir(folder)) {
        const std::string node = entry->d_name;
        const std::string path = roots.devices + "/" + node;
        if (!startsWith(node, "video") || !keep(path))
            continue;
        const std::string dev = firstLine(roots.classes + "/" + node + "/dev");
        std::string product;
        const std::string capabilities = dev.empty() ? "" : udevCapabilities(roots, dev, &product);
        nodes.push_back(
            {path, product, firstLine(roots.classes + "/" + node + "/name"), capabilities});
    }
    closedir(folder);
    return nodes;
}

std::string nameOf(const VideoNode &node, const std::string &otherwise) {
    return node.product.empty() ? otherwise : node.product;
}

bool says(const VideoNode &node, const char *capability) {
    return node.capabilities.find(capability) != std::string::npos;
}

} // namespace

std::vector<LockedNode> findLockedNodes(const VideoNodeRoots &roots) {
    std::vector<LockedNode> nodes;
    auto locked = [](const std::string &path) {
        return access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES;
    };
    for (const VideoNode &node : videoNodes(roots, locked))
        if (says(node, ":capture:"))
            nodes.push_back({nameOf(node, node.name), node.path, "", 0});
    return nodes;
}

bool queryNode(const std::string &path, NodeCapabilities *capabilities) {
    // A refusal leaves errno EACCES for the caller.
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    v4l2_capability cap = {};
    const bool answered = ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0;
    close(fd);
    if (!answered)
        return false;
    capabilities->card = reinterpret_cast<const char *>(cap.card);
    capabilities->bus = reinterpret_cast<const char *>(cap.bus_info);
    capabilities->deviceCaps =
        (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    return true;
}

std::vector<LockedNode> findUnlistedNodes(const std::vector<std::string> &listed, QueryNode query,
                                          const VideoNodeRoots &roots) {
    std::vector<LockedNode> nodes;
    auto openable = [&](const std::string &path) {
        return std::find(listed.begin(), listed.end(), path) == listed.end() &&
               access(path.c_str(), R_OK | W_OK) == 0;
    };
    for (const VideoNode &node : videoNodes(roots, openable)) {
        if (!says(node, ":capture:") && !says(node, ":video_output:"))
            continue;
        NodeCapabilities asked;
        errno = 0;
        if (!query(node.path, &asked)) {
            // Refused though its mode allows it (a seat's ACL, a security
            // module): listed, so that using it says why it fails.
            if (errno == EACCES && says(node, ":capture:"))
                nodes.push_back({nameOf(node, node.name), node.path, "", 0});
            continue;
        }
        if (asked.deviceCaps & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE))
            nodes.push_back({nameOf(node, asked.card), node.path, asked.bus, asked.deviceCaps});
    }
    return nodes;
}

GList *lockedCameras(const std::vector<std::string> &listed) {
    GList *devices = nullptr;
    std::vector<LockedNode> nodes = findLockedNodes();
    for (const LockedNode &node : findUnlistedNodes(listed, queryNode))
        nodes.push_back(node);
    for (const LockedNode &node : nodes) {
        GstStructure *properties =
            gst_structure_new("v4l2-proplist", "device.api", G_TYPE_STRING, "v4l2", "device.path",
                              G_TYPE_STRING, node.path.c_str(), "v4l2.device.device_caps",
                              G_TYPE_UINT, guint(node.deviceCaps), nullptr);
        if (!node.bus.empty())
            gst_structure_set(properties, "v4l2.device.bus_info", G_TYPE_STRING, node.bus.c_str(),
                              nullptr);
        GObject *device = G_OBJECT(g_object_new(lockedDeviceType(), "display-name",
                                                node.name.c_str(), "device-class", "Video/Source",
                                                "properties", properties, nullptr));
        gst_structure_free(properties);
        devices = g_list_append(devices, gst_object_ref_sink(device));
    }
    return devices;
}
