// The capture graph builder: finds a camera's pins, and renders a source's
// free output pin into the renderer it is given.

#include "platform/directshow/filter.h"

namespace {

bool isFree(IPin *pin) {
    IOwnPin *own = ownPin(pin);
    const bool free = own && !own->peer();
    if (own)
        own->Release();
    return free;
}

// The `index`th pin of `source` facing `direction` (a free one when `onlyFree`),
// with a reference for the caller.
IPin *pinOf(IUnknown *source, PIN_DIRECTION direction, bool onlyFree, int index = 0) {
    IBaseFilter *filter = nullptr;
    IEnumPins *pins = nullptr;
    if (FAILED(source->QueryInterface(IID_IBaseFilter, reinterpret_cast<void **>(&filter))))
        return nullptr;
    filter->EnumPins(&pins);
    filter->Release();
    IPin *pin = nullptr;
    while (pins && pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION faces;
        pin->QueryDirection(&faces);
        if (faces == direction && (!onlyFree || isFree(pin)) && index-- == 0)
            break;
        pin->Release();
        pin = nullptr;
    }
    if (pins)
        pins->Release();
    return pin;
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

    // Only into a renderer named: the program names its own.
    HRESULT STDMETHODCALLTYPE RenderStream(const GUID *, const GUID *, IUnknown *source,
                                           IBaseFilter *, IBaseFilter *renderer) override {
        if (!graph_)
            return E_UNEXPECTED;
        if (!source || !renderer)
            return E_POINTER;
        IPin *out = pinOf(source, PINDIR_OUTPUT, true);
        IPin *in = out ? pinOf(renderer, PINDIR_INPUT, true) : nullptr;
        const HRESULT hr = !out ? E_INVALIDARG
                           : in ? graph_->Connect(out, in)
                                : VFW_E_CANNOT_CONNECT;
        if (in)
            in->Release();
        if (out)
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
        *pin = pinOf(source, direction, unconnected, index);
        return *pin ? S_OK : E_FAIL;
    }

  private:
    ~CaptureGraphBuilder() override {
        if (graph_)
            graph_->Release();
    }

    IGraphBuilder *graph_ = nullptr;
};

} // namespace

HRESULT createCaptureGraphBuilder(REFIID riid, void **object) {
    return createObject<CaptureGraphBuilder>(riid, object);
}
