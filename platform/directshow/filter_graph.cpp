// The filter graph manager: one GstPipeline holding the filters' bins, with
// the conversions that Connect puts between pins.

#include "platform/devices/camera_watch.h"
#include "platform/devices/state_change.h"
#include "platform/directshow/filters.h"
#include "platform/directshow/interface_ids.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace {

// Fetches the GStreamer side of a pin, or nullptr for a pin from elsewhere.
IGstPin *gstPin(IPin *pin) {
    void *found = nullptr;
    pin->QueryInterface(IID_IGstPin, &found);
    return static_cast<IGstPin *>(found);
}

GstElement *filterBin(IBaseFilter *filter) {
    void *found = nullptr;
    if (FAILED(filter->QueryInterface(IID_IGstFilter, &found)))
        return nullptr;
    auto *gstFilter = static_cast<IGstFilter *>(found);
    GstElement *bin = gstFilter->bin();
    gstFilter->Release();
    return bin;
}

// Windows' RGB24 runs bottom row first, which no GStreamer source produces, so
// a pin asking for it always needs the conversion even when formats match.
bool wantsRgb24(GstCaps *caps) {
    if (gst_caps_is_any(caps) || gst_caps_get_size(caps) != 1)
        return false;
    GstStructure *structure = gst_caps_get_structure(caps, 0);
    const char *format = gst_structure_get_string(structure, "format");
    return gst_structure_has_name(structure, "video/x-raw") && format &&
           std::strcmp(format, "BGR") == 0;
}

// Motion JPEG from a camera: Windows' intelligent connect puts its MJPEG
// decompressor in front of the converter.
bool isJpeg(GstCaps *caps) {
    if (gst_caps_is_any(caps) || gst_caps_is_empty(caps))
        return false;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i)
        if (!gst_structure_has_name(gst_caps_get_structure(caps, i), "image/jpeg"))
            return false;
    return true;
}

// The raw format a pin asks for other than RGB24, or "" for none: a
// decoder's output goes to it as it is, as intelligent connect puts the
// MJPEG decompressor alone in front of a grabber asking YUV.
std::string wantsRaw(GstCaps *caps) {
    if (gst_caps_is_any(caps) || gst_caps_get_size(caps) != 1 || wantsRgb24(caps))
        return "";
    GstStructure *structure = gst_caps_get_structure(caps, 0);
    const char *format = gst_structure_get_string(structure, "format");
    return gst_structure_has_name(structure, "video/x-raw") && format ? format : "";
}

// Into `format` at width x height; RGB24 turned bottom row first as well.
GstElement *makeConversion(bool decodeJpeg, const std::string &format, int width, int height) {
    const bool rgb24 = format == "BGR";
    // JPEG's YUV is at full range, which jpegdec would otherwise label as
    // whatever is asked after it.
    const std::string description =
        std::string(decodeJpeg
                        ? "jpegdec ! capsfilter caps=\"video/x-raw,format=I420,colorimetry=1:4:0:0;"
                          "video/x-raw\" ! "
                        : "") +
        // A camera shared through PipeWire streams in whatever shape its
        // first client chose; it is cut to the pin's before being scaled.
        (width > 0 ? "aspectratiocrop name=shape ! " : "") +
        // Shrinking, bilinear2's taps grow with the factor, so that every
        // source pixel counts; the default's two taps skip the rest.
        "videoconvert ! videoscale method=bilinear2 ! capsfilter name=size" +
        (rgb24 ? " ! videoflip video-direction=vert" : "");
    GstElement *bin = gst_parse_bin_from_description(description.c_str(), TRUE, nullptr);
    if (!bin)
        return nullptr;
    GstCaps *caps =
        gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, format.c_str(), nullptr);
    // Windows' YUV is BT.601 at video levels, whatever the size; GStreamer's
    // would be BT.709 for HD and JPEG's at full range.
    if (!rgb24)
        gst_caps_set_simple(caps, "colorimetry", G_TYPE_STRING, "bt601", nullptr);
    if (width > 0) {
        gst_caps_set_simple(caps, "width", G_TYPE_INT, width, "height", G_TYPE_INT, height,
                            nullptr);
        GstElement *shape = gst_bin_get_by_name(GST_BIN(bin), "shape");
        g_object_set(shape, "aspect-ratio", width, height, nullptr);
        gst_object_unref(shape);
    }
    GstElement *size = gst_bin_get_by_name(GST_BIN(bin), "size");
    g_object_set(size, "caps", caps, nullptr);
    gst_object_unref(size);
    gst_caps_unref(caps);
    return bin;
}

