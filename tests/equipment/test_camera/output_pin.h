#ifndef CLOAKCAM_TEST_CAMERA_OUTPUT_PIN_H
#define CLOAKCAM_TEST_CAMERA_OUTPUT_PIN_H

// An output pin of the test camera, capture, preview or still as
// IKsPropertySet tells, or a capture pin of sound: it offers the camera's
// formats through IAMStreamConfig and its media type list, accepts exactly
// those (any size of a range) in SetFormat and connections, and delivers the
// camera's picture in the format it connected with (or, oversize, at its own
// size). A still pin delivers only when a snapshot is asked for, never here;
// the sound pin never delivers.

#include "formats.h"

#include <ks.h>
#include <vector>

class TestCameraFilter;

class OutputPin : public IPin, public IKsPropertySet, public IAMStreamConfig {
  public:
    OutputPin(TestCameraFilter &filter, const GUID &category, const wchar_t *name,
              const std::vector<Format> &formats, bool strictConnect = false);
    ~OutputPin();

    // The owning filter keeps the count.
    STDMETHODIMP QueryInterface(REFIID iid, void **object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Connect(IPin *receiver, const AM_MEDIA_TYPE *type) override;
    STDMETHODIMP ReceiveConnection(IPin *, const AM_MEDIA_TYPE *) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin **pin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE *type) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO *info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION *direction) override;
    STDMETHODIMP QueryId(LPWSTR *id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE *type) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes **types) override;
    STDMETHODIMP QueryInternalConnections(IPin **, ULONG *) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override;

    STDMETHODIMP Set(REFGUID, DWORD, void *, DWORD, void *, DWORD) override;
    STDMETHODIMP Get(REFGUID set, DWORD id, void *instance, DWORD instanceSize, void *data,
                     DWORD dataSize, DWORD *returned) override;
    STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD *support) override;

    STDMETHODIMP SetFormat(AM_MEDIA_TYPE *type) override;
    STDMETHODIMP GetFormat(AM_MEDIA_TYPE **type) override;
    STDMETHODIMP GetNumberOfCapabilities(int *count, int *size) override;
    STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE **type, BYTE *caps) override;

    // For the media type enumerator: the index-th type offered, own first.
    bool offeredType(ULONG index, AM_MEDIA_TYPE *type) const;
    ULONG offeredCount() const { return static_cast<ULONG>(formats.size()); }

    // Streaming, started by the filter on the way out of Stopped and stopped
    // on the way back: each pin sends on a thread of its own, as a driver's
    // streams do, so a renderer that holds one pin's pictures holds no other.
    HRESULT startStreaming();
    void stopStreaming();

  private:
    HRESULT tryConnection(IPin *receiver, size_t capability, const Format &format);
    bool streams() const;
    // The format pictures go out in, for a connection in `connection`.
    Format sent(const Format &connection) const;
    HRESULT chooseAllocator(const Format &format);
    void dropConnection();
    static DWORD WINAPI streamMain(void *self);
    void stream();
    void deliver(REFERENCE_TIME start);

    TestCameraFilter &filter;
    const GUID category;
    const wchar_t *const name;
    const std::vector<Format> formats;
    // Connects only in the current format, even before one is chosen.
    const bool strictConnect;
    // The current capability, and its format at the size chosen.
    size_t current = 0;
    Format active;
    // A format chosen through SetFormat is the only one the pin connects with.
    bool formatChosen = false;
    IPin *connected = nullptr;
    IMemInputPin *input = nullptr;
    IMemAllocator *allocator = nullptr;
    AM_MEDIA_TYPE connectionType = {};
    std::vector<BYTE> picture;
    HANDLE streamer = nullptr;
    HANDLE streamerStop = nullptr;
};

#endif
