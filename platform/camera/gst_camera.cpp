// The camera table over GStreamer: one pipeline per opened camera, the
// source held to a format, the conversion the output asks for, and an appsink
// that hands each picture over as it comes.

#include "platform/camera/camera_list.h"
#include "platform/camera/camera_modes.h"
#include "platform/camera/camera_watch.h"
#include "platform/camera/pipewire_link.h"
#include "platform/camera/state_change.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>

namespace {

// Where pictures go, shared with the appsink's callbacks: a pipeline that
// would not stop in time may still stream after its camera was closed.
struct Delivery {
    std::mutex mutex;
    FrameSink sink = nullptr;
    void *context = nullptr;
    // Pictures whose rows GStreamer padded otherwise, packed as Windows keeps
    // them; the same size every frame, so nothing is allocated once it runs.
    std::vector<uint8_t> packed;
    // The stream's caps, read once each time they change.
    GstCaps *caps = nullptr;
    GstVideoInfo info;
    bool raw = false;

    ~Delivery() { gst_caps_replace(&caps, nullptr); }
};

} // namespace

struct Camera {
    CameraListing listing;
    bool shared = false;
    GstElement *pipeline = nullptr;
    GstElement *source = nullptr; // the source and its capsfilter, as one bin
    GstElement *held = nullptr;   // the capsfilter, owned by the pipeline
    GstElement *appsink = nullptr;
    DeviceModes modes;
    std::shared_ptr<Delivery> delivery = std::make_shared<Delivery>();
    std::unique_ptr<CameraWatch> watch;
    // The state changes of this pipeline that have not finished.
    std::shared_ptr<std::atomic<int>> changing = std::make_shared<std::atomic<int>>(0);
    // The last change was left to finish by itself.
    bool settling = false;
    int mode = 0; // the one it is held to
};

namespace {

const CameraTable *replacement = nullptr;

// The source followed by the capsfilter that holds it to a format, as one
// element with a "src" pad.
GstElement *heldSource(GstElement *source, GstElement *held) {
    GstElement *bin = gst_bin_new("camera");
    gst_bin_add_many(GST_BIN(bin), source, held, nullptr);
    gst_element_link(source, held);
    GstPad *out = gst_element_get_static_pad(held, "src");
    gst_element_add_pad(bin, gst_ghost_pad_new("src", out));
    gst_object_unref(out);
    return bin;
}

// GStreamer's name for a four-character code.
std::string formatName(uint32_t code) {
    if (code == rgb24Code)
        return "BGR";
    if (code == rgb32Code)
        return "BGRx";
    const char *name = gst_video_format_to_string(gst_video_format_from_fourcc(code));
    return name ? name : "";
}

// Into `output`'s format and size; RGB turned bottom row first as well.
GstElement *makeConversion(bool decodeJpeg, const CameraOutput &output) {
    const std::string format = formatName(output.code);
    const bool rgb = output.code == rgb24Code || output.code == rgb32Code;
    // JPEG's YUV is at full range, which jpegdec would otherwise label as
    // whatever is asked after it.
    const std::string description =
        std::string(decodeJpeg
                        ? "jpegdec ! capsfilter caps=\"video/x-raw,format=I420,colorimetry=1:4:0:0;"
                          "video/x-raw\" ! "
                        : "") +
        // A camera shared through PipeWire streams in whatever shape its
        // first client chose; it is cut to the output's before being scaled.
        (output.width > 0 ? "aspectratiocrop name=shape ! " : "") +
        // Shrinking, bilinear2's taps grow with the factor, so that every
        // source pixel counts; the default's two taps skip the rest.
        "videoconvert ! videoscale method=bilinear2 ! capsfilter name=size" +
        (output.bottomUp ? " ! videoflip video-direction=vert" : "");
    GstElement *bin = gst_parse_bin_from_description(description.c_str(), TRUE, nullptr);
    if (!bin || format.empty())
        return bin;
    GstCaps *caps =
        gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, format.c_str(), nullptr);
    // Windows' YUV is BT.601 at video levels, whatever the size; GStreamer's
    // would be BT.709 for HD and JPEG's at full range.
    if (!rgb)
        gst_caps_set_simple(caps, "colorimetry", G_TYPE_STRING, "bt601", nullptr);
    if (output.width > 0) {
        gst_caps_set_simple(caps, "width", G_TYPE_INT, output.width, "height", G_TYPE_INT,
                            output.height, nullptr);
        GstElement *shape = gst_bin_get_by_name(GST_BIN(bin), "shape");
        g_object_set(shape, "aspect-ratio", output.width, output.height, nullptr);
        gst_object_unref(shape);
    }
    GstElement *size = gst_bin_get_by_name(GST_BIN(bin), "size");
    g_object_set(size, "caps", caps, nullptr);
    gst_object_unref(size);
    gst_caps_unref(caps);
    return bin;
}

