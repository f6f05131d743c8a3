// The Null Renderer: takes a stream and discards it.

#include "platform/directshow/filters.h"
#include "platform/directshow/interface_ids.h"
#include "platform/directshow/pin.h"

namespace {

class NullRenderer final : public ComObject<IBaseFilter, IGstFilter> {
  public:
    NullRenderer()
        : bin_(makeFilterBin("null-renderer", makeSink())),
          input_(*this, gst_element_get_static_pad(bin_, "sink"), PINDIR_INPUT) {
        gst_object_unref(input_.pad());
    }

    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **pins) override {
        return createEnumPins({&input_}, pins);
    }

    GstElement *bin() override { return bin_; }

  private:
    ~NullRenderer() override { gst_object_unref(bin_); }

    static GstElement *makeSink() {
        GstElement *sink = gst_element_factory_make("fakesink", nullptr);
        // Pictures are dropped as they come: waiting on the clock or for a
        // preroll would only hold up the graph's start.
        g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
        return sink;
    }

    GstElement *bin_;
    Pin input_;
};

} // namespace

HRESULT createNullRenderer(REFIID riid, void **object) {
    return createObject<NullRenderer>(riid, object);
}
