// The system device enumerator: lists GStreamer's video sources as monikers.

#include "platform/devices/device_list.h"
#include "platform/devices/device_monitor.h"
#include "platform/devices/locked_cameras.h"
#include "platform/directshow/filters.h"
#include "platform/directshow/interface_ids.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

bool naturalLess(const std::string &a, const std::string &b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            size_t endA = i, endB = j;
            while (endA < a.size() && std::isdigit(static_cast<unsigned char>(a[endA])))
                ++endA;
            while (endB < b.size() && std::isdigit(static_cast<unsigned char>(b[endB])))
                ++endB;
            unsigned long long x = std::strtoull(a.c_str() + i, nullptr, 10);
            unsigned long long y = std::strtoull(b.c_str() + j, nullptr, 10);
            if (x != y)
                return x < y;
            i = endA;
            j = endB;
        } else if (a[i] != b[j]) {
            return a[i] < b[j];
        } else {
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

} // namespace

std::vector<DeviceEntry> sortDevices(std::vector<DeviceEntry> cameras) {
    std::stable_sort(
        cameras.begin(), cameras.end(),
        [](const DeviceEntry &a, const DeviceEntry &b) { return naturalLess(a.path, b.path); });
    return cameras;
}

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

bool throughCameraService(GstDevice *device) {
    return sharedThroughPipeWire(device) ||
           std::strcmp(G_OBJECT_TYPE_NAME(device), "GstLibcameraDevice") == 0;
}

} // namespace

DeviceEntry describeDevice(GstDevice *device) {
    DeviceEntry entry;
    gchar *name = gst_device_get_display_name(device);
    entry.name = name ? name : "";
    g_free(name);
    GstStructure *properties = gst_device_get_properties(device);
    const char *path = nullptr;
    if (properties) {
        path = gst_structure_get_string(properties, "api.v4l2.path");
        if (!path)
            path = gst_structure_get_string(properties, "device.path");
        const char *bus = gst_structure_get_string(properties, "v4l2.device.bus_info");
        if (!bus)
            bus = gst_structure_get_string(properties, "api.v4l2.cap.bus_info");
        entry.facts.bus = bus ? bus : "";
        entry.facts.deviceCaps = deviceCapsOf(properties);
    }
    entry.path = path ? path : entry.name;
    if (properties)
        gst_structure_free(properties);
    entry.facts.monochrome = allGrey(device);
    entry.facts.cameraService = throughCameraService(device);
    return entry;
}

namespace {

// Each device of `devices` as an entry, to which the list's reference passes.
void addEntries(GList *devices, std::vector<DeviceEntry> *cameras) {
    for (GList *item = devices; item; item = item->next) {
        auto *device = GST_DEVICE(item->data);
        DeviceEntry entry = describeDevice(device);
        entry.device.reset(device, gst_object_unref);
        cameras->push_back(std::move(entry));
    }
    g_list_free(devices);
}

std::vector<DeviceEntry> findCameras(bool *complete) {
    std::vector<DeviceEntry> cameras;
    addEntries(listVideoSources(complete), &cameras);
    std::vector<std::string> listed;
    for (const DeviceEntry &entry : cameras)
        listed.push_back(entry.path);
    addEntries(lockedCameras(listed), &cameras);
    return cameras;
}

IMoniker *monikerFor(const DeviceEntry &entry) {
    IMoniker *moniker = nullptr;
    createMoniker(entry.device.get(), &moniker);
    return moniker;
}

class SystemDeviceEnum final : public ComObject<ICreateDevEnum> {
  public:
    HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker **monikers,
                                                    DWORD) override {
        if (!monikers)
            return E_POINTER;
        *monikers = nullptr;
        if (category != CLSID_VideoInputDeviceCategory)
            return S_FALSE;
        bool complete = true;
        std::vector<DeviceEntry> cameras = findCameras(&complete);
        // Like Windows: an empty category has no enumerator at all. Windows
        // lists at once; a device service that has not answered yet has
        // nothing to list so far, which is not the same as no camera.
        if (cameras.empty())
            return complete ? S_FALSE : E_PENDING;
        *monikers = new ComEnumerator<IEnumMoniker, IMoniker, DeviceEntry>(
            sortDevices(std::move(cameras)), monikerFor);
        return S_OK;
    }
};

} // namespace

HRESULT createSystemDeviceEnum(REFIID riid, void **object) {
    return createObject<SystemDeviceEnum>(riid, object);
}

bool sharedThroughPipeWire(GstDevice *device) {
    return device && std::strcmp(G_OBJECT_TYPE_NAME(device), "GstPipeWireDevice") == 0;
}
