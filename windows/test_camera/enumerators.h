#ifndef CLOAKCAM_TEST_CAMERA_ENUMERATORS_H
#define CLOAKCAM_TEST_CAMERA_ENUMERATORS_H

// The lists a filter and a pin hand out: the filter's pins, and the media
// types an output pin offers. Each holds its owner while it lives.

#include "com.h"

class TestCameraFilter;
class OutputPin;

class PinEnumerator : public Counted, public IEnumPins {
  public:
    PinEnumerator(TestCameraFilter &filter, ULONG position);
    ~PinEnumerator();

    STDMETHODIMP QueryInterface(REFIID iid, void **object) override;
    TEST_CAMERA_COUNTED
    STDMETHODIMP Next(ULONG count, IPin **pins, ULONG *fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumPins **copy) override;

  private:
    TestCameraFilter &filter;
    ULONG position;
};

class TypeEnumerator : public Counted, public IEnumMediaTypes {
  public:
    TypeEnumerator(OutputPin &pin, ULONG position);
    ~TypeEnumerator();

    STDMETHODIMP QueryInterface(REFIID iid, void **object) override;
    TEST_CAMERA_COUNTED
    STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE **types, ULONG *fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumMediaTypes **copy) override;

  private:
    OutputPin &pin;
    ULONG position;
};

#endif
