// The filter graph manager: connects the stand-in's filters, deciding what a
// camera delivers to the grabber as Windows' intelligent connect would, and
// runs the camera in it.

#include "platform/directshow/filter.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

template <typename Interface> Interface *query(IUnknown *object, REFIID riid) {
    void *found = nullptr;
    return object && SUCCEEDED(object->QueryInterface(riid, &found))
               ? static_cast<Interface *>(found)
               : nullptr;
}

// What a camera held to `mode` at width x height delivers to a grabber asking
// `ask`, as the converters Windows would put between them; false when none
// would do.
bool outputFor(const CameraMode &mode, int width, int height, const FrameAsk &ask,
               CameraOutput *output) {
    const bool jpeg = mode.code == jpegCode;
    const bool raw = !jpeg && mode.convertible;
    switch (ask.kind) {
    case FrameAsk::Any:
        return true;
    case FrameAsk::Nothing:
        return false;
    case FrameAsk::Rgb24:
        // Windows' RGB24 runs bottom row first, which no camera here sends.
        *output = {rgb24Code, width, height, true};
        return mode.convertible;
    case FrameAsk::Raw:
        // The MJPEG decompressor alone, as intelligent connect puts it in
        // front of a grabber asking YUV.
        if (jpeg)
            *output = {ask.code, width, height, false};
        return jpeg || mode.code == ask.code;
    case FrameAsk::AnyRaw:
        return raw;
    }
    return false;
}

HRESULT eventOf(CameraEvent event, IBaseFilter *camera, LONG *code, LONG_PTR *param1,
                LONG_PTR *param2) {
    *param1 = 0;
    *param2 = 0;
    switch (event) {
    case CameraEvent::Ended:
        *code = EC_COMPLETE;
        return S_OK;
    case CameraEvent::Unplugged:
    case CameraEvent::Returned:
        *code = EC_DEVICE_LOST;
        *param1 = reinterpret_cast<LONG_PTR>(camera);
        *param2 = event == CameraEvent::Returned;
        return S_OK;
    case CameraEvent::Busy:
        *param1 = HRESULT_FROM_WIN32(ERROR_BUSY);
        break;
    case CameraEvent::Denied:
        *param1 = E_ACCESSDENIED;
        break;
    case CameraEvent::NoFormat:
        *param1 = VFW_E_NO_ACCEPTABLE_TYPES;
        break;
    case CameraEvent::ReadFailed:
        *param1 = HRESULT_FROM_WIN32(ERROR_READ_FAULT);
        break;
    case CameraEvent::Failed:
        *param1 = E_FAIL;
        break;
    }
    *code = EC_ERRORABORT;
    return S_OK;
}

