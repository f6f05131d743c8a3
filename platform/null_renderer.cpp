// The Null Renderer: takes a stream and discards it.

#include "platform/gst_filter.h"

namespace {

class NullRenderer final : public IBaseFilter, public IGstFilter {
  public:
    NullRenderer()
        : bin_(makeFilterBin("null-renderer", makeSink())),
          input_(*this, gst_element_get_static_pad(bin_, "sink"), PINDIR_INPUT) {
        gst_object_unref(input_.pad());
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override {
        if (!object)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IBaseFilter)
            *object = static_cast<IBaseFilter *>(this);
        else if (riid == IID_IGstFilter)
            *object = static_cast<IGstFilter *>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }

    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **pins) override {
        return createEnumPins({&input_}, pins);
    }

    GstElement *bin() override { return bin_; }

  private:
    ~NullRenderer() { gst_object_unref(bin_); }

    static GstElement *makeSink() {
        GstElement *sink = gst_element_factory_make("fakesink", nullptr);
        // Pictures are dropped as they come: waiting on the clock or for a
        // preroll would only hold up the graph's start.
        g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
        return sink;
    }

    GstElement *bin_;
    Pin input_;
    ULONG refs_ = 1;
};

} // namespace

HRESULT createNullRenderer(REFIID riid, void **object) {
    auto *renderer = new NullRenderer();
    HRESULT hr = renderer->QueryInterface(riid, object);
    renderer->Release();
    return hr;
}
