#include "platform/devices/locked_cameras.h"

#include <dirent.h>
#include <unistd.h>

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

// What udev says of the node numbered `dev` ("81:0"): whether it captures
// video, and its product name when it knows one.
bool udevCapture(const VideoNodeRoots &roots, const std::string &dev, std::string *product) {
    std::ifstream data(roots.udev + "/c" + dev);
    bool capture = false;
    const std::string capabilities = "E:ID_V4L_CAPABILITIES=", name = "E:ID_V4L_PRODUCT=";
    for (std::string line; std::getline(data, line);) {
        if (startsWith(line, capabilities))
            capture = line.find(":capture:") != std::string::npos;
        else if (startsWith(line, name))
            *product = line.substr(name.size());
    }
    return capture;
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

std::vector<LockedNode> findLockedNodes(const VideoNodeRoots &roots) {
    std::vector<LockedNode> nodes;
    DIR *folder = opendir(roots.classes.c_str());
    if (!folder)
        return nodes;
    while (const dirent *entry = readdir(folder)) {
        const std::string node = entry->d_name;
        const std::string path = roots.devices + "/" + node;
        if (!startsWith(node, "video") || access(path.c_str(), R_OK | W_OK) == 0 || errno != EACCES)
            continue;
        const std::string dev = firstLine(roots.classes + "/" + node + "/dev");
        std::string product;
        if (dev.empty() || !udevCapture(roots, dev, &product))
            continue;
        nodes.push_back(
            {product.empty() ? firstLine(roots.classes + "/" + node + "/name") : product, path});
    }
    closedir(folder);
    return nodes;
}

GList *lockedCameras() {
    GList *devices = nullptr;
    for (const LockedNode &node : findLockedNodes()) {
        GstStructure *properties =
            gst_structure_new("v4l2-proplist", "device.api", G_TYPE_STRING, "v4l2", "device.path",
                              G_TYPE_STRING, node.path.c_str(), nullptr);
        GObject *device = G_OBJECT(g_object_new(lockedDeviceType(), "display-name",
                                                node.name.c_str(), "device-class", "Video/Source",
                                                "properties", properties, nullptr));
        gst_structure_free(properties);
        devices = g_list_append(devices, gst_object_ref_sink(device));
    }
    return devices;
}
