#include "platform/camera/camera_watch.h"

#include "platform/camera/camera_list.h"
#include "platform/camera/device_monitor.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include <unistd.h>

namespace {

using Clock = CameraWatch::Clock;

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

const char *const deviceMessage = "cloakcam-device";
const char *const formatMessage = "cloakcam-format";

bool mentions(const char *text, const char *word) { return text && strcasestr(text, word); }

bool nodeExists(const std::string &path) {
    return path.rfind("/dev/", 0) == 0 && access(path.c_str(), F_OK) == 0;
}

// When something happened, as the watch's clock tells it: messages are read
// some time after they were posted.
gint64 stamp() { return Clock::now().time_since_epoch().count(); }

Clock::time_point stampOf(const GstStructure *structure) {
    gint64 at = 0;
    gst_structure_get_int64(structure, "at", &at);
    return Clock::time_point(Clock::duration(at));
}

void post(GstBus *bus, GstStructure *structure) {
    gst_bus_post(bus, gst_message_new_application(nullptr, structure));
}

GstPadProbeReturn onEvent(GstPad *, GstPadProbeInfo *info, gpointer bus) {
    if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_CAPS)
        post(GST_BUS(bus), gst_structure_new(formatMessage, "at", G_TYPE_INT64, stamp(), nullptr));
    return GST_PAD_PROBE_OK;
}

bool isFailure(CameraEvent event) {
    return event != CameraEvent::Ended && event != CameraEvent::Unplugged &&
           event != CameraEvent::Returned;
}

} // namespace

CameraWatch::CameraWatch(const CameraListing &camera, GstBus *bus, GstPad *source, bool shared)
    : bus_(GST_BUS(gst_object_ref(bus))), path_(camera.path), name_(camera.name),
      hasNode_(nodeExists(camera.path)) {
    if (shared && source) {
        pad_ = GST_PAD(gst_object_ref(source));
        awaitingFormat_ = true;
        busyAt_ = Clock::now() + formatTime;
        tell(CameraEvent::Busy, busyAt_);
        probe_ = gst_pad_add_probe(pad_, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, onEvent,
                                   gst_object_ref(bus_), gst_object_unref);
    }
    GstBus *posted = bus_;
    listener_ = addDeviceListener([posted](GstDevice *device, bool added) {
        const CameraListing listing = describeDevice(device);
        post(posted, gst_structure_new(deviceMessage, "added", G_TYPE_BOOLEAN, added, "path",
                                       G_TYPE_STRING, listing.path.c_str(), "name", G_TYPE_STRING,
                                       listing.name.c_str(), "at", G_TYPE_INT64, stamp(), nullptr));
    });
}

CameraWatch::~CameraWatch() {
    removeDeviceListener(listener_);
    if (pad_) {
        gst_pad_remove_probe(pad_, probe_);
        gst_object_unref(pad_);
    }
    gst_object_unref(bus_);
}

void CameraWatch::read(GstMessage *message) {
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
        lose(CameraEvent::Ended, Clock::now());
    } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        pipelineFailed(message);
    } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_APPLICATION) {
        const GstStructure *structure = gst_message_get_structure(message);
        if (gst_structure_has_name(structure, formatMessage)) {
            busyTold(stampOf(structure));
        } else if (gst_structure_has_name(structure, deviceMessage)) {
            gboolean added = FALSE;
            gst_structure_get_boolean(structure, "added", &added);
            const char *path = gst_structure_get_string(structure, "path");
            const char *name = gst_structure_get_string(structure, "name");
            deviceChanged(added, path ? path : "", name ? name : "", stampOf(structure));
        }
    }
}

bool CameraWatch::takeDue(CameraEvent *event, Clock::time_point now, Clock::time_point *next) {
    // One after another: an event not yet due holds back those after it.
    if (pending_.empty() || pending_.front().due > now) {
        *next = pending_.empty() ? Clock::time_point::max() : pending_.front().due;
        return false;
    }
    *event = pending_.front().event;
    pending_.pop_front();
    return true;
}

