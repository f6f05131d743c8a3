#include "platform/device_monitor.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// How long a caller waits for the monitor's first list of devices. Starting
// it asks every provider, and one whose service does not answer (PipeWire
// frozen) holds up the rest for as long as it likes; until then the list is
// empty, and cameras are announced as they come.
constexpr auto firstListBound = std::chrono::milliseconds(1500);

struct Devices {
    std::mutex mutex;
    std::condition_variable listed;
    bool ready = false;
    // Until when a caller waits for the first list.
    std::chrono::steady_clock::time_point patience;
    GList *all = nullptr; // each with a reference
    std::map<int, DeviceListener> listeners;
    int nextListener = 0;
};

Devices &devices() {
    static Devices *kept = new Devices;
    return *kept;
}

// Under the lock: adds or drops `device`, and tells the listeners when that
// changed the list.
void note(Devices &known, GstDevice *device, bool added) {
    GList *at = g_list_find(known.all, device);
    if (added == (at != nullptr))
        return;
    if (added) {
        known.all = g_list_append(known.all, gst_object_ref(device));
    } else {
        known.all = g_list_delete_link(known.all, at);
        gst_object_unref(device);
    }
    for (auto &entry : known.listeners)
        entry.second(device, added);
}

GstBusSyncReply onDeviceMessage(GstBus *, GstMessage *message, gpointer) {
    GstDevice *device = nullptr;
    const bool added = GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_ADDED;
    if (added)
        gst_message_parse_device_added(message, &device);
    else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_REMOVED)
        gst_message_parse_device_removed(message, &device);
    if (device) {
        Devices &known = devices();
        std::lock_guard<std::mutex> lock(known.mutex);
        note(known, device, added);
        gst_object_unref(device);
    }
    // A message the handler drops is the handler's to free.
    gst_message_unref(message);
    return GST_BUS_DROP;
}

void startMonitor() {
    GstDeviceMonitor *monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
    GstBus *bus = gst_device_monitor_get_bus(monitor);
    gst_bus_set_sync_handler(bus, onDeviceMessage, nullptr, nullptr);
    gst_object_unref(bus);
    gst_device_monitor_start(monitor);
    // The devices there before the start; any the messages told of already
    // are not told twice.
    GList *present = gst_device_monitor_get_devices(monitor);
    Devices &known = devices();
    std::lock_guard<std::mutex> lock(known.mutex);
    for (GList *item = present; item; item = item->next) {
        note(known, GST_DEVICE(item->data), true);
        gst_object_unref(item->data);
    }
    g_list_free(present);
    known.ready = true;
    known.listed.notify_all();
}

// Starts the monitor once, on a thread of its own.
Devices &started() {
    static bool once = [] {
        gst_init(nullptr, nullptr);
        devices().patience = std::chrono::steady_clock::now() + firstListBound;
        try {
            std::thread(startMonitor).detach();
        } catch (const std::system_error &) {
            startMonitor();
        }
        return true;
    }();
    (void)once;
    return devices();
}

} // namespace

GList *listVideoSources() {
    Devices &known = started();
    std::unique_lock<std::mutex> lock(known.mutex);
    known.listed.wait_until(lock, known.patience, [&known] { return known.ready; });
    GList *copy = g_list_copy(known.all);
    for (GList *item = copy; item; item = item->next)
        gst_object_ref(item->data);
    return copy;
}

int addDeviceListener(DeviceListener listener) {
    Devices &known = started();
    std::lock_guard<std::mutex> lock(known.mutex);
    known.listeners.emplace(known.nextListener, std::move(listener));
    return known.nextListener++;
}

void removeDeviceListener(int id) {
    Devices &known = devices();
    std::lock_guard<std::mutex> lock(known.mutex);
    known.listeners.erase(id);
}
