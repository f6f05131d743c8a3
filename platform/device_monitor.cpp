#include "platform/device_monitor.h"

#include <map>
#include <mutex>

namespace {

struct Listeners {
    std::mutex mutex;
    std::map<int, DeviceListener> all;
    int next = 0;
};

Listeners &listeners() {
    static Listeners *kept = new Listeners;
    return *kept;
}

GstBusSyncReply onDeviceMessage(GstBus *, GstMessage *message, gpointer) {
    GstDevice *device = nullptr;
    const bool added = GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_ADDED;
    if (added)
        gst_message_parse_device_added(message, &device);
    else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_REMOVED)
        gst_message_parse_device_removed(message, &device);
    if (device) {
        Listeners &all = listeners();
        std::lock_guard<std::mutex> lock(all.mutex);
        for (auto &entry : all.all)
            entry.second(device, added);
        gst_object_unref(device);
    }
    // A message the handler drops is the handler's to free.
    gst_message_unref(message);
    return GST_BUS_DROP;
}

GstDeviceMonitor *monitor() {
    static GstDeviceMonitor *started = [] {
        gst_init(nullptr, nullptr);
        GstDeviceMonitor *made = gst_device_monitor_new();
        gst_device_monitor_add_filter(made, "Video/Source", nullptr);
        GstBus *bus = gst_device_monitor_get_bus(made);
        gst_bus_set_sync_handler(bus, onDeviceMessage, nullptr, nullptr);
        gst_object_unref(bus);
        gst_device_monitor_start(made);
        return made;
    }();
    return started;
}

} // namespace

GList *listVideoSources() { return gst_device_monitor_get_devices(monitor()); }

int addDeviceListener(DeviceListener listener) {
    monitor();
    Listeners &all = listeners();
    std::lock_guard<std::mutex> lock(all.mutex);
    all.all.emplace(all.next, std::move(listener));
    return all.next++;
}

void removeDeviceListener(int id) {
    Listeners &all = listeners();
    std::lock_guard<std::mutex> lock(all.mutex);
    all.all.erase(id);
}
