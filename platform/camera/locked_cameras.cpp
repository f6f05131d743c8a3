#include "platform/camera/locked_cameras.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

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

std::string valueOr(const char *value) { return value ? value : ""; }

std::string nameOf(const VideoNode &node, const std::string &otherwise) {
    return node.product.empty() ? otherwise : node.product;
}

bool says(const VideoNode &node, const char *capability) {
    return node.capabilities.find(capability) != std::string::npos;
}

} // namespace

std::vector<VideoNode> videoNodes() {
    std::vector<VideoNode> nodes;
    udev *context = udev_new();
    udev_enumerate *listing = context ? udev_enumerate_new(context) : nullptr;
    if (!listing || udev_enumerate_add_match_subsystem(listing, "video4linux") < 0 ||
        udev_enumerate_scan_devices(listing) < 0) {
        udev_enumerate_unref(listing);
        udev_unref(context);
        return nodes;
    }
    udev_list_entry *entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(listing)) {
        udev_device *device =
            udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
        const std::string path = valueOr(device ? udev_device_get_devnode(device) : nullptr);
        if (path.compare(0, 10, "/dev/video") == 0) {
            VideoNode node{path, valueOr(udev_device_get_property_value(device, "ID_V4L_PRODUCT")),
                           valueOr(udev_device_get_sysattr_value(device, "name")),
                           valueOr(udev_device_get_property_value(device, "ID_V4L_CAPABILITIES"))};
            node.refusal = access(path.c_str(), R_OK | W_OK) == 0 ? 0 : errno;
            nodes.push_back(node);
        }
        udev_device_unref(device);
    }
    udev_enumerate_unref(listing);
    udev_unref(context);
    return nodes;
}

std::vector<LockedNode> findLockedNodes(const std::vector<VideoNode> &nodes) {
    std::vector<LockedNode> locked;
    for (const VideoNode &node : nodes)
        if (node.refusal == EACCES && says(node, ":capture:"))
            locked.push_back({nameOf(node, node.driverName), node.path, "", 0});
    return locked;
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

std::vector<LockedNode> findUnlistedNodes(const std::vector<VideoNode> &nodes,
                                          const std::vector<std::string> &listed, QueryNode query) {
    std::vector<LockedNode> unlisted;
    for (const VideoNode &node : nodes) {
        if (node.refusal != 0 || std::find(listed.begin(), listed.end(), node.path) != listed.end())
            continue;
        if (!says(node, ":capture:") && !says(node, ":video_output:"))
            continue;
        NodeCapabilities asked;
        errno = 0;
        if (!query(node.path, &asked)) {
            // Refused though its mode allows it (a seat's ACL, a security
            // module): listed, so that using it says why it fails.
            if (errno == EACCES && says(node, ":capture:"))
                unlisted.push_back({nameOf(node, node.driverName), node.path, "", 0});
            continue;
        }
        if (asked.deviceCaps & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE))
            unlisted.push_back({nameOf(node, asked.card), node.path, asked.bus, asked.deviceCaps});
    }
    return unlisted;
}

GList *lockedCameras(const std::vector<std::string> &listed) {
    GList *devices = nullptr;
    const std::vector<VideoNode> all = videoNodes();
    std::vector<LockedNode> nodes = findLockedNodes(all);
    for (const LockedNode &node : findUnlistedNodes(all, listed, queryNode))
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
