#ifndef CLOAKCAM_PLATFORM_FILTER_H
#define CLOAKCAM_PLATFORM_FILTER_H

// What the stand-in's filters have in common: pins that live inside their
// filter, a base filter taking its pin table, and what the graph asks of its
// own filters through private ids (a filter or pin from elsewhere answers
// E_NOINTERFACE). Each filter states only what differs.

#include "platform/camera/camera_table.h"
#include "platform/directshow/interface_ids.h"

#include <memory>
#include <vector>

extern const IID IID_IOwnPin;
extern const IID IID_IOwnFilter;
extern const IID IID_ICameraSource;
extern const IID IID_IFrameSink;

struct IOwnPin : IPin {
    // The owning filter and the pin at the other end, without references.
    virtual IBaseFilter *filter() = 0;
    virtual IPin *peer() = 0;
    // The graph's to say.
    virtual void setPeer(IPin *peer) = 0;
};

struct IOwnFilter : IUnknown {
    // The graph the filter was added to, or null; no reference either way.
    virtual IGraphBuilder *graph() = 0;
    virtual void joined(IGraphBuilder *graph) = 0;
};

// What a grabber's input takes: anything, nothing (not video), RGB24, raw
// video in `code`, or raw video in whatever format comes.
struct FrameAsk {
    enum Kind { Any, Nothing, Rgb24, Raw, AnyRaw } kind = Any;
    uint32_t code = 0;
};

// The grabber's side of a connection from a camera.
struct IFrameSink : IUnknown {
    virtual FrameAsk asked() = 0;
    // What the connection delivers; an output without a code when the
    // camera's pictures come as they are.
    virtual void delivered(const CameraOutput &output) = 0;
    // Each picture, on the camera's thread.
    virtual void take(const uint8_t *bytes, size_t size, int64_t time) = 0;
};

// The capture filter's side: its camera, as the graph runs it.
struct ICameraSource : IUnknown {
    // The format the camera is held to, and its size.
    virtual const CameraMode &heldMode(int *width, int *height) = 0;
    // Pictures in `output` go to `sink` (null: nowhere) from the next run on.
    virtual void deliverTo(IFrameSink *sink, const CameraOutput &output) = 0;
    // S_OK, S_FALSE while on its way, or why it failed.
    virtual HRESULT run() = 0;
    // False when it is left to finish by itself.
    virtual bool stop() = 0;
    virtual bool changing() = 0;
    virtual bool nextEvent(CameraEvent *event, int millis) = 0;
};

template <> inline const IID &interfaceId<IOwnFilter>() { return IID_IOwnFilter; }
template <> inline const IID &interfaceId<IFrameSink>() { return IID_IFrameSink; }
template <> inline const IID &interfaceId<ICameraSource>() { return IID_ICameraSource; }

// A pin that lives inside its filter: it shares the filter's reference count,
// so handing out a pin keeps the filter alive and no cycle forms.
class Pin final : public IOwnPin {
  public:
    Pin(IBaseFilter &owner, PIN_DIRECTION direction, IAMStreamConfig *config = nullptr)
        : owner_(owner), direction_(direction), config_(config) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_.Release(); }
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin **pin) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION *direction) override;

    IBaseFilter *filter() override { return &owner_; }
    IPin *peer() override { return peer_; }
    void setPeer(IPin *peer) override { peer_ = peer; }

  private:
    IBaseFilter &owner_;
    PIN_DIRECTION direction_;
    IAMStreamConfig *config_;
    // Without a reference: the graph disconnects both ends before either
    // filter can go.
    IPin *peer_ = nullptr;
};

// A filter with pins of the directions given, in that order.
template <typename... Interfaces>
class Filter : public ComObject<IBaseFilter, IOwnFilter, Interfaces...> {
  public:
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **pins) override;
    IGraphBuilder *graph() override { return graph_; }
    void joined(IGraphBuilder *graph) override { graph_ = graph; }

  protected:
    explicit Filter(std::initializer_list<PIN_DIRECTION> directions,
                    IAMStreamConfig *config = nullptr) {
        for (PIN_DIRECTION direction : directions)
            pins_.emplace_back(new Pin(*this, direction, config));
    }
    Pin &pin(size_t index) { return *pins_[index]; }

  private:
    std::vector<std::unique_ptr<Pin>> pins_;
    IGraphBuilder *graph_ = nullptr;
};

// An enumerator over pins; it holds a reference on each while it lives.
HRESULT createEnumPins(const std::vector<IPin *> &pins, IEnumPins **out);

template <typename... Interfaces> HRESULT Filter<Interfaces...>::EnumPins(IEnumPins **pins) {
    std::vector<IPin *> all;
    for (const std::unique_ptr<Pin> &one : pins_)
        all.push_back(one.get());
    return createEnumPins(all, pins);
}

// The stand-in pin behind `pin`, with a reference; null for one from elsewhere.
IOwnPin *ownPin(IPin *pin);

// The capture filter around an opened camera, which it takes over.
HRESULT createCaptureFilter(Camera *camera, IBaseFilter **out);
// A moniker for a listed camera.
IMoniker *createMoniker(const CameraListing &listing);

// The objects that CoCreateInstance makes.
HRESULT createFilterGraph(REFIID riid, void **object);
HRESULT createSystemDeviceEnum(REFIID riid, void **object);
HRESULT createCaptureGraphBuilder(REFIID riid, void **object);
HRESULT createSampleGrabber(REFIID riid, void **object);
HRESULT createNullRenderer(REFIID riid, void **object);

#endif