class FilterGraph final : public ComObject<IGraphBuilder, IMediaControl, IMediaEventEx> {
  public:
    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter *filter, LPCWSTR) override {
        if (!filter)
            return E_POINTER;
        if (running_)
            return VFW_E_NOT_STOPPED;
        IOwnFilter *own = query<IOwnFilter>(filter, IID_IOwnFilter);
        if (!own)
            return E_INVALIDARG;
        const bool free = !own->graph();
        if (free)
            own->joined(this);
        own->Release();
        if (!free)
            return E_INVALIDARG;
        filter->AddRef();
        filters_.push_back(filter);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Connect(IPin *out, IPin *in) override {
        if (!out || !in)
            return E_POINTER;
        IOwnPin *source = ownPin(out);
        IOwnPin *sink = ownPin(in);
        HRESULT hr = source && sink ? connect(source, sink) : E_INVALIDARG;
        if (source)
            source->Release();
        if (sink)
            sink->Release();
        return hr;
    }

    // S_FALSE while the graph is still on its way to running, as Windows
    // answers; a camera that fails on the way says so through an event.
    HRESULT STDMETHODCALLTYPE Run() override {
        HRESULT hr = S_OK;
        if (ICameraSource *camera = cameraSource()) {
            hr = camera->run();
            camera->Release();
        }
        if (hr == VFW_E_WRONG_STATE)
            return hr;
        running_ = SUCCEEDED(hr);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Stop() override {
        bool done = true;
        if (ICameraSource *camera = cameraSource()) {
            done = camera->stop();
            camera->Release();
        }
        running_ = false;
        return done ? S_OK : S_FALSE;
    }

    // The state asked for last, and whether the graph has got there. Looks
    // without waiting, whatever the caller allows: nothing here may hold up
    // the program's window.
    HRESULT STDMETHODCALLTYPE GetState(LONG, OAFilterState *state) override {
        if (!state)
            return E_POINTER;
        *state = running_ ? State_Running : State_Stopped;
        bool changing = false;
        if (ICameraSource *camera = cameraSource()) {
            changing = camera->changing();
            camera->Release();
        }
        return changing ? VFW_S_STATE_INTERMEDIATE : S_OK;
    }

    // Waits up to `timeout` milliseconds (a second at most when negative) for
    // the next event; E_ABORT when none came.
    HRESULT STDMETHODCALLTYPE GetEvent(LONG *code, LONG_PTR *param1, LONG_PTR *param2,
                                       LONG timeout) override {
        if (!code || !param1 || !param2)
            return E_POINTER;
        const int millis = timeout < 0 ? 1000 : int(timeout);
        IBaseFilter *filter = nullptr;
        ICameraSource *camera = cameraSource(&filter);
        CameraEvent event;
        const bool told = camera && camera->nextEvent(&event, millis);
        if (camera)
            camera->Release();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(millis));
        return told ? eventOf(event, filter, code, param1, param2) : E_ABORT;
    }

    // The events posted here carry no allocated parameters.
    HRESULT STDMETHODCALLTYPE FreeEventParams(LONG, LONG_PTR, LONG_PTR) override { return S_OK; }

  private:
    // The camera stops where it cannot hold up the caller, and the filters,
    // which may outlive the graph, leave it disconnected.
    ~FilterGraph() override {
        if (ICameraSource *camera = cameraSource()) {
            camera->stop();
            camera->deliverTo(nullptr, {});
            camera->Release();
        }
        for (IBaseFilter *filter : filters_) {
            disconnect(filter);
            if (IOwnFilter *own = query<IOwnFilter>(filter, IID_IOwnFilter)) {
                own->joined(nullptr);
                own->Release();
            }
            filter->Release();
        }
    }

    // The graph's camera, with a reference; its filter without one.
    ICameraSource *cameraSource(IBaseFilter **filter = nullptr) {
        for (IBaseFilter *candidate : filters_)
            if (ICameraSource *camera = query<ICameraSource>(candidate, IID_ICameraSource)) {
                if (filter)
                    *filter = candidate;
                return camera;
            }
        return nullptr;
    }

    static void disconnect(IBaseFilter *filter) {
        IEnumPins *pins = nullptr;
        filter->EnumPins(&pins);
        IPin *pin = nullptr;
        while (pins->Next(1, &pin, nullptr) == S_OK) {
            if (IOwnPin *own = ownPin(pin)) {
                if (IOwnPin *peer = ownPin(own->peer())) {
                    peer->setPeer(nullptr);
                    peer->Release();
                }
                own->setPeer(nullptr);
                own->Release();
            }
            pin->Release();
        }
        pins->Release();
    }

    bool holds(IBaseFilter *filter) const {
        return std::find(filters_.begin(), filters_.end(), filter) != filters_.end();
    }

    HRESULT connect(IOwnPin *out, IOwnPin *in) {
        if (running_)
            return VFW_E_NOT_STOPPED;
        if (out->peer() || in->peer())
            return VFW_E_ALREADY_CONNECTED;
        PIN_DIRECTION outDirection, inDirection;
        out->QueryDirection(&outDirection);
        in->QueryDirection(&inDirection);
        if (outDirection != PINDIR_OUTPUT || inDirection != PINDIR_INPUT)
            return E_INVALIDARG;
        if (!holds(out->filter()) || !holds(in->filter()))
            return VFW_E_NOT_IN_GRAPH;
        ICameraSource *camera = query<ICameraSource>(out->filter(), IID_ICameraSource);
        IFrameSink *sink = query<IFrameSink>(in->filter(), IID_IFrameSink);
        HRESULT hr = S_OK;
        if (camera) {
            int width, height;
            const CameraMode &mode = camera->heldMode(&width, &height);
            CameraOutput output;
            if (sink && !outputFor(mode, width, height, sink->asked(), &output))
                hr = VFW_E_CANNOT_CONNECT;
            else if (sink)
                sink->delivered(output);
            if (SUCCEEDED(hr))
                camera->deliverTo(sink, output);
            camera->Release();
        }
        if (sink)
            sink->Release();
        if (FAILED(hr))
            return hr;
        out->setPeer(in);
        in->setPeer(out);
        return S_OK;
    }

    std::vector<IBaseFilter *> filters_;
    bool running_ = false;
};

} // namespace

HRESULT createFilterGraph(REFIID riid, void **object) {
    return createObject<FilterGraph>(riid, object);
}
