#ifndef CLOAKCAM_TESTS_PLATFORM_FAKE_CAMERA_H
#define CLOAKCAM_TESTS_PLATFORM_FAKE_CAMERA_H

// A camera for tests on machines without one. While a FakeCamera exists, the
// video input category lists "Fake Camera" (path /dev/fake-video0), and binding
// it gives a live source that shows the given picture at 30 frames a second.
// Build the graph while the FakeCamera is alive; the picture is taken when the
// capture filter is made.

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace fake_camera {

inline const char *name() { return "Fake Camera"; }
inline const char *path() { return "/dev/fake-video0"; }

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb; // rows of width * 3 bytes, top row first
};

inline Picture &current() {
    static Picture picture;
    return picture;
}

inline bool &present() {
    static bool shown = false;
    return shown;
}

inline GstCaps *pictureCaps(const Picture &picture) {
    return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "RGB", "width", G_TYPE_INT,
                               picture.width, "height", G_TYPE_INT, picture.height, "framerate",
                               GST_TYPE_FRACTION, 30, 1, nullptr);
}

inline void feed(GstAppSrc *source, guint, gpointer data) {
    // The one picture goes out once; imagefreeze repeats it.
    auto *buffer = static_cast<GstBuffer *>(data);
    if (GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_LAST))
        return;
    GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_LAST);
    gst_app_src_push_buffer(source, gst_buffer_copy(buffer));
}

inline GstElement *createElement(GstDevice *, const gchar *) {
    const Picture &picture = current();
    GstElement *bin = gst_parse_bin_from_description(
        "appsrc name=feed format=time ! imagefreeze is-live=true", TRUE, nullptr);
    GstElement *source = gst_bin_get_by_name(GST_BIN(bin), "feed");
    GstCaps *caps = pictureCaps(picture);
    gst_app_src_set_caps(GST_APP_SRC(source), caps);
    gst_caps_unref(caps);
    GstBuffer *buffer = gst_buffer_new_memdup(picture.rgb.data(), picture.rgb.size());
    GstAppSrcCallbacks callbacks = {};
    callbacks.need_data = feed;
    gst_app_src_set_callbacks(GST_APP_SRC(source), &callbacks, buffer,
                              reinterpret_cast<GDestroyNotify>(gst_buffer_unref));
    gst_object_unref(source);
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

inline GList *probe(GstDeviceProvider *) {
    if (!present())
        return nullptr;
    GstCaps *caps = pictureCaps(current());
    GstStructure *properties =
        gst_structure_new("properties", "device.path", G_TYPE_STRING, path(), nullptr);
    GObject *device =
        G_OBJECT(g_object_new(deviceType(), "display-name", name(), "device-class", "Video/Source",
                              "caps", caps, "properties", properties, nullptr));
    gst_caps_unref(caps);
    gst_structure_free(properties);
    return g_list_append(nullptr, gst_object_ref_sink(device));
}

inline void providerClassInit(gpointer klass, gpointer) {
    GST_DEVICE_PROVIDER_CLASS(klass)->probe = probe;
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

} // namespace fake_camera

class FakeCamera {
  public:
    // `rgb` holds height rows of width * 3 bytes, top row first.
    FakeCamera(int width, int height, std::vector<uint8_t> rgb) {
        fake_camera::registerProvider();
        fake_camera::current() = {width, height, std::move(rgb)};
        fake_camera::present() = true;
    }
    ~FakeCamera() { fake_camera::present() = false; }
    FakeCamera(const FakeCamera &) = delete;
    FakeCamera &operator=(const FakeCamera &) = delete;
};

#endif
