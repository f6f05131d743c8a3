#ifndef CLOAKCAM_CAPTURE_SAMPLE_COUNTER_H
#define CLOAKCAM_CAPTURE_SAMPLE_COUNTER_H

#include <atomic>

#include "capture/directshow.h"

// Counts the samples that pass the Sample Grabber, which the grabber tells it
// of on its streaming thread. The buffered copy alone cannot say whether a
// picture is new, and a camera (or the service behind it) that stops without
// a word is known only by its pictures stopping.
class SampleCounter final : public ISampleGrabberCB {
  public:
    // With one reference, the creator's.
    SampleCounter() = default;

    unsigned long samples() const { return samples_.load(std::memory_order_relaxed); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE SampleCB(double sampleTime, IMediaSample *sample) override;
    HRESULT STDMETHODCALLTYPE BufferCB(double sampleTime, BYTE *buffer, LONG length) override;

  private:
    ~SampleCounter() = default;

    std::atomic<ULONG> refs_{1};
    std::atomic<unsigned long> samples_{0};
};

#endif