// What the graph's owner is told, and the watch over its camera. It is
// shared with the pipeline's bus and the watch, which may still speak while
// a pipeline that would not stop in time is stopping by itself after the
// graph has gone.
struct Mailbox {
    struct Event {
        LONG code;
        LONG_PTR param1;
        LONG_PTR param2;
        // Not told before; those after it wait for it.
        std::chrono::steady_clock::time_point due;
    };

    void post(LONG code, LONG_PTR param1, LONG_PTR param2,
              std::chrono::milliseconds after = std::chrono::milliseconds(0)) {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back({code, param1, param2, std::chrono::steady_clock::now() + after});
        arrived.notify_one();
    }

    // Takes back the first error told, which a failed Run answers with
    // instead; E_FAIL when none was.
    HRESULT takeError() {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto at = events.begin(); at != events.end(); ++at)
            if (at->code == EC_ERRORABORT) {
                const auto error = static_cast<HRESULT>(at->param1);
                events.erase(at);
                return error;
            }
        return E_FAIL;
    }

    // Takes back the first event of `code` and `param1` not yet due.
    void withdraw(LONG code, LONG_PTR param1) {
        std::lock_guard<std::mutex> lock(mutex);
        const auto now = std::chrono::steady_clock::now();
        auto at = std::find_if(events.begin(), events.end(), [&](const Event &event) {
            return event.code == code && event.param1 == param1 && event.due > now;
        });
        if (at != events.end())
            events.erase(at);
    }

    std::shared_ptr<CameraWatch> currentWatch() {
        std::lock_guard<std::mutex> lock(mutex);
        return watch;
    }

    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Event> events;
    std::shared_ptr<CameraWatch> watch;
};

// Runs on whichever thread posts; nothing else reads the bus, so every
// message is dropped once looked at.
GstBusSyncReply onMessage(GstBus *, GstMessage *message, gpointer data) {
    const std::shared_ptr<Mailbox> &mailbox = *static_cast<std::shared_ptr<Mailbox> *>(data);
    if (std::shared_ptr<CameraWatch> watch = mailbox->currentWatch())
        watch->pipelineMessage(message);
    else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR)
        mailbox->post(EC_ERRORABORT, E_FAIL, 0);
    // A message the handler drops is the handler's to free.
    gst_message_unref(message);
    return GST_BUS_DROP;
}

