#ifndef CLOAKCAM_TESTS_EQUIPMENT_FAKE_CAMERA_H
#define CLOAKCAM_TESTS_EQUIPMENT_FAKE_CAMERA_H

// A camera for tests on machines without one. While a FakeCamera exists, the
// video input category lists "Fake Camera" (path /dev/fake-video0), and binding
// it gives a live source that shows the given picture at 30 frames a second.
// Build the graph while the FakeCamera is alive; the picture is taken when the
// source is made. The device lists RGB at the picture's size and at 320 x 240,
// or the formats it is made to offer; its sources scale and convert the
// picture to whichever of them they are held to.
//
// The camera can fail and be pulled out and plugged back in: fail() makes every
// source made so far stop the way a real camera's does (an error, or the end
// of the stream); unplug() does the same with the error of a camera pulled out
// and takes the device off the list, announcing its removal to device
// monitors; plug() lists it again, announced as a new device, whose sources
// show the picture given then. refuse() makes the sources made afterwards fail
// to start, as a camera in use by another program or one without a usable
// picture format does.

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fake_camera {

inline const char *name() { return "Fake Camera"; }
inline const char *path() { return "/dev/fake-video0"; }

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb; // rows of width * 3 bytes, top row first
    std::string offered;      // the device's caps, or empty for the usual two
};

// How a source stops: as Video4Linux reports a camera pulled out, or a driver
// fault, or with the end of the stream, or without a word (a camera service
// that died).
enum class Failure { Unplugged, DriverError, EndOfStream, Silent };
// How a source fails to start: busy once it streams, without a format it
// can send, or unable to open a node the user may not open.
enum class Refusal { None, Busy, NoFormat, Denied };

inline Picture &current() {
    static Picture picture;
    return picture;
}

inline bool &present() {
    static bool shown = false;
    return shown;
}

inline Refusal &refusal() {
    static Refusal refusal = Refusal::None;
    return refusal;
}

// Counts the failures: a source made before the latest one has lost its camera.
inline std::atomic<int> &failures() {
    static std::atomic<int> count{0};
    return count;
}

inline std::atomic<Failure> &failure() {
    static std::atomic<Failure> how{Failure::Unplugged};
    return how;
}

inline GstCaps *pictureCaps(const Picture &picture) {
    return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "RGB", "width", G_TYPE_INT,
                               picture.width, "height", G_TYPE_INT, picture.height, "framerate",
                               GST_TYPE_FRACTION, 30, 1, nullptr);
}

inline GstCaps *offeredCaps(const Picture &picture) {
    if (!picture.offered.empty())
        return gst_caps_from_string(picture.offered.c_str());
    GstCaps *caps = pictureCaps(picture);
    if (picture.width != 320 || picture.height != 240)
        gst_caps_append(caps, pictureCaps({320, 240, {}, {}}));
    return caps;
}

// What one source feeds, and how it refuses to.
struct Feed {
    GstBuffer *picture;
    Refusal refusal;
    bool done = false;
};

inline void freeFeed(gpointer data) {
    auto *feed = static_cast<Feed *>(data);
    gst_buffer_unref(feed->picture);
    delete feed;
}

// Runs on the source's streaming thread, where a real camera's start-up
// failures show up too: while it sets the format.
inline void feed(GstAppSrc *source, guint, gpointer data) {
    auto *feed = static_cast<Feed *>(data);
    // The one picture goes out once; imagefreeze repeats it.
    if (std::exchange(feed->done, true))
        return;
    if (feed->refusal == Refusal::Busy) {
        GError *error =
            g_error_new(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_BUSY, "Device '%s' is busy", path());
        gst_element_post_message(GST_ELEMENT(source),
                                 gst_message_new_error(GST_OBJECT(source), error,
                                                       "VIDIOC_S_FMT: Device or resource busy"));
        g_error_free(error);
        gst_app_src_end_of_stream(source);
        return;
    }
    if (feed->refusal == Refusal::NoFormat) {
        // Nothing downstream takes this, so negotiation fails for real.
        GstCaps *caps = gst_caps_new_empty_simple("video/x-cloakcam-unknown");
        gst_app_src_set_caps(source, caps);
        gst_caps_unref(caps);
    }
    gst_app_src_push_buffer(source, gst_buffer_ref(feed->picture));
}