size_t planeRowBytes(const GstVideoInfo &info, guint plane) {
    gint components[GST_VIDEO_MAX_COMPONENTS];
    gst_video_format_info_component(info.finfo, plane, components);
    return size_t(GST_VIDEO_INFO_COMP_WIDTH(&info, components[0])) *
           GST_VIDEO_INFO_COMP_PSTRIDE(&info, components[0]);
}

int planeRows(const GstVideoInfo &info, guint plane) {
    gint components[GST_VIDEO_MAX_COMPONENTS];
    gst_video_format_info_component(info.finfo, plane, components);
    return GST_VIDEO_INFO_COMP_HEIGHT(&info, components[0]);
}

// A packed format's rows padded to four bytes, planes one after the other
// unpadded: Windows' layout. Null when the frame is laid out so already.
const uint8_t *pack(const GstVideoFrame &frame, std::vector<uint8_t> *packed, size_t *size) {
    const GstVideoInfo &info = frame.info;
    const guint planes = GST_VIDEO_INFO_N_PLANES(&info);
    size_t total = 0;
    bool asKept = true;
    for (guint plane = 0; plane < planes; ++plane) {
        const size_t row = planeRowBytes(info, plane);
        const size_t stride = planes == 1 ? GST_ROUND_UP_4(row) : row;
        asKept = asKept && size_t(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, plane)) == stride &&
                 static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, plane)) ==
                     static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)) + total;
        total += stride * planeRows(info, plane);
    }
    *size = total;
    if (asKept)
        return static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    packed->resize(total);
    uint8_t *to = packed->data();
    for (guint plane = 0; plane < planes; ++plane) {
        const size_t row = planeRowBytes(info, plane);
        const size_t stride = planes == 1 ? GST_ROUND_UP_4(row) : row;
        const auto *from = static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, plane));
        for (int y = 0; y < planeRows(info, plane); ++y, to += stride) {
            std::memcpy(to, from + size_t(y) * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, plane), row);
            std::memset(to + row, 0, stride - row);
        }
    }
    return packed->data();
}

// Runs on the streaming thread.
GstFlowReturn onSample(GstAppSink *appsink, gpointer data) {
    Delivery &delivery = **static_cast<std::shared_ptr<Delivery> *>(data);
    GstSample *sample = gst_app_sink_pull_sample(appsink);
    if (!sample)
        return GST_FLOW_OK;
    GstBuffer *buffer = gst_sample_get_buffer(sample);
    const GstClockTime time = GST_BUFFER_PTS(buffer);
    const int64_t at = GST_CLOCK_TIME_IS_VALID(time) ? int64_t(time / 100) : 0;
    GstVideoFrame frame;
    std::lock_guard<std::mutex> lock(delivery.mutex);
    GstCaps *caps = gst_sample_get_caps(sample);
    if (caps != delivery.caps) {
        gst_caps_replace(&delivery.caps, caps);
        delivery.raw = caps && gst_video_info_from_caps(&delivery.info, caps);
    }
    if (!delivery.sink) {
    } else if (delivery.raw && gst_video_frame_map(&frame, &delivery.info, buffer, GST_MAP_READ)) {
        size_t size = 0;
        const uint8_t *bytes = pack(frame, &delivery.packed, &size);
        delivery.sink(delivery.context, bytes, size, at);
        gst_video_frame_unmap(&frame);
    } else {
        // Not raw video: the bytes as they come.
        GstMapInfo map;
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            delivery.sink(delivery.context, map.data, map.size, at);
            gst_buffer_unmap(buffer, &map);
        }
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

GstElement *makeAppsink(const std::shared_ptr<Delivery> &delivery) {
    GstElement *element = gst_element_factory_make("appsink", nullptr);
    // Pictures are taken as they come: waiting on the clock or for a preroll
    // would only hold up the start.
    g_object_set(element, "sync", FALSE, "async", FALSE, "max-buffers", 1, "drop", TRUE, nullptr);
    GstAppSinkCallbacks callbacks = {};
    callbacks.new_sample = onSample;
    gst_app_sink_set_callbacks(
        GST_APP_SINK(element), &callbacks, new std::shared_ptr<Delivery>(delivery),
        [](gpointer held) { delete static_cast<std::shared_ptr<Delivery> *>(held); });
    return element;
}

// Takes `camera`'s pipeline to `target` on a thread of its own, waiting at
// most `bound`; true when it got there in time, with its answer. GStreamer's
// own gst_element_call_async would do it on its shared pool, whose idle
// threads keep their memory: a camera restarted again and again grew the
// program by a megabyte a time.
bool changeState(Camera &camera, GstState target, std::chrono::milliseconds bound,
                 GstStateChangeReturn *result = nullptr) {
    auto answer = std::make_shared<GstStateChangeReturn>(GST_STATE_CHANGE_ASYNC);
    GstElement *pipeline = GST_ELEMENT(gst_object_ref(camera.pipeline));
    const bool done = changeWithinBound(
        [pipeline, target, answer] {
            *answer = gst_element_set_state(pipeline, target);
            if (*answer == GST_STATE_CHANGE_FAILURE && target != GST_STATE_NULL)
                gst_element_set_state(pipeline, GST_STATE_NULL);
            gst_object_unref(pipeline);
        },
        bound, camera.changing);
    if (done && result)
        *result = *answer;
    return done;
}

// What the bus has for the watch now, and for `millis` more when asked.
void readBus(Camera &camera, GstClockTime wait = 0) {
    GstBus *bus = gst_element_get_bus(camera.pipeline);
    const auto types =
        GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS | GST_MESSAGE_APPLICATION);
    for (GstMessage *message; (message = gst_bus_timed_pop_filtered(bus, wait, types));) {
        if (camera.watch)
            camera.watch->read(message);
        gst_message_unref(message);
        wait = 0;
    }
    gst_object_unref(bus);
}

