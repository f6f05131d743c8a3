#include "platform/device_monitor.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include <sys/stat.h>

namespace {

// How long a caller waits for the monitor's first list of devices. Starting
// it asks every provider, and one whose service does not answer (PipeWire
// frozen) holds up the rest for as long as it likes; until then the list is
// empty, and cameras are announced as they come. The program's window is
// already open and waits with it, so this stays under a second.
constexpr auto firstListBound = std::chrono::milliseconds(900);

// Which PipeWire daemon is running: the socket it listens on, which each
// start makes anew. GStreamer's PipeWire provider, one per process, keeps its
// first connection for good, and every PipeWire source made later shares it:
// once that daemon is gone the provider lists nothing new and no source can
// start.
struct Service {
    bool running = false;
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const Service &other) const {
        return running == other.running && device == other.device && inode == other.inode;
    }
};

Service pipeWire() {
    const char *remote = std::getenv("PIPEWIRE_REMOTE");
    std::string path = remote && *remote ? remote : "pipewire-0";
    if (path[0] != '/') {
        const char *folder = std::getenv("PIPEWIRE_RUNTIME_DIR");
        if (!folder || !*folder)
            folder = std::getenv("XDG_RUNTIME_DIR");
        if (!folder || !*folder)
            return {};
        path = std::string(folder) + "/" + path;
    }
    struct stat found;
    if (stat(path.c_str(), &found) != 0 || !S_ISSOCK(found.st_mode))
        return {};
    return {true, found.st_dev, found.st_ino};
}

struct Devices {
    std::mutex mutex;
    std::condition_variable listed;
    bool ready = false;
    // Until when a caller waits for the first list.
    std::chrono::steady_clock::time_point patience;
    GList *all = nullptr; // each with a reference
    // The monitor whose messages count; those before it are left running,
    // never stopped (see the header), and heard no more.
    int generation = 0;
    Service service;
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

GstBusSyncReply onDeviceMessage(GstBus *, GstMessage *message, gpointer generation) {
    GstDevice *device = nullptr;
    const bool added = GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_ADDED;
    if (added)
        gst_message_parse_device_added(message, &device);
    else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_REMOVED)
        gst_message_parse_device_removed(message, &device);
    if (device) {
        Devices &known = devices();
        std::lock_guard<std::mutex> lock(known.mutex);
        if (known.generation == GPOINTER_TO_INT(generation))
            note(known, device, added);
        gst_object_unref(device);
    }
    // A message the handler drops is the handler's to free.
    gst_message_unref(message);
    return GST_BUS_DROP;
}

void startMonitor(int generation) {
    GstDeviceMonitor *monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
    GstBus *bus = gst_device_monitor_get_bus(monitor);
    gst_bus_set_sync_handler(bus, onDeviceMessage, GINT_TO_POINTER(generation), nullptr);
    gst_object_unref(bus);
    gst_device_monitor_start(monitor);
    // The devices there before the start; any the messages told of already
    // are not told twice.
    GList *present = gst_device_monitor_get_devices(monitor);
    Devices &known = devices();
    std::lock_guard<std::mutex> lock(known.mutex);
    for (GList *item = present; item; item = item->next) {
        if (known.generation == generation)
            note(known, GST_DEVICE(item->data), true);
        gst_object_unref(item->data);
    }
    g_list_free(present);
    known.ready = true;
    known.listed.notify_all();
}

// Drops the provider's dead connection and makes a new one. Stopping it is
// safe only once its daemon is gone (with a live one it frees its connection
// twice), which is the only time this runs; every monitor started it, so it
// is stopped as often.
void reconnectPipeWire() {
    GstDeviceProvider *provider = gst_device_provider_factory_get_by_name("pipewiredeviceprovider");
    if (!provider)
        return;
    while (gst_device_provider_is_started(provider))
        gst_device_provider_stop(provider);
    gst_device_provider_start(provider);
    gst_object_unref(provider);
}

void renewMonitor(int generation) {
    reconnectPipeWire();
    startMonitor(generation);
}

void startAside(void (*start)(int), int generation) {
    try {
        std::thread(start, generation).detach();
    } catch (const std::system_error &) {
        start(generation);
    }
}

// Starts the monitor once, on a thread of its own.
Devices &started() {
    static bool once = [] {
        gst_init(nullptr, nullptr);
        Devices &known = devices();
        known.patience = std::chrono::steady_clock::now() + firstListBound;
        known.service = pipeWire();
        startAside(startMonitor, known.generation);
        return true;
    }();
    (void)once;
    return devices();
}

// When PipeWire was restarted (or started, or stopped), the devices listed
// are those of a service that is gone: a fresh connection and monitor list
// them again. Until they have, none are listed; nobody is told they went, as
// they may be the same devices. The sources of the old daemon must be
// closed by then, or the new ones would share their dead connection: a
// camera is looked for again only once its graph was stopped.
void renewAfterPipeWire(Devices &known) {
    const Service now = pipeWire();
    int generation;
    {
        std::lock_guard<std::mutex> lock(known.mutex);
        if (now == known.service)
            return;
        known.service = now;
        generation = ++known.generation;
        g_list_free_full(known.all, gst_object_unref);
        known.all = nullptr;
    }
    startAside(renewMonitor, generation);
}

} // namespace

GList *listVideoSources() {
    Devices &known = started();
    renewAfterPipeWire(known);
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