// Once its camera has failed, a source stops delivering, with an error from
// Video4Linux's poll or with the end of the stream.
inline GstPadProbeReturn failed(GstPad *pad, GstPadProbeInfo *info, gpointer born) {
    if (failures().load() == GPOINTER_TO_INT(born))
        return GST_PAD_PROBE_OK;
    if (failure().load() == Failure::Silent)
        return GST_PAD_PROBE_DROP;
    if (!g_object_get_data(G_OBJECT(pad), "failed")) {
        g_object_set_data(G_OBJECT(pad), "failed", pad);
        if (failure().load() == Failure::EndOfStream) {
            gst_pad_push_event(pad, gst_event_new_eos());
        } else {
            GError *error = g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ,
                                                "Could not read from resource.");
            GstObject *parent = gst_pad_get_parent(pad);
            const char *debug = failure().load() == Failure::Unplugged
                                    ? "poll error 1: No such device (19)"
                                    : "poll error 1: Input/output error (5)";
            gst_element_post_message(GST_ELEMENT(parent),
                                     gst_message_new_error(parent, error, debug));
            gst_object_unref(parent);
            g_error_free(error);
        }
    }
    gst_buffer_unref(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = nullptr;
    GST_PAD_PROBE_INFO_FLOW_RETURN(info) =
        failure().load() == Failure::EndOfStream ? GST_FLOW_EOS : GST_FLOW_ERROR;
    return GST_PAD_PROBE_HANDLED;
}

// A source that fails to open as Video4Linux's does on a node the user may
// not open: an error, and a failed state change.
inline GstElementClass *&lockedParent() {
    static GstElementClass *parent = nullptr;
    return parent;
}

inline GstStateChangeReturn openLocked(GstElement *element, GstStateChange transition) {
    if (transition == GST_STATE_CHANGE_NULL_TO_READY) {
        GST_ELEMENT_ERROR(element, RESOURCE, OPEN_READ_WRITE,
                          ("Could not open device '%s' for reading and writing.", path()),
                          ("system error: Permission denied"));
        return GST_STATE_CHANGE_FAILURE;
    }
    return lockedParent()->change_state(element, transition);
}

inline void lockedClassInit(gpointer klass, gpointer) {
    static GstStaticPadTemplate src =
        GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);
    auto *element = GST_ELEMENT_CLASS(klass);
    lockedParent() = GST_ELEMENT_CLASS(g_type_class_peek_parent(klass));
    element->change_state = openLocked;
    gst_element_class_add_static_pad_template(element, &src);
    gst_element_class_set_static_metadata(element, "Locked camera", "Source/Video",
                                          "A camera node the user may not open", "cloakcam");
}

inline void lockedInit(GTypeInstance *instance, gpointer klass) {
    GstPadTemplate *src = gst_element_class_get_pad_template(GST_ELEMENT_CLASS(klass), "src");
    gst_element_add_pad(GST_ELEMENT(instance), gst_pad_new_from_template(src, "src"));
}

inline GstElement *createLocked() {
    static GType type = g_type_register_static_simple(
        GST_TYPE_ELEMENT, "CloakcamFakeLockedSource", sizeof(GstElementClass), lockedClassInit,
        sizeof(GstElement), lockedInit, GTypeFlags(0));
    return GST_ELEMENT(g_object_new(type, nullptr));
}

// While set, binding the camera takes until it is cleared (at most 10 s), as
// a driver slow to open its device does.
inline std::atomic<bool> &held() {
    static std::atomic<bool> hold{false};
    return hold;
}

inline GstElement *createElement(GstDevice *, const gchar *) {
    for (int waited = 0; held() && waited < 1000; ++waited)
        g_usleep(10000);
    if (refusal() == Refusal::Denied)
        return createLocked();
    const Picture &picture = current();
    const bool jpeg = picture.offered.rfind("image/jpeg", 0) == 0;
    GstElement *bin = gst_parse_bin_from_description(
        jpeg ? "appsrc name=feed format=time ! imagefreeze name=freeze is-live=true ! videoscale ! "
               "videoconvert ! jpegenc"
             : "appsrc name=feed format=time ! imagefreeze name=freeze is-live=true ! videoscale ! "
               "videoconvert",
        TRUE, nullptr);
    GstElement *source = gst_bin_get_by_name(GST_BIN(bin), "feed");
    if (refusal() == Refusal::None) {
        GstCaps *caps = pictureCaps(picture);
        gst_app_src_set_caps(GST_APP_SRC(source), caps);
        gst_caps_unref(caps);
    }
    auto *data = new Feed{gst_buffer_new_memdup(picture.rgb.data(), picture.rgb.size()), refusal()};
    GstAppSrcCallbacks callbacks = {};
    callbacks.need_data = feed;
    gst_app_src_set_callbacks(GST_APP_SRC(source), &callbacks, data, freeFeed);
    gst_object_unref(source);

    GstElement *freeze = gst_bin_get_by_name(GST_BIN(bin), "freeze");
    GstPad *out = gst_element_get_static_pad(freeze, "src");
    gst_pad_add_probe(out, GST_PAD_PROBE_TYPE_BUFFER, failed, GINT_TO_POINTER(failures().load()),
                      nullptr);
    gst_object_unref(out);
    gst_object_unref(freeze);
    return bin;
}

inline void deviceClassInit(gpointer klass, gpointer) {
    GST_DEVICE_CLASS(klass)->create_element = createElement;
}