class FilterGraph final : public ComObject<IGraphBuilder, IMediaControl, IMediaEventEx> {
  public:
    FilterGraph() : pipeline_(gst_pipeline_new("cloakcam")), mailbox_(std::make_shared<Mailbox>()) {
        gst_object_ref_sink(pipeline_);
        // The bus keeps its own hold on the mailbox until it goes.
        GstBus *bus = gst_element_get_bus(pipeline_);
        gst_bus_set_sync_handler(
            bus, onMessage, new std::shared_ptr<Mailbox>(mailbox_),
            [](gpointer held) { delete static_cast<std::shared_ptr<Mailbox> *>(held); });
        gst_object_unref(bus);
    }

    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter *filter, LPCWSTR name) override {
        if (!filter)
            return E_POINTER;
        if (running_)
            return VFW_E_NOT_STOPPED;
        GstElement *bin = filterBin(filter);
        if (!bin || GST_OBJECT_PARENT(bin))
            return E_INVALIDARG;
        // Bins in one pipeline need distinct names; the caller's name helps debugging.
        std::string binName;
        for (; name && *name; ++name)
            binName += *name < 128 && *name > ' ' ? static_cast<char>(*name) : '_';
        binName += "#" + std::to_string(filters_.size());
        gst_object_set_name(GST_OBJECT(bin), binName.c_str());
        if (!gst_bin_add(GST_BIN(pipeline_), bin))
            return E_FAIL;
        filter->AddRef();
        filters_.push_back(filter);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Connect(IPin *out, IPin *in) override {
        if (!out || !in)
            return E_POINTER;
        IGstPin *source = gstPin(out);
        IGstPin *sink = gstPin(in);
        HRESULT hr = source && sink ? connect(source, sink) : E_INVALIDARG;
        if (source)
            source->Release();
        if (sink)
            sink->Release();
        return hr;
    }

    // S_FALSE while the graph is still on its way to running, as Windows
    // answers; a camera that fails on the way says so through an event.
    // Refused while an earlier change of this graph, or too many of any, are
    // still stuck: the new one would only wait behind them, on a thread of
    // its own.
    HRESULT STDMETHODCALLTYPE Run() override {
        if (*changing_ > 0 || unfinishedChanges() >= unfinishedChangesBound)
            return VFW_E_WRONG_STATE;
        watchCamera();
        auto result = std::make_shared<GstStateChangeReturn>(GST_STATE_CHANGE_ASYNC);
        GstElement *pipeline = GST_ELEMENT(gst_object_ref(pipeline_));
        const bool done = changeWithinBound(
            [pipeline, result] {
                *result = gst_element_set_state(pipeline, GST_STATE_PLAYING);
                if (*result == GST_STATE_CHANGE_FAILURE)
                    gst_element_set_state(pipeline, GST_STATE_NULL);
                gst_object_unref(pipeline);
            },
            stateChangeBound, changing_);
        settling_ = !done;
        running_ = !done || *result != GST_STATE_CHANGE_FAILURE;
        // A camera that fails while starting has said why on the way.
        if (!running_)
            return mailbox_->takeError();
        return !done || *result == GST_STATE_CHANGE_ASYNC ? S_FALSE : S_OK;
    }

    // Behind a change that has not finished, another would only wait on a
    // thread of its own: the graph is left to the one under way, S_FALSE.
    HRESULT STDMETHODCALLTYPE Stop() override {
        if (*changing_ > 0) {
            flushCameras();
            settling_ = true;
            running_ = false;
            return S_FALSE;
        }
        GstElement *pipeline = GST_ELEMENT(gst_object_ref(pipeline_));
        settling_ = !changeWithinBound(
            [pipeline] {
                gst_element_set_state(pipeline, GST_STATE_NULL);
                gst_object_unref(pipeline);
            },
            stateChangeBound, changing_);
        running_ = false;
        return S_OK;
    }

    // The state asked for last, and whether the graph has got there. Looks
    // without waiting, whatever the caller allows: nothing here may hold up
    // the program's window.
    HRESULT STDMETHODCALLTYPE GetState(LONG, OAFilterState *state) override {
        if (!state)
            return E_POINTER;
        *state = running_ ? State_Running : State_Stopped;
        return *changing_ > 0 ? VFW_S_STATE_INTERMEDIATE : S_OK;
    }

    // Waits up to `timeout` milliseconds (for ever when negative) for the next
    // event; E_ABORT when none came.
    HRESULT STDMETHODCALLTYPE GetEvent(LONG *code, LONG_PTR *param1, LONG_PTR *param2,
                                       LONG timeout) override {
        if (!code || !param1 || !param2)
            return E_POINTER;
        Mailbox &mailbox = *mailbox_;
        std::unique_lock<std::mutex> lock(mailbox.mutex);
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = timeout < 0
                                               ? Clock::time_point::max()
                                               : Clock::now() + std::chrono::milliseconds(timeout);
        for (;;) {
            const Clock::time_point now = Clock::now();
            if (!mailbox.events.empty() && mailbox.events.front().due <= now)
                break;
            if (now >= deadline)
                return E_ABORT;
            Clock::time_point wake = deadline;
            if (!mailbox.events.empty())
                wake = std::min(wake, mailbox.events.front().due);
            mailbox.arrived.wait_until(lock, wake);
        }
        *code = mailbox.events.front().code;
        *param1 = mailbox.events.front().param1;
        *param2 = mailbox.events.front().param2;
        mailbox.events.pop_front();
        return S_OK;
    }

    // The events posted here carry no allocated parameters.
    HRESULT STDMETHODCALLTYPE FreeEventParams(LONG, LONG_PTR, LONG_PTR) override { return S_OK; }

  private:
    // The pipeline stops, and lets go of the filters, where it cannot hold
    // up the caller: in time, everything is released before this returns;
    // otherwise it finishes by itself. Behind a state change that did not
    // finish it would only wait for that one, so then it does not wait.
    ~FilterGraph() override {
        GstElement *pipeline = pipeline_;
        std::vector<IBaseFilter *> filters = std::move(filters_);
        std::shared_ptr<Mailbox> mailbox = mailbox_;
        changeWithinBound(
            [pipeline, filters, mailbox] {
                gst_element_set_state(pipeline, GST_STATE_NULL);
                // No streaming thread is left to reach the watch. It goes outside
                // the lock, which the device list's callers may be waiting for.
                std::shared_ptr<CameraWatch> watch;
                {
                    std::lock_guard<std::mutex> lock(mailbox->mutex);
                    watch.swap(mailbox->watch);
                }
                watch.reset();
                // Filters may outlive the graph, so they leave it disconnected.
                for (IBaseFilter *filter : filters) {
                    disconnect(filter);
                    gst_bin_remove(GST_BIN(pipeline), filterBin(filter));
                    filter->Release();
                }
                gst_object_unref(pipeline);
            },
            settling_ ? std::chrono::milliseconds(0) : stateChangeBound);
    }

    static void disconnect(IBaseFilter *filter) {
        IEnumPins *pins = nullptr;
        filter->EnumPins(&pins);
        IPin *pin = nullptr;
        while (pins->Next(1, &pin, nullptr) == S_OK) {
            IGstPin *own = gstPin(pin);
            own->setPeer(nullptr);
            GstPad *peer = gst_pad_get_peer(own->pad());
            if (peer) {
                if (gst_pad_get_direction(peer) == GST_PAD_SINK)
                    gst_pad_unlink(own->pad(), peer);
                else
                    gst_pad_unlink(peer, own->pad());
                gst_object_unref(peer);
            }
            own->Release();
            pin->Release();
        }
        pins->Release();
    }

    HRESULT connect(IGstPin *out, IGstPin *in) {
        if (running_)
            return VFW_E_NOT_STOPPED;
        if (out->connected() || in->connected())
            return VFW_E_ALREADY_CONNECTED;
        PIN_DIRECTION outDirection, inDirection;
        out->QueryDirection(&outDirection);
        in->QueryDirection(&inDirection);
        if (outDirection != PINDIR_OUTPUT || inDirection != PINDIR_INPUT)
            return E_INVALIDARG;
        if (GST_OBJECT_PARENT(filterBin(out->filter())) != GST_OBJECT(pipeline_) ||
            GST_OBJECT_PARENT(filterBin(in->filter())) != GST_OBJECT(pipeline_))
            return VFW_E_NOT_IN_GRAPH;

        GstCaps *offered = gst_pad_query_caps(out->pad(), nullptr);
        GstCaps *accepted = gst_pad_query_caps(in->pad(), nullptr);
        bool linked = false;
        const bool jpeg = isJpeg(offered);
        const std::string raw = jpeg ? wantsRaw(accepted) : "";
        if (wantsRgb24(accepted) || !raw.empty()) {
            int width, height;
            out->frameSize(&width, &height);
            linked = linkThroughConversion(out->pad(), in->pad(), jpeg, raw.empty() ? "BGR" : raw,
                                           width, height);
            // What the conversion will deliver, for the grabber to tell.
            if (linked)
                in->setFrameSize(width, height);
        } else if (gst_caps_can_intersect(offered, accepted)) {
            linked = gst_pad_link(out->pad(), in->pad()) == GST_PAD_LINK_OK;
        }
        gst_caps_unref(offered);
        gst_caps_unref(accepted);
        if (!linked)
            return VFW_E_CANNOT_CONNECT;
        out->setPeer(in);
        in->setPeer(out);
        return S_OK;
    }

    bool linkThroughConversion(GstPad *out, GstPad *in, bool decodeJpeg, const std::string &format,
                               int width, int height) {
        GstElement *conversion = makeConversion(decodeJpeg, format, width, height);
        if (!conversion)
            return false;
        gst_bin_add(GST_BIN(pipeline_), conversion);
        GstPad *sink = gst_element_get_static_pad(conversion, "sink");
        GstPad *src = gst_element_get_static_pad(conversion, "src");
        bool linked = gst_pad_link(out, sink) == GST_PAD_LINK_OK;
        if (linked && gst_pad_link(src, in) != GST_PAD_LINK_OK) {
            gst_pad_unlink(out, sink);
            linked = false;
        }
        gst_object_unref(sink);
        gst_object_unref(src);
        if (!linked)
            gst_bin_remove(GST_BIN(pipeline_), conversion);
        return linked;
    }

    // A source whose camera service never answers holds its start for good
    // (PipeWire's, waiting for a link its daemon could not make); flushing
    // it makes it give up, and the stuck start fails.
    void flushCameras() {
        for (IBaseFilter *filter : filters_) {
            void *camera = nullptr;
            if (FAILED(filter->QueryInterface(IID_IGstCamera, &camera)))
                continue;
            static_cast<IGstCamera *>(camera)->Release();
            if (GstPad *pad = gst_element_get_static_pad(filterBin(filter), "src")) {
                gst_pad_send_event(pad, gst_event_new_flush_start());
                gst_object_unref(pad);
            }
        }
    }

    // A camera in the graph is watched from the first Run until the graph
    // goes, so that its loss and its return reach the graph's owner.
    void watchCamera() {
        if (mailbox_->currentWatch())
            return;
        for (IBaseFilter *filter : filters_) {
            void *found = nullptr;
            if (SUCCEEDED(filter->QueryInterface(IID_IGstCamera, &found))) {
                auto *camera = static_cast<IGstCamera *>(found);
                std::weak_ptr<Mailbox> mailbox = mailbox_;
                auto watch = std::make_shared<CameraWatch>(
                    camera,
                    [mailbox](LONG code, LONG_PTR param1, LONG_PTR param2,
                              std::chrono::milliseconds after) {
                        if (std::shared_ptr<Mailbox> open = mailbox.lock())
                            open->post(code, param1, param2, after);
                    },
                    [mailbox](LONG code, LONG_PTR param1) {
                        if (std::shared_ptr<Mailbox> open = mailbox.lock())
                            open->withdraw(code, param1);
                    });
                camera->Release();
                std::lock_guard<std::mutex> lock(mailbox_->mutex);
                mailbox_->watch = std::move(watch);
                return;
            }
        }
    }

    GstElement *pipeline_;
    std::vector<IBaseFilter *> filters_;
    bool running_ = false;
    // The last state change was left to finish by itself.
    bool settling_ = false;
    // The graph's state changes that have not finished.
    std::shared_ptr<std::atomic<int>> changing_ = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<Mailbox> mailbox_;
};

} // namespace

HRESULT createFilterGraph(REFIID riid, void **object) {
    return createObject<FilterGraph>(riid, object);
}
