#include "platform/camera/camera_list.h"

#include "platform/camera/device_monitor.h"
#include "platform/camera/locked_cameras.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// GStreamer's v4l2 provider keeps the device's capability numbers as numbers,
// PipeWire's as hexadecimal text.
unsigned long deviceCapsOf(const GstStructure *properties) {
    guint caps = 0;
    if (gst_structure_get_uint(properties, "v4l2.device.device_caps", &caps))
        return caps;
    const char *text = gst_structure_get_string(properties, "api.v4l2.cap.device-caps");
    return text ? std::strtoul(text, nullptr, 16) : 0;
}

bool allGrey(GstDevice *device) {
    GstCaps *caps = gst_device_get_caps(device);
    bool grey = caps && !gst_caps_is_any(caps) && gst_caps_get_size(caps) > 0;
    for (guint i = 0; grey && i < gst_caps_get_size(caps); ++i) {
        const char *format = gst_structure_get_string(gst_caps_get_structure(caps, i), "format");
        grey = format && std::strncmp(format, "GRAY", 4) == 0;
    }
    if (caps)
        gst_caps_unref(caps);
    return grey;
}

const char *firstString(const GstStructure *properties, const char *key, const char *otherKey) {
    const char *text = gst_structure_get_string(properties, key);
    return text ? text : gst_structure_get_string(properties, otherKey);
}

// Each device of `devices` as a listing, to which the list's reference passes.
void addListings(GList *devices, std::vector<CameraListing> *cameras) {
    for (GList *item = devices; item; item = item->next) {
        auto *device = GST_DEVICE(item->data);
        CameraListing listing = describeDevice(device);
        listing.device.reset(device, gst_object_unref);
        cameras->push_back(std::move(listing));
    }
    g_list_free(devices);
}

} // namespace

CameraListing describeDevice(GstDevice *device) {
    CameraListing listing;
    gchar *name = gst_device_get_display_name(device);
    listing.name = name ? name : "";
    g_free(name);
    GstStructure *properties = gst_device_get_properties(device);
    const char *path = nullptr;
    if (properties) {
        path = firstString(properties, "api.v4l2.path", "device.path");
        const char *bus = firstString(properties, "v4l2.device.bus_info", "api.v4l2.cap.bus_info");
        listing.bus = bus ? bus : "";
        listing.deviceCaps = deviceCapsOf(properties);
    }
    listing.path = path ? path : listing.name;
    if (properties)
        gst_structure_free(properties);
    listing.monochrome = allGrey(device);
    listing.cameraService = sharedThroughPipeWire(device) ||
                            std::strcmp(G_OBJECT_TYPE_NAME(device), "GstLibcameraDevice") == 0;
    return listing;
}

GstDevice *deviceOf(const CameraListing &listing) {
    return static_cast<GstDevice *>(listing.device.get());
}

bool sharedThroughPipeWire(GstDevice *device) {
    return device && std::strcmp(G_OBJECT_TYPE_NAME(device), "GstPipeWireDevice") == 0;
}

std::vector<CameraListing> sortCameras(std::vector<CameraListing> cameras) {
    // glibc's version order compares runs of digits as numbers.
    std::stable_sort(cameras.begin(), cameras.end(),
                     [](const CameraListing &a, const CameraListing &b) {
                         return strverscmp(a.path.c_str(), b.path.c_str()) < 0;
                     });
    return cameras;
}

bool listCameras(std::vector<CameraListing> *cameras) {
    bool complete = true;
    cameras->clear();
    addListings(listVideoSources(&complete), cameras);
    std::vector<std::string> listed;
    for (const CameraListing &listing : *cameras)
        listed.push_back(listing.path);
    addListings(lockedCameras(listed), cameras);
    *cameras = sortCameras(std::move(*cameras));
    return complete;
}