inline GType deviceType() {
    static GType type =
        g_type_register_static_simple(GST_TYPE_DEVICE, "CloakcamFakeCamera", sizeof(GstDeviceClass),
                                      deviceClassInit, sizeof(GstDevice), nullptr, GTypeFlags(0));
    return type;
}

// A new device object for the camera, floating.
inline GstDevice *makeDevice() {
    GstCaps *caps = offeredCaps(current());
    GstStructure *properties =
        gst_structure_new("properties", "device.path", G_TYPE_STRING, path(), nullptr);
    GObject *device =
        G_OBJECT(g_object_new(deviceType(), "display-name", name(), "device-class", "Video/Source",
                              "caps", caps, "properties", properties, nullptr));
    gst_caps_unref(caps);
    gst_structure_free(properties);
    return GST_DEVICE(device);
}

// The provider while a device monitor has it started, and the device it lists.
inline GstDeviceProvider *&started() {
    static GstDeviceProvider *provider = nullptr;
    return provider;
}

inline GstDevice *&listed() {
    static GstDevice *device = nullptr;
    return device;
}

inline void announce() {
    if (!started() || listed())
        return;
    listed() = GST_DEVICE(gst_object_ref_sink(makeDevice()));
    gst_device_provider_device_add(started(), listed());
}

inline void withdraw() {
    if (!listed())
        return;
    if (started())
        gst_device_provider_device_remove(started(), listed());
    gst_object_unref(std::exchange(listed(), nullptr));
}

inline GList *probe(GstDeviceProvider *) {
    if (!present())
        return nullptr;
    return g_list_append(nullptr, gst_object_ref_sink(makeDevice()));
}

inline gboolean start(GstDeviceProvider *provider) {
    started() = provider;
    if (present())
        announce();
    return TRUE;
}

inline void stop(GstDeviceProvider *) {
    withdraw();
    started() = nullptr;
}

inline void providerClassInit(gpointer klass, gpointer) {
    GST_DEVICE_PROVIDER_CLASS(klass)->probe = probe;
    GST_DEVICE_PROVIDER_CLASS(klass)->start = start;
    GST_DEVICE_PROVIDER_CLASS(klass)->stop = stop;
    gst_device_provider_class_set_static_metadata(GST_DEVICE_PROVIDER_CLASS(klass), "Fake camera",
                                                  "Source/Video",
                                                  "A still picture posing as a camera", "cloakcam");
}

inline void registerProvider() {
    static bool registered = [] {
        gst_init(nullptr, nullptr);
        GType type = g_type_register_static_simple(
            GST_TYPE_DEVICE_PROVIDER, "CloakcamFakeCameraProvider", sizeof(GstDeviceProviderClass),
            providerClassInit, sizeof(GstDeviceProvider), nullptr, GTypeFlags(0));
        return gst_device_provider_register(nullptr, "cloakcamfakecamera", GST_RANK_PRIMARY,
                                            type) == TRUE;
    }();
    (void)registered;
}

// Registered before anything can start the process's device monitor, which
// only asks the providers registered when it starts.
inline const bool providerRegistered = (registerProvider(), true);

} // namespace fake_camera

class FakeCamera {
  public:
    // `rgb` holds height rows of width * 3 bytes, top row first; `offered`,
    // caps in GStreamer's words, replaces the usual formats.
    FakeCamera(int width, int height, std::vector<uint8_t> rgb, const char *offered = "") {
        fake_camera::registerProvider();
        fake_camera::refusal() = fake_camera::Refusal::None;
        fake_camera::current() = {width, height, std::move(rgb), offered};
        plug();
    }
    ~FakeCamera() {
        fake_camera::held() = false;
        fake_camera::present() = false;
        fake_camera::withdraw();
    }
    FakeCamera(const FakeCamera &) = delete;
    FakeCamera &operator=(const FakeCamera &) = delete;

    // Sources made from now on fail to start, or start again with `None`.
    void refuse(fake_camera::Refusal how) { fake_camera::refusal() = how; }
    // Binding the camera blocks until released.
    void hold(bool held) { fake_camera::held() = held; }

    // The sources made so far stop; the device stays listed.
    void fail(fake_camera::Failure how) {
        fake_camera::failure() = how;
        ++fake_camera::failures();
    }

    void unplug() {
        fail(fake_camera::Failure::Unplugged);
        fake_camera::present() = false;
        fake_camera::withdraw();
    }

    // Plugs the camera back in, now showing `rgb`.
    void plug(int width, int height, std::vector<uint8_t> rgb) {
        fake_camera::current() = {width, height, std::move(rgb), {}};
        fake_camera::present() = true;
        fake_camera::announce();
    }
    void plug() {
        fake_camera::present() = true;
        fake_camera::announce();
    }
};

#endif
