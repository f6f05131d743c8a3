// The capture filter: a camera behind one output pin, whose stream
// configuration lists the camera's formats and holds it to one.

#include "platform/directshow/filter.h"
#include "platform/directshow/media_types.h"

#include <cstring>
#include <mutex>

namespace {

// IAMStreamConfig lives on the capture pin, so its identity is the pin's. It
// lists what the camera offers, and holds it to the format set, as a driver
// does: to its first one until the program sets another.
class StreamConfig final : public IAMStreamConfig {
  public:
    StreamConfig(Camera *camera, IPin &pin)
        : camera_(camera), pin_(pin), modes_(cameraTable().modes(camera)), width_(modes_[0].width),
          height_(modes_[0].height), interval_(modes_[0].interval) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        return pin_.QueryInterface(riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return pin_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return pin_.Release(); }

    HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE *type) override {
        if (!type)
            return E_POINTER;
        IPin *peer = nullptr;
        if (pin_.ConnectedTo(&peer) == S_OK) {
            peer->Release();
            return VFW_E_ALREADY_CONNECTED;
        }
        if (type->majortype != MEDIATYPE_Video || type->formattype != FORMAT_VideoInfo ||
            !type->pbFormat || type->cbFormat < sizeof(VIDEOINFOHEADER))
            return E_INVALIDARG;
        int width, height;
        const int index = findMode(modes_, *type, &width, &height);
        if (index < 0)
            return VFW_E_INVALIDMEDIATYPE;
        const int64_t asked =
            reinterpret_cast<const VIDEOINFOHEADER *>(type->pbFormat)->AvgTimePerFrame;
        current_ = index;
        width_ = width;
        height_ = height;
        interval_ = cameraTable().nearestInterval(camera_, index, asked);
        cameraTable().hold(camera_, index, width, height, interval_);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE **type) override {
        if (!type)
            return E_POINTER;
        *type = mediaTypeOf(modes_[current_], width_, height_, interval_);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int *count, int *size) override {
        if (!count || !size)
            return E_POINTER;
        *count = static_cast<int>(modes_.size());
        *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE **type, BYTE *caps) override {
        if (!type || !caps)
            return E_POINTER;
        if (index < 0 || index >= static_cast<int>(modes_.size()))
            return S_FALSE;
        const CameraMode &mode = modes_[index];
        const VIDEO_STREAM_CONFIG_CAPS config = capabilityOf(mode);
        std::memcpy(caps, &config, sizeof config);
        *type = mediaTypeOf(mode, mode.width, mode.height, mode.interval);
        return S_OK;
    }

    const CameraMode &held(int *width, int *height) const {
        *width = width_;
        *height = height_;
        return modes_[current_];
    }

  private:
    Camera *camera_;
    IPin &pin_;
    const std::vector<CameraMode> modes_;
    int current_ = 0;
    int width_, height_;
    int64_t interval_;
};

HRESULT resultOf(CameraEvent event) {
    switch (event) {
    case CameraEvent::Busy:
        return HRESULT_FROM_WIN32(ERROR_BUSY);
    case CameraEvent::Denied:
        return E_ACCESSDENIED;
    case CameraEvent::NoFormat:
        return VFW_E_NO_ACCEPTABLE_TYPES;
    case CameraEvent::ReadFailed:
        return HRESULT_FROM_WIN32(ERROR_READ_FAULT);
    default:
        return E_FAIL;
    }
}

class CaptureFilter final : public Filter<ICameraSource> {
  public:
    explicit CaptureFilter(Camera *camera)
        : Filter({PINDIR_OUTPUT}, &config_), camera_(camera), config_(camera, pin(0)) {}

    const CameraMode &heldMode(int *width, int *height) override {
        return config_.held(width, height);
    }

    void deliverTo(IFrameSink *sink, const CameraOutput &output) override {
        if (sink)
            sink->AddRef();
        IFrameSink *previous;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            previous = sink_;
            sink_ = sink;
            output_ = output;
        }
        // Once the lock is let go, the camera's thread reaches the new one only.
        if (previous)
            previous->Release();
    }

    HRESULT run() override {
        CameraEvent why = CameraEvent::Failed;
        switch (cameraTable().start(camera_, output_, deliver, this, &why)) {
        case CameraStart::Running:
            return S_OK;
        case CameraStart::OnTheWay:
            return S_FALSE;
        case CameraStart::Stuck:
            return VFW_E_WRONG_STATE;
        default:
            return resultOf(why);
        }
    }

    bool stop() override { return cameraTable().stop(camera_); }
    bool changing() override { return cameraTable().changing(camera_); }
    bool nextEvent(CameraEvent *event, int millis) override {
        return cameraTable().nextEvent(camera_, event, millis);
    }

  private:
    ~CaptureFilter() override {
        // No picture comes once the camera is closed.
        cameraTable().close(camera_);
        if (sink_)
            sink_->Release();
    }

    static void deliver(void *self, const uint8_t *bytes, size_t size, int64_t time) {
        auto *filter = static_cast<CaptureFilter *>(self);
        std::lock_guard<std::mutex> lock(filter->mutex_);
        if (filter->sink_)
            filter->sink_->take(bytes, size, time);
    }

    Camera *camera_;
    StreamConfig config_;
    std::mutex mutex_;
    IFrameSink *sink_ = nullptr;
    CameraOutput output_;
};

} // namespace

HRESULT createCaptureFilter(Camera *camera, IBaseFilter **out) {
    if (!out)
        return E_POINTER;
    *out = new CaptureFilter(camera);
    return S_OK;
}
