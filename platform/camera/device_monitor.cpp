#include "platform/camera/device_monitor.h"

#include "platform/camera/pipewire_link.h"
#include "platform/camera/state_change.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace {

// How long a caller waits for the monitor's first list of devices. Starting
// it asks every provider, and one whose service does not answer (PipeWire
// frozen) holds up the rest for as long as it likes; until then the list is
// empty, and cameras are announced as they come. The program's window is
// already open and waits with it, so this stays under a second.
constexpr auto firstListBound = std::chrono::milliseconds(900);
// How long a caller waits for PipeWire's provider to list again after its
// daemon was restarted: a running daemon answers within a few tens of
// milliseconds, and the cameras are then found by this very listing rather
// than the next.
constexpr auto movedListBound = std::chrono::milliseconds(500);
// A list that came late, from a camera service that was slow to answer, is
// given out only this much later: a stream connected the moment the service
// answers again gets no pictures, as with a camera just plugged in.
constexpr auto lateListSettling = std::chrono::milliseconds(500);

struct Devices {
    std::mutex mutex;
    std::condition_variable listed;
    bool ready = false;
    std::chrono::steady_clock::time_point readyAt;
    // Until when a caller waits for the first list.
    std::chrono::steady_clock::time_point patience;
    GList *all = nullptr; // each with a reference, those hidden too
    GstDeviceMonitor *monitor = nullptr;
    // The PipeWire daemon run that PipeWire's provider lists from, and its
    // elements connect to: our link to it, or -1 when none was running.
    int pipeWire = -1;
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
    // Which providers hide which is decided at each listing, below.
    gst_device_monitor_set_show_all_devices(monitor, TRUE);
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
    known.monitor = monitor;
    known.ready = true;
    known.readyAt = std::chrono::steady_clock::now();
    known.listed.notify_all();
}

GstDeviceProvider *pipeWireProvider() {
    return gst_device_provider_factory_get_by_name("pipewiredeviceprovider");
}

// PipeWire's provider connects through `link`, and so do the elements made
// from the devices it lists from then on.
void connectProviderThrough(GstDeviceProvider *provider, int link) {
    g_object_set(provider, "fd", link, nullptr);
}

// Moves PipeWire's provider from the daemon run behind `gone` to the one
// behind `fresh` (-1: none yet). Stopping the provider is safe only once its
// daemon is gone (with a live one it frees its connection twice), which is
// the only time this runs; the monitor's start is the one left to undo. The
// devices it lists again are told to the monitor as they come.
void moveProvider(int gone, int fresh) {
    // One move after another, in the order the daemon's runs were seen.
    static std::mutex moving;
    std::lock_guard<std::mutex> lock(moving);
    GstDeviceProvider *provider = pipeWireProvider();
    if (provider) {
        while (gst_device_provider_is_started(provider))
            gst_device_provider_stop(provider);
        connectProviderThrough(provider, fresh);
        if (fresh >= 0)
            gst_device_provider_start(provider);
        gst_object_unref(provider);
    }
    if (gone >= 0)
        retirePipeWireLink(gone);
}

template <typename Work> void startAside(Work work) {
    try {
        std::thread(work).detach();
    } catch (const std::system_error &) {
        work();
    }
}

// Starts the monitor once, on a thread of its own.
Devices &started() {
    static bool once = [] {
        // libcamera, behind its provider, would tell the terminal of every
        // step it takes; the program says itself what goes wrong.
        setenv("LIBCAMERA_LOG_LEVELS", "*:FATAL", 0);
        gst_init(nullptr, nullptr);
        Devices &known = devices();
        known.patience = std::chrono::steady_clock::now() + firstListBound;
        known.pipeWire = connectPipeWire();
        if (GstDeviceProvider *provider = pipeWireProvider()) {
            connectProviderThrough(provider, known.pipeWire);
            gst_object_unref(provider);
        }
        startAside(startMonitor);
        return true;
    }();
    (void)once;
    return devices();
}

// When PipeWire was restarted (or started, or stopped), the devices listed
// are those of a daemon run that is over: the provider lists them again
// through a link to the new run, which is waited for a moment. Until it has,
// none are listed; nobody is told they went, as they may be the same devices. The old run's
// elements keep their own dead connection, which no new element shares.
void renewAfterPipeWire(Devices &known) {
    int gone, fresh;
    {
        std::lock_guard<std::mutex> lock(known.mutex);
        if (known.pipeWire >= 0 && !pipeWireGone(known.pipeWire))
            return;
        fresh = connectPipeWire();
        if (known.pipeWire < 0 && fresh < 0)
            return;
        gone = std::exchange(known.pipeWire, fresh);
        g_list_free_full(known.all, gst_object_unref);
        known.all = nullptr;
    }
    changeWithinBound([gone, fresh] { moveProvider(gone, fresh); }, movedListBound);
}

// Under the lock: the providers hidden now by the others, as the monitor
// would hide them, save what libcamera's hides.
std::vector<std::string> hiddenProviders(Devices &known) {
    std::vector<std::string> hidden;
    if (!known.monitor)
        return hidden;
    gchar **names = gst_device_monitor_get_providers(known.monitor);
    for (gchar **name = names; name && *name; ++name) {
        GstDeviceProvider *provider = std::strcmp(*name, "libcameraprovider") == 0
                                          ? nullptr
                                          : gst_device_provider_factory_get_by_name(*name);
        if (!provider)
            continue;
        gchar **hides = gst_device_provider_get_hidden_providers(provider);
        for (gchar **one = hides; one && *one; ++one)
            hidden.push_back(*one);
        g_strfreev(hides);
        gst_object_unref(provider);
    }
    g_strfreev(names);
    return hidden;
}

} // namespace

bool listedDevice(const std::string &type, const std::string &name,
                  const std::vector<std::string> &hidden) {
    // libcamera names a USB camera by its port and its vendor and product ids.
    if (type == "GstLibcameraDevice" &&
        g_regex_match_simple("-[[:xdigit:]]{4}:[[:xdigit:]]{4}$", name.c_str(),
                             GRegexCompileFlags(0), GRegexMatchFlags(0)))
        return false;
    const std::string provider = type == "GstV4l2Device"        ? "v4l2deviceprovider"
                                 : type == "GstLibcameraDevice" ? "libcameraprovider"
                                 : type == "GstPipeWireDevice"  ? "pipewiredeviceprovider"
                                                                : "";
    return std::find(hidden.begin(), hidden.end(), provider) == hidden.end();
}

GList *listVideoSources(bool *complete) {
    Devices &known = started();
    renewAfterPipeWire(known);
    std::unique_lock<std::mutex> lock(known.mutex);
    known.listed.wait_until(lock, known.patience, [&known] { return known.ready; });
    const bool settling = known.ready && known.readyAt > known.patience &&
                          std::chrono::steady_clock::now() < known.readyAt + lateListSettling;
    if (complete)
        *complete = known.ready && !settling;
    if (settling)
        return nullptr;
    const std::vector<std::string> hidden = hiddenProviders(known);
    GList *copy = nullptr;
    for (GList *item = known.all; item; item = item->next) {
        GstDevice *device = GST_DEVICE(item->data);
        gchar *name = gst_device_get_display_name(device);
        if (listedDevice(G_OBJECT_TYPE_NAME(device), name ? name : "", hidden))
            copy = g_list_append(copy, gst_object_ref(device));
        g_free(name);
    }
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
