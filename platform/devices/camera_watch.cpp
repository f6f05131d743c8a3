// The watch over a graph's camera: its failures and its removal and return,
// as graph events.

#include "platform/devices/camera_watch.h"

#include "platform/devices/device_list.h"
#include "platform/devices/device_monitor.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <unistd.h>

namespace {

// A device is listed before it can be used: udev hands a new video node its
// permissions a moment after announcing it, and a PipeWire camera lists its
// node before it has settled its format (a stream connected at once gets no
// pictures). Windows tells of an arrival once the device is ready; here it
// is told this much later.
constexpr std::chrono::milliseconds settleTime{500};

// A camera pulled out mid-stream fails its read (v4l2src's poll error) a
// moment before udev tells of its removal. A read error waits this long for
// the removal that explains it; Windows' filter posts the removal alone.
constexpr std::chrono::milliseconds removalTime{400};

// A PipeWire stream whose link the daemon could not make (the camera held
// by a program over V4L2, or streamed for another in a format this one does
// not take) waits for a format for ever and is told nothing. Windows fails
// to run a camera held elsewhere; here one with no format by then is busy.
constexpr std::chrono::milliseconds formatTime{3000};

bool mentions(const char *text, const char *word) { return text && strcasestr(text, word); }

bool nodeExists(const std::string &path) {
    return path.rfind("/dev/", 0) == 0 && access(path.c_str(), F_OK) == 0;
}

} // namespace

CameraWatch::CameraWatch(IGstCamera *camera, Notify notify, Withdraw withdraw)
    : camera_(camera), notify_(std::move(notify)), withdraw_(std::move(withdraw)) {
    camera_->AddRef();
    GstDevice *device = camera_->device();
    DeviceEntry described = describeDevice(device);
    path_ = described.path;
    name_ = described.name;
    hasNode_ = nodeExists(path_);
    if (withdraw_ && sharedThroughPipeWire(device))
        awaitFormat();
    gst_object_unref(device);

    listener_ =
        addDeviceListener([this](GstDevice *device, bool added) { deviceMessage(device, added); });
}

CameraWatch::~CameraWatch() {
    removeDeviceListener(listener_);
    if (pad_) {
        gst_pad_remove_probe(pad_, probe_);
        gst_object_unref(pad_);
    }
    camera_->Release();
}

// Busy, told once the wait is over, unless a format comes first.
void CameraWatch::awaitFormat() {
    void *found = nullptr;
    if (FAILED(camera_->QueryInterface(IID_IGstFilter, &found)))
        return;
    auto *filter = static_cast<IGstFilter *>(found);
    pad_ = gst_element_get_static_pad(filter->bin(), "src");
    filter->Release();
    if (!pad_)
        return;
    awaitingFormat_ = true;
    busyAt_ = std::chrono::steady_clock::now() + formatTime;
    notify_(EC_ERRORABORT, HRESULT_FROM_WIN32(ERROR_BUSY), 0, formatTime);
    probe_ = gst_pad_add_probe(pad_, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, onEvent, this, nullptr);
}

GstPadProbeReturn CameraWatch::onEvent(GstPad *, GstPadProbeInfo *info, gpointer watch) {
    if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_CAPS)
        static_cast<CameraWatch *>(watch)->formatAgreed();
    return GST_PAD_PROBE_OK;
}

void CameraWatch::formatAgreed() {
    std::lock_guard<std::mutex> lock(mutex_);
    busyTold();
}

// Under the lock: whether busy has been told, which then stands for what
// comes after; a busy not yet told is taken back for what has happened.
bool CameraWatch::busyTold() {
    if (!std::exchange(awaitingFormat_, false))
        return false;
    if (std::chrono::steady_clock::now() < busyAt_) {
        withdraw_(EC_ERRORABORT, HRESULT_FROM_WIN32(ERROR_BUSY));
        return false;
    }
    lost_ = true;
    return true;
}

// GStreamer's errors, as the HRESULTs Windows gives for the same trouble.
void CameraWatch::pipelineMessage(GstMessage *message) {
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
        lose(EC_COMPLETE, S_OK, 0);
        return;
    }
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR)
        return;
    GError *error = nullptr;
    gchar *debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    auto either = [&](const char *word) {
        return mentions(error->message, word) || mentions(debug, word);
    };
    // Video4Linux reports a camera in use by another program as busy, either
    // on opening it or on setting its format, and one pulled out as gone. A
    // node the user may not open fails to open with the system's EACCES.
    const bool opening =
        g_error_matches(error, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_OPEN_READ) ||
        g_error_matches(error, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_OPEN_READ_WRITE);
    if (either("No such device") || either("disconnected"))
        lose(EC_DEVICE_LOST, 0, 0);
    else if (g_error_matches(error, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_AUTHORIZED) ||
             (opening && either("Permission denied")))
        lose(EC_ERRORABORT, E_ACCESSDENIED, 0);
    else if (g_error_matches(error, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_BUSY) || either("busy"))
        lose(EC_ERRORABORT, HRESULT_FROM_WIN32(ERROR_BUSY), 0);
    else if (g_error_matches(error, GST_CORE_ERROR, GST_CORE_ERROR_NEGOTIATION) ||
             g_error_matches(error, GST_STREAM_ERROR, GST_STREAM_ERROR_FORMAT) ||
             either("not-negotiated"))
        lose(EC_ERRORABORT, VFW_E_NO_ACCEPTABLE_TYPES, 0);
    else if (error->domain == GST_RESOURCE_ERROR && hasNode_ && !nodeExists(path_))
        lose(EC_DEVICE_LOST, 0, 0);
    else if (error->domain == GST_RESOURCE_ERROR)
        readFailed();
    else
        lose(EC_ERRORABORT, E_FAIL, 0);
    g_error_free(error);
    g_free(debug);
}

// A camera that comes back may get another device node when the old one was
// still held, so its name also identifies it; one that goes away is known by
// its node alone, so a second camera of the same make can come and go freely.
void CameraWatch::deviceMessage(GstDevice *device, bool added) {
    DeviceEntry described = describeDevice(device);
    if (!added && described.path == path_) {
        unplugged();
    } else if (added && (described.path == path_ || described.name == name_)) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (lost_) {
            lost_ = readFailed_ = false;
            notify_(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(camera_), 1, settleTime);
        }
    }
}

void CameraWatch::readFailed() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (busyTold() || lost_)
        return;
    lost_ = readFailed_ = true;
    notify_(EC_ERRORABORT, HRESULT_FROM_WIN32(ERROR_READ_FAULT), 0, removalTime);
}

void CameraWatch::unplugged() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // The removal explains a read error just before it, and reaches the
        // graph's owner first.
        if (!busyTold() && std::exchange(readFailed_, false)) {
            notify_(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(camera_), 0,
                    std::chrono::milliseconds(0));
            return;
        }
    }
    lose(EC_DEVICE_LOST, 0, 0);
}

void CameraWatch::lose(LONG code, LONG_PTR param1, LONG_PTR param2) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (busyTold() || lost_)
        return;
    lost_ = true;
    notify_(code, code == EC_DEVICE_LOST ? reinterpret_cast<LONG_PTR>(camera_) : param1, param2,
            std::chrono::milliseconds(0));
}
