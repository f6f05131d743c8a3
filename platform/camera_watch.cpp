// The watch over a graph's camera: one line when it cannot start, one when it
// is lost, one when it is back, and the restart in between.

#include "platform/camera_watch.h"

#include "platform/device_list.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace {

bool mentions(const char *text, const char *word) { return text && strcasestr(text, word); }

// Why the camera stopped, in words for the user.
std::string reasonOf(GstMessage *message) {
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS)
        return "it stopped sending pictures";
    GError *error = nullptr;
    gchar *debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    auto either = [&](const char *word) {
        return mentions(error->message, word) || mentions(debug, word);
    };
    std::string reason;
    // Video4Linux reports a camera in use by another program as busy, either
    // on opening it or on setting its format.
    if (g_error_matches(error, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_BUSY) || either("busy"))
        reason = "it is busy";
    else if (g_error_matches(error, GST_CORE_ERROR, GST_CORE_ERROR_NEGOTIATION) ||
             g_error_matches(error, GST_STREAM_ERROR, GST_STREAM_ERROR_FORMAT) ||
             either("not-negotiated"))
        reason = "it offers no picture format that can be shown";
    else if (either("No such device") || either("disconnected"))
        reason = "it was unplugged";
    else
        reason = error->message;
    g_error_free(error);
    g_free(debug);
    return reason;
}

} // namespace

CameraWatch::CameraWatch(GstElement *pipeline, IGstCamera *camera,
                         std::function<void(LONG code, LONG_PTR param1)> notify)
    : pipeline_(pipeline), camera_(camera), notify_(std::move(notify)),
      monitor_(gst_device_monitor_new()) {
    camera_->AddRef();
    GstDevice *device = camera_->device();
    DeviceEntry described = describeDevice(device);
    gst_object_unref(device);
    path_ = described.path;
    name_ = described.name;

    void *found = nullptr;
    camera_->QueryInterface(IID_IGstFilter, &found);
    auto *filter = static_cast<IGstFilter *>(found);
    output_ = gst_element_get_static_pad(filter->bin(), "src");
    filter->Release();
    probe_ = gst_pad_add_probe(
        output_, GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
        onBuffer, this, nullptr);

    // Started now, so the devices already there are announced before the
    // camera can be lost and none of them is taken for its return.
    gst_device_monitor_add_filter(monitor_, "Video/Source", nullptr);
    GstBus *bus = gst_device_monitor_get_bus(monitor_);
    gst_bus_set_sync_handler(bus, onDeviceMessage, this, nullptr);
    gst_object_unref(bus);
    gst_device_monitor_start(monitor_);

    worker_ = std::thread(&CameraWatch::work, this);
}

CameraWatch::~CameraWatch() {
    gst_pad_remove_probe(output_, probe_);
    gst_object_unref(output_);
    gst_object_unref(monitor_);
    if (returned_)
        gst_object_unref(returned_);
    camera_->Release();
}

void CameraWatch::close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closing_)
            return;
        closing_ = true;
    }
    wake_.notify_all();
    worker_.join();
    gst_device_monitor_stop(monitor_);
    GstBus *bus = gst_device_monitor_get_bus(monitor_);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
}

void CameraWatch::pipelineMessage(GstMessage *message) {
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR ||
        GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS)
        lose(reasonOf(message));
}

GstBusSyncReply CameraWatch::onDeviceMessage(GstBus *, GstMessage *message, gpointer self) {
    static_cast<CameraWatch *>(self)->deviceMessage(message);
    // A message the handler drops is the handler's to free.
    gst_message_unref(message);
    return GST_BUS_DROP;
}

// A camera that comes back may get another device node when the old one was
// still held, so its name also identifies it; one that goes away is known by
// its node alone, so a second camera of the same make can come and go freely.
void CameraWatch::deviceMessage(GstMessage *message) {
    GstDevice *device = nullptr;
    bool added = GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_ADDED;
    if (added)
        gst_message_parse_device_added(message, &device);
    else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_DEVICE_REMOVED)
        gst_message_parse_device_removed(message, &device);
    if (!device)
        return;
    DeviceEntry described = describeDevice(device);
    if (!added && described.path == path_) {
        lose("it was unplugged");
    } else if (added && (described.path == path_ || described.name == name_)) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (state_ == State::Lost && !closing_) {
            if (returned_)
                gst_object_unref(returned_);
            returned_ = GST_DEVICE(gst_object_ref(device));
            pending_ = Work::Restart;
            wake_.notify_one();
        }
    }
    gst_object_unref(device);
}

GstPadProbeReturn CameraWatch::onBuffer(GstPad *, GstPadProbeInfo *, gpointer self) {
    auto *watch = static_cast<CameraWatch *>(self);
    if (watch->awaitingPicture_.load(std::memory_order_relaxed))
        watch->pictureArrived();
    return GST_PAD_PROBE_OK;
}

void CameraWatch::pictureArrived() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == State::Returning)
        std::fprintf(stderr, "cloakcam: camera back\n");
    if (state_ == State::Starting || state_ == State::Returning) {
        state_ = State::Streaming;
        awaitingPicture_ = false;
    }
}

// The line is written under the lock, so that it cannot overtake or follow a
// line about the camera's return.
void CameraWatch::lose(const std::string &reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closing_ || state_ == State::Lost)
        return;
    if (state_ == State::Starting) {
        std::string camera = path_ == name_ ? path_ : path_ + " (" + name_ + ")";
        std::fprintf(stderr, "cloakcam: cannot use camera %s: %s\n", camera.c_str(),
                     reason.c_str());
        notify_(EC_ERRORABORT, E_FAIL);
    } else if (state_ == State::Streaming) {
        std::fprintf(stderr, "cloakcam: camera lost: %s\n", reason.c_str());
    }
    // A failed return was already announced as a loss and stays quiet.
    state_ = State::Lost;
    awaitingPicture_ = false;
    if (pending_ == Work::None)
        pending_ = Work::Release;
    wake_.notify_one();
}

// Sleeps until a loss or a return calls for the pipeline to stop or start.
void CameraWatch::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return closing_ || pending_ != Work::None; });
        if (closing_)
            return;
        Work job = std::exchange(pending_, Work::None);
        GstDevice *device = std::exchange(returned_, nullptr);
        lock.unlock();
        // Stopping closes the device, so a camera plugged back in gets its old
        // node again rather than a new one.
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        if (job == Work::Restart)
            restart(device);
        if (device)
            gst_object_unref(device);
        lock.lock();
    }
}

void CameraWatch::restart(GstDevice *device) {
    // A device that cannot make a source stays lost until it is listed again.
    if (!camera_->replaceSource(device))
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closing_ || state_ != State::Lost)
            return;
        state_ = State::Returning;
        awaitingPicture_ = true;
    }
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        lose("it cannot be started");
}
