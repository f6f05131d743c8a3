// The capture graph builder: finds interfaces on filters and their pins, and
// renders a source's free output pin.

#include "platform/com/com_object.h"
#include "platform/directshow/filters.h"

#include "common/pins_and_types.h"

namespace {

bool isFree(IPin *pin) {
    void *own = nullptr;
    if (FAILED(pin->QueryInterface(IID_IGstPin, &own)))
        return false;
    bool free = !static_cast<IGstPin *>(own)->connected();
    static_cast<IGstPin *>(own)->Release();
    return free;
}

IPin *freePin(IBaseFilter *filter, PIN_DIRECTION wanted) {
    return findPinWhere(filter, [wanted](IPin *pin) {
        PIN_DIRECTION direction;
        pin->QueryDirection(&direction);
        return direction == wanted && isFree(pin);
    });
}

class CaptureGraphBuilder final : public ComObject<ICaptureGraphBuilder2> {
  public:
    HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder *graph) override {
        if (!graph)
            return E_POINTER;
        if (graph_)
            return E_UNEXPECTED;
        graph->AddRef();
        graph_ = graph;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE FindInterface(const GUID *, const GUID *, IBaseFilter *filter,
                                            REFIID riid, void **object) override {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (!filter)
            return E_POINTER;
        if (SUCCEEDED(filter->QueryInterface(riid, object)))
            return S_OK;
        IPin *pin = findPinWhere(filter, [&riid, object](IPin *candidate) {
            PIN_DIRECTION direction;
            candidate->QueryDirection(&direction);
            return direction == PINDIR_OUTPUT && SUCCEEDED(candidate->QueryInterface(riid, object));
        });
        if (!pin)
            return E_NOINTERFACE;
        pin->Release();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE RenderStream(const GUID *, const GUID *, IUnknown *source,
                                           IBaseFilter *, IBaseFilter *renderer) override {
        if (!graph_)
            return E_UNEXPECTED;
        if (!source)
            return E_POINTER;
        void *found = nullptr;
        if (FAILED(source->QueryInterface(IID_IBaseFilter, &found)))
            return E_INVALIDARG;
        auto *filter = static_cast<IBaseFilter *>(found);
        IPin *out = freePin(filter, PINDIR_OUTPUT);
        filter->Release();
        if (!out)
            return E_INVALIDARG;
        HRESULT hr = render(out, renderer);
        out->Release();
        return hr;
    }

    // The stand-in's cameras have one pin, for capture, and no preview pin.
    HRESULT STDMETHODCALLTYPE FindPin(IUnknown *source, PIN_DIRECTION direction,
                                      const GUID *category, const GUID *, BOOL unconnected,
                                      int index, IPin **pin) override {
        if (!source || !pin)
            return E_POINTER;
        *pin = nullptr;
        if (category && *category != PIN_CATEGORY_CAPTURE)
            return E_FAIL;
        void *found = nullptr;
        if (FAILED(source->QueryInterface(IID_IBaseFilter, &found)))
            return E_INVALIDARG;
        auto *filter = static_cast<IBaseFilter *>(found);
        *pin = findPinWhere(filter, [&](IPin *candidate) {
            PIN_DIRECTION own;
            candidate->QueryDirection(&own);
            if (own != direction || (unconnected && !isFree(candidate)))
                return false;
            return index-- == 0;
        });
        filter->Release();
        return *pin ? S_OK : E_FAIL;
    }

  private:
    ~CaptureGraphBuilder() override {
        if (graph_)
            graph_->Release();
    }

    // With no renderer named, the stream goes to a Null Renderer: there is no
    // video window to show it in.
    HRESULT render(IPin *out, IBaseFilter *renderer) {
        HRESULT hr = S_OK;
        if (renderer) {
            renderer->AddRef();
        } else {
            hr = createNullRenderer(IID_IBaseFilter, reinterpret_cast<void **>(&renderer));
            if (SUCCEEDED(hr))
                hr = graph_->AddFilter(renderer, L"Renderer");
        }
        IPin *in = SUCCEEDED(hr) ? freePin(renderer, PINDIR_INPUT) : nullptr;
        if (SUCCEEDED(hr))
            hr = in ? graph_->Connect(out, in) : VFW_E_CANNOT_CONNECT;
        if (in)
            in->Release();
        if (renderer)
            renderer->Release();
        return hr;
    }

    IGraphBuilder *graph_ = nullptr;
};

} // namespace

HRESULT createCaptureGraphBuilder(REFIID riid, void **object) {
    return createObject<CaptureGraphBuilder>(riid, object);
}
