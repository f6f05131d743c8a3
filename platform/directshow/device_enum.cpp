// The system device enumerator: lists GStreamer's video sources as monikers.

#include "platform/com/com_object.h"
#include "platform/devices/device_list.h"
#include "platform/devices/device_monitor.h"
#include "platform/devices/locked_cameras.h"
#include "platform/directshow/filters.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

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
    }
    entry.path = path ? path : entry.name;
    if (properties)
        gst_structure_free(properties);
    return entry;
}

namespace {

std::vector<DeviceEntry> findCameras() {
    std::vector<DeviceEntry> cameras;
    GList *devices = g_list_concat(listVideoSources(), lockedCameras());
    for (GList *item = devices; item; item = item->next) {
        auto *device = GST_DEVICE(item->data);
        DeviceEntry entry = describeDevice(device);
        // The list's reference passes to the entry.
        entry.device.reset(device, gst_object_unref);
        cameras.push_back(std::move(entry));
    }
    g_list_free(devices);
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
        std::vector<DeviceEntry> cameras = findCameras();
        // Like Windows: an empty category has no enumerator at all.
        if (cameras.empty())
            return S_FALSE;
        *monikers = new ComEnumerator<IEnumMoniker, IMoniker, DeviceEntry>(
            sortDevices(std::move(cameras)), monikerFor);
        return S_OK;
    }
};

} // namespace

HRESULT createSystemDeviceEnum(REFIID riid, void **object) {
    return createObject<SystemDeviceEnum>(riid, object);
}