CameraEvent CameraWatch::takeFailure() {
    auto at = std::find_if(pending_.begin(), pending_.end(),
                           [](const Pending &one) { return isFailure(one.event); });
    if (at == pending_.end())
        return CameraEvent::Failed;
    const CameraEvent event = at->event;
    pending_.erase(at);
    return event;
}

// GStreamer's errors, as what they mean for the camera.
void CameraWatch::pipelineFailed(GstMessage *message) {
    GError *error = nullptr;
    gchar *debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    auto either = [&](const char *word) {
        return mentions(error->message, word) || mentions(debug, word);
    };
    const Clock::time_point now = Clock::now();
    // Video4Linux reports a camera in use by another program as busy, either
    // on opening it or on setting its format, and one pulled out as gone. A
    // node the user may not open fails to open with the system's EACCES.
    const bool opening =
        g_error_matches(error, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_OPEN_READ) ||
        g_error_matches(error, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_OPEN_READ_WRITE);
    if (either("No such device") || either("disconnected")) {
        lose(CameraEvent::Unplugged, now);
    } else if (g_error_matches(error, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_AUTHORIZED) ||
               (opening && either("Permission denied"))) {
        lose(CameraEvent::Denied, now);
    } else if (g_error_matches(error, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_BUSY) ||
               either("busy")) {
        lose(CameraEvent::Busy, now);
    } else if (g_error_matches(error, GST_CORE_ERROR, GST_CORE_ERROR_NEGOTIATION) ||
               g_error_matches(error, GST_STREAM_ERROR, GST_STREAM_ERROR_FORMAT) ||
               either("not-negotiated")) {
        lose(CameraEvent::NoFormat, now);
    } else if (error->domain == GST_RESOURCE_ERROR && hasNode_ && !nodeExists(path_)) {
        lose(CameraEvent::Unplugged, now);
    } else if (error->domain == GST_RESOURCE_ERROR) {
        if (!busyTold(now) && !lost_) {
            lost_ = readFailed_ = true;
            tell(CameraEvent::ReadFailed, now + removalTime);
        }
    } else {
        lose(CameraEvent::Failed, now);
    }
    g_error_free(error);
    g_free(debug);
}

// A camera that comes back may get another device node when the old one was
// still held, so its name also identifies it; one that goes away is known by
// its node alone, so a second camera of the same make can come and go freely.
void CameraWatch::deviceChanged(bool added, const std::string &path, const std::string &name,
                                Clock::time_point at) {
    if (!added && path == path_) {
        // The removal explains a read error just before it.
        if (!busyTold(at) && std::exchange(readFailed_, false))
            tell(CameraEvent::Unplugged, at);
        else
            lose(CameraEvent::Unplugged, at);
    } else if (added && (path == path_ || name == name_) && lost_) {
        lost_ = readFailed_ = false;
        tell(CameraEvent::Returned, at + settleTime);
    }
}

// Whether busy has been told, which then stands for what comes after; a
// busy not yet due is taken back for what happened at `at`.
bool CameraWatch::busyTold(Clock::time_point at) {
    if (!std::exchange(awaitingFormat_, false))
        return false;
    if (at < busyAt_) {
        auto busy = std::find_if(pending_.begin(), pending_.end(), [this](const Pending &one) {
            return one.event == CameraEvent::Busy && one.due == busyAt_;
        });
        if (busy != pending_.end())
            pending_.erase(busy);
        return false;
    }
    lost_ = true;
    return true;
}

void CameraWatch::tell(CameraEvent event, Clock::time_point due) {
    pending_.push_back({event, due});
}

void CameraWatch::lose(CameraEvent event, Clock::time_point at) {
    if (busyTold(at) || lost_)
        return;
    lost_ = true;
    tell(event, at);
}