// The conversion `output` asks for, when it asks one, and the appsink after
// the source.
bool buildOutput(Camera &camera, int mode, const CameraOutput &output) {
    GstElement *conversion =
        output.code ? makeConversion(camera.modes.modes[mode].code == jpegCode, output) : nullptr;
    if (output.code && !conversion)
        return false;
    camera.appsink = makeAppsink(camera.delivery);
    gst_bin_add(GST_BIN(camera.pipeline), camera.appsink);
    if (!conversion)
        return gst_element_link(camera.source, camera.appsink);
    gst_bin_add(GST_BIN(camera.pipeline), conversion);
    return gst_element_link_many(camera.source, conversion, camera.appsink, nullptr);
}

// A source whose camera service never answers holds its start for good
// (PipeWire's, waiting for a link its daemon could not make); flushing it
// makes it give up, and the stuck start fails.
void flushSource(Camera &camera) {
    if (GstPad *pad = gst_element_get_static_pad(camera.source, "src")) {
        gst_pad_send_event(pad, gst_event_new_flush_start());
        gst_object_unref(pad);
    }
}

// ---- the table's calls ----

void holdCamera(Camera *camera, int mode, int width, int height, int64_t interval) {
    const GstStructure *structure = camera->modes.structures[mode].get();
    // A shared camera keeps the size and rate it streams at, and the
    // conversion brings it to the output's.
    GstCaps *caps =
        camera->shared ? formatCapsOf(structure) : capsOf(structure, width, height, interval);
    g_object_set(camera->held, "caps", caps, nullptr);
    gst_caps_unref(caps);
    camera->mode = mode;
}

Camera *openCamera(const CameraListing &listing) {
    GstDevice *device = deviceOf(listing);
    GstElement *source = device ? gst_device_create_element(device, nullptr) : nullptr;
    if (!source)
        return nullptr;
    holdPipeWireLinkFor(source);
    // PipeWire takes its buffers' memory back when a camera goes away, even
    // from a picture still being decoded: pictures are copied out of it.
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(source), "always-copy"))
        g_object_set(source, "always-copy", TRUE, nullptr);
    GstPad *pad = gst_element_get_static_pad(source, "src");
    if (!pad) {
        gst_object_unref(gst_object_ref_sink(source));
        return nullptr;
    }
    gst_object_unref(pad);
    auto *camera = new Camera;
    camera->listing = listing;
    camera->shared = sharedThroughPipeWire(device);
    camera->pipeline = GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("cloakcam")));
    // The camera's removal and return are told while it is stopped too.
    gst_pipeline_set_auto_flush_bus(GST_PIPELINE(camera->pipeline), FALSE);
    camera->held = gst_element_factory_make("capsfilter", nullptr);
    camera->source = heldSource(source, camera->held);
    gst_bin_add(GST_BIN(camera->pipeline), camera->source);
    GstCaps *caps = gst_device_get_caps(device);
    camera->modes = modesOf(caps);
    if (caps)
        gst_caps_unref(caps);
    // As a driver does: the first format until another is set.
    const CameraMode &first = camera->modes.modes[0];
    holdCamera(camera, 0, first.width, first.height, first.interval);
    return camera;
}

