// The Sample Grabber: passes the stream through and keeps a copy of the latest
// picture, laid out as Windows lays out RGB24 (rows padded to four bytes).

#include "platform/directshow/filter.h"
#include "platform/directshow/media_types.h"

#include <cstring>
#include <mutex>

namespace {

class SampleGrabber final : public Filter<ISampleGrabber, IFrameSink> {
  public:
    SampleGrabber() : Filter({PINDIR_INPUT, PINDIR_OUTPUT}) {}

    HRESULT STDMETHODCALLTYPE SetOneShot(BOOL oneShot) override {
        std::lock_guard<std::mutex> lock(mutex_);
        oneShot_ = oneShot;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetMediaType(const AM_MEDIA_TYPE *type) override {
        if (!type)
            return E_POINTER;
        int bits;
        long bytes;
        const uint32_t code = codeOf(type->subtype);
        if (type->majortype == GUID{})
            asked_ = {FrameAsk::Any, 0};
        else if (type->majortype != MEDIATYPE_Video)
            asked_ = {FrameAsk::Nothing, 0}; // no stream here is anything but video
        else if (code == rgb24Code)
            asked_ = {FrameAsk::Rgb24, code};
        else if (rawLayout(code, 2, 2, &bits, &bytes))
            asked_ = {FrameAsk::Raw, code};
        else
            asked_ = {FrameAsk::AnyRaw, 0};
        return S_OK;
    }

    // The size the conversion in front of the grabber was fixed at when the
    // graph connected; a camera taken as it comes settles it only once it
    // streams.
    HRESULT STDMETHODCALLTYPE GetConnectedMediaType(AM_MEDIA_TYPE *type) override {
        if (!type)
            return E_POINTER;
        const CameraOutput out = delivered_;
        if (!pin(0).peer() || out.code == 0 || out.width <= 0 || out.height <= 0)
            return VFW_E_NOT_CONNECTED;
        auto *info = static_cast<VIDEOINFOHEADER *>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
        std::memset(info, 0, sizeof *info);
        std::memset(type, 0, sizeof *type);
        int bits = 24;
        long bytes = ((long(out.width) * 3 + 3) & ~3L) * out.height;
        // YUV rows top-down and unpadded, as Windows' decoders give them.
        if (out.code != rgb24Code && rawLayout(out.code, out.width, out.height, &bits, &bytes))
            info->bmiHeader.biCompression = out.code;
        info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info->bmiHeader.biWidth = out.width;
        info->bmiHeader.biHeight = out.height;
        info->bmiHeader.biPlanes = 1;
        info->bmiHeader.biBitCount = static_cast<WORD>(bits);
        info->bmiHeader.biSizeImage = static_cast<DWORD>(bytes);
        type->majortype = MEDIATYPE_Video;
        type->subtype = subtypeOf(out.code);
        type->bFixedSizeSamples = TRUE;
        type->lSampleSize = info->bmiHeader.biSizeImage;
        type->formattype = FORMAT_VideoInfo;
        type->cbFormat = sizeof(VIDEOINFOHEADER);
        type->pbFormat = reinterpret_cast<BYTE *>(info);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetBufferSamples(BOOL bufferThem) override {
        std::lock_guard<std::mutex> lock(mutex_);
        buffering_ = bufferThem;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetCurrentBuffer(LONG *bufferSize, LONG *buffer) override {
        if (!bufferSize)
            return E_POINTER;
        if (!pin(0).peer())
            return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(mutex_);
        if (!buffering_)
            return E_INVALIDARG;
        if (!haveSample_)
            return VFW_E_WRONG_STATE;
        LONG size = static_cast<LONG>(sample_.size());
        if (buffer) {
            if (*bufferSize < size)
                return E_OUTOFMEMORY;
            std::memcpy(buffer, sample_.data(), sample_.size());
        }
        *bufferSize = size;
        return S_OK;
    }

    // Only BufferCB: SampleCB would hand out IMediaSample, which nothing here
    // has.
    HRESULT STDMETHODCALLTYPE SetCallback(ISampleGrabberCB *callback, LONG whichMethod) override {
        if (callback && whichMethod != 1)
            return E_NOTIMPL;
        if (callback)
            callback->AddRef();
        ISampleGrabberCB *previous;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            previous = callback_;
            callback_ = callback;
        }
        // Once the lock is let go, the camera's thread calls the new one only.
        if (previous)
            previous->Release();
        return S_OK;
    }

    FrameAsk asked() override { return asked_; }
    void delivered(const CameraOutput &output) override { delivered_ = output; }

    // Same size as the last sample on every frame but the first: no
    // allocation.
    void take(const uint8_t *bytes, size_t size, int64_t time) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (callback_)
            callback_->BufferCB(double(time) / 1e7, const_cast<BYTE *>(bytes), LONG(size));
        if (!buffering_ || (oneShot_ && haveSample_))
            return;
        sample_.assign(bytes, bytes + size);
        haveSample_ = true;
    }

  private:
    ~SampleGrabber() override {
        if (callback_)
            callback_->Release();
    }

    FrameAsk asked_;
    CameraOutput delivered_;

    std::mutex mutex_;
    bool buffering_ = false;
    bool oneShot_ = false;
    bool haveSample_ = false;
    std::vector<uint8_t> sample_;
    ISampleGrabberCB *callback_ = nullptr;
};

} // namespace

HRESULT createSampleGrabber(REFIID riid, void **object) {
    return createObject<SampleGrabber>(riid, object);
}
