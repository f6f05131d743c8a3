#ifndef CLOAKCAM_TEST_CAMERA_FILTER_H
#define CLOAKCAM_TEST_CAMERA_FILTER_H

// The test camera: a live capture source as a driver gives one. It learns its
// name and formats from the device's property bag when bound, streams at 30
// pictures a second on each connected pin while running, is busy while another graph has it paused
// or running, and follows its control file (control.h): unplugged, it stops
// sending, leaves the category and tells the graph EC_DEVICE_LOST 0; plugged
// in again, it enters the category and tells EC_DEVICE_LOST 1; silent, it
// sends nothing. Some of its behaviour is the words of behaviour.h.

#include "behaviour.h"
#include "com.h"
#include "control.h"
#include "output_pin.h"

#include <memory>
#include <string>
#include <vector>

class TestCameraFilter : public Counted, public IBaseFilter, public IPersistPropertyBag {
  public:
    TestCameraFilter();
    ~TestCameraFilter();

    STDMETHODIMP QueryInterface(REFIID iid, void **object) override;
    TEST_CAMERA_COUNTED

    STDMETHODIMP GetClassID(CLSID *id) override;

    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME start) override;
    STDMETHODIMP GetState(DWORD, FILTER_STATE *state) override;
    STDMETHODIMP SetSyncSource(IReferenceClock *clock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock **clock) override;

    STDMETHODIMP EnumPins(IEnumPins **pins) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin **pin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO *info) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph *graph, LPCWSTR name) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR *info) override;

    STDMETHODIMP InitNew() override;
    STDMETHODIMP Load(IPropertyBag *bag, IErrorLog *) override;
    STDMETHODIMP Save(IPropertyBag *, BOOL, BOOL) override;

    // For the pins and the pin enumerator.
    IPin *pin(size_t index);
    size_t pinCount() const { return pins.size(); }
    bool isStopped() const { return state == State_Stopped; }
    // Whether pictures are to go out now: running, plugged in, not silent.
    bool sending() const { return running && !unplugged && !silent; }
    // Tells the test which format a pin connected in.
    void noteConnection(const Format &format) { noteConnected(key, format.width, format.height); }
    // The stream time of a pin's frame-th picture since it started.
    REFERENCE_TIME streamTime(unsigned long frame);
    CRITICAL_SECTION lock;
    // Set once when bound; the pins read it too.
    Behaviour behaviour;

  private:
    static DWORD WINAPI watchMain(void *self);
    void watch();
    void tellGraph(LONG_PTR returned);
    void notifyGraph(LONG code, LONG_PTR param1, LONG_PTR param2);
    HRESULT refusal();
    HRESULT takeDevice();
    void stopStreaming();

    std::wstring name;
    std::wstring formatText;
    // Names the camera's control files and device (behaviour.h).
    std::wstring key;
    std::vector<std::unique_ptr<OutputPin>> pins;
    FILTER_STATE state = State_Stopped;
    IReferenceClock *clock = nullptr;
    IFilterGraph *graph = nullptr;
    std::wstring nameInGraph;
    REFERENCE_TIME startTime = 0;
    // Read by the pins' streaming threads without the lock.
    volatile LONG running = 0;
    volatile LONG unplugged = 0;
    volatile LONG silent = 0;
    HANDLE device = nullptr;
    HANDLE watcher = nullptr;
    HANDLE watcherStop = nullptr;
};

#endif