const std::vector<CameraMode> &cameraModes(Camera *camera) { return camera->modes.modes; }

int64_t nearestInterval(Camera *camera, int mode, int64_t asked) {
    return intervalNear(camera->modes.structures[mode].get(), asked,
                        camera->modes.modes[mode].interval);
}

// Refused while an earlier change of this camera, or too many of any, are
// still stuck: the new one would only wait behind them.
CameraStart startCamera(Camera *camera, const CameraOutput &output, FrameSink sink, void *context,
                        CameraEvent *why) {
    if (*camera->changing > 0 || unfinishedChanges() >= unfinishedChangesBound)
        return CameraStart::Stuck;
    if (!camera->appsink && !buildOutput(*camera, camera->mode, output)) {
        *why = CameraEvent::NoFormat;
        return CameraStart::Failed;
    }
    {
        std::lock_guard<std::mutex> lock(camera->delivery->mutex);
        camera->delivery->sink = sink;
        camera->delivery->context = context;
    }
    if (!camera->watch) {
        GstBus *bus = gst_element_get_bus(camera->pipeline);
        GstPad *pad = gst_element_get_static_pad(camera->source, "src");
        camera->watch.reset(new CameraWatch(camera->listing, bus, pad, camera->shared));
        gst_object_unref(pad);
        gst_object_unref(bus);
    }
    GstStateChangeReturn result = GST_STATE_CHANGE_ASYNC;
    const bool done = changeState(*camera, GST_STATE_PLAYING, stateChangeBound, &result);
    camera->settling = !done;
    if (done && result == GST_STATE_CHANGE_FAILURE) {
        // A camera that fails while starting has said why on the way.
        readBus(*camera);
        *why = camera->watch->takeFailure();
        return CameraStart::Failed;
    }
    return !done || result == GST_STATE_CHANGE_ASYNC ? CameraStart::OnTheWay : CameraStart::Running;
}

// Behind a change that has not finished, another would only wait on a
// thread of its own: the camera is left to the one under way.
bool stopCamera(Camera *camera) {
    if (*camera->changing > 0) {
        flushSource(*camera);
        camera->settling = true;
        return false;
    }
    camera->settling = !changeState(*camera, GST_STATE_NULL, stateChangeBound);
    return true;
}

bool cameraChanging(Camera *camera) { return *camera->changing > 0; }

bool nextEvent(Camera *camera, CameraEvent *event, int millis) {
    using Clock = CameraWatch::Clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(millis);
    for (;;) {
        readBus(*camera);
        Clock::time_point now = Clock::now(), next = Clock::time_point::max();
        if (camera->watch && camera->watch->takeDue(event, now, &next))
            return true;
        if (now >= deadline)
            return false;
        const auto wait = std::min(deadline, next) - now;
        readBus(*camera, GstClockTime(std::chrono::nanoseconds(wait).count()));
    }
}

// The pipeline stops where it cannot hold up the caller: in time, all of it
// goes before this returns; otherwise it finishes by itself. Behind a change
// that did not finish it would only wait for that one, so then it does not.
void closeCamera(Camera *camera) {
    {
        std::lock_guard<std::mutex> lock(camera->delivery->mutex);
        camera->delivery->sink = nullptr;
    }
    camera->watch.reset();
    // What the bus still holds, and what the pipeline says as it stops, would
    // keep the pipeline alive: messages hold their sources.
    GstBus *bus = gst_element_get_bus(camera->pipeline);
    gst_bus_set_flushing(bus, TRUE);
    gst_object_unref(bus);
    changeState(*camera, GST_STATE_NULL,
                camera->settling || *camera->changing > 0 ? std::chrono::milliseconds(0)
                                                          : stateChangeBound);
    gst_object_unref(camera->pipeline);
    delete camera;
}

bool listAll(std::vector<CameraListing> *cameras) { return listCameras(cameras); }

const CameraTable gstreamerTable = {listAll,    openCamera,  cameraModes, nearestInterval,
                                    holdCamera, startCamera, stopCamera,  cameraChanging,
                                    nextEvent,  closeCamera};

} // namespace

const CameraTable &cameraTable() { return replacement ? *replacement : gstreamerTable; }

void useCameraTable(const CameraTable *table) { replacement = table; }
