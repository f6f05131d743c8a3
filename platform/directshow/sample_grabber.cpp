// The Sample Grabber: passes the stream through and keeps a copy of the latest
// picture, laid out as Windows lays out RGB24 (rows padded to four bytes).

#include "platform/directshow/filters.h"
#include "platform/directshow/interface_ids.h"
#include "platform/directshow/pin.h"

#include <gst/video/video.h>

#include <cstring>
#include <mutex>

namespace {

// The raw GStreamer format of a four-character subtype; RGB24's and the
// others' are GST_VIDEO_FORMAT_UNKNOWN.
GstVideoFormat rawFormat(const GUID &subtype) {
    GUID base = MEDIATYPE_Video;
    base.Data1 = subtype.Data1;
    return base == subtype ? gst_video_format_from_fourcc(subtype.Data1) : GST_VIDEO_FORMAT_UNKNOWN;
}

int firstComponent(const GstVideoInfo &info, guint plane) {
    gint components[GST_VIDEO_MAX_COMPONENTS];
    gst_video_format_info_component(info.finfo, plane, components);
    return components[0];
}

size_t planeRowBytes(const GstVideoInfo &info, guint plane) {
    const int component = firstComponent(info, plane);
    return size_t(GST_VIDEO_INFO_COMP_WIDTH(&info, component)) *
           GST_VIDEO_INFO_COMP_PSTRIDE(&info, component);
}

int planeRows(const GstVideoInfo &info, guint plane) {
    return GST_VIDEO_INFO_COMP_HEIGHT(&info, firstComponent(info, plane));
}

size_t tightBytes(const GstVideoInfo &info) {
    size_t bytes = 0;
    for (guint plane = 0; plane < GST_VIDEO_INFO_N_PLANES(&info); ++plane)
        bytes += planeRowBytes(info, plane) * planeRows(info, plane);
    return bytes;
}

// As a BITMAPINFOHEADER counts them.
long bitsPerPixel(const GstVideoInfo &info) {
    const long pixels = long(GST_VIDEO_INFO_WIDTH(&info)) * GST_VIDEO_INFO_HEIGHT(&info);
    return pixels > 0 ? long(tightBytes(info) * 8 / pixels) : 0;
}

class SampleGrabber final : public ComObject<IBaseFilter, ISampleGrabber, IGstFilter> {
  public:
    SampleGrabber()
        : filter_(gst_element_factory_make("capsfilter", nullptr)),
          bin_(makeFilterBin("grabber", filter_)),
          input_(*this, gst_element_get_static_pad(bin_, "sink"), PINDIR_INPUT),
          output_(*this, gst_element_get_static_pad(bin_, "src"), PINDIR_OUTPUT) {
        gst_object_unref(input_.pad());
        gst_object_unref(output_.pad());
        GstPad *src = gst_element_get_static_pad(filter_, "src");
        probe_ = gst_pad_add_probe(src, GST_PAD_PROBE_TYPE_BUFFER, onBuffer, this, nullptr);
        gst_object_unref(src);
    }

    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **pins) override {
        return createEnumPins({&input_, &output_}, pins);
    }

    GstElement *bin() override { return bin_; }

    HRESULT STDMETHODCALLTYPE SetOneShot(BOOL oneShot) override {
        std::lock_guard<std::mutex> lock(mutex_);
        oneShot_ = oneShot;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetMediaType(const AM_MEDIA_TYPE *type) override {
        if (!type)
            return E_POINTER;
        GstCaps *caps;
        if (type->majortype == GUID{})
            caps = gst_caps_new_any();
        else if (type->majortype != MEDIATYPE_Video)
            caps = gst_caps_new_empty(); // no stream here is anything but video
        else if (type->subtype == MEDIASUBTYPE_RGB24)
            caps = gst_caps_from_string("video/x-raw,format=BGR");
        else if (rawFormat(type->subtype) != GST_VIDEO_FORMAT_UNKNOWN)
            caps =
                gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING,
                                    gst_video_format_to_string(rawFormat(type->subtype)), nullptr);
        else
            caps = gst_caps_from_string("video/x-raw");
        g_object_set(filter_, "caps", caps, nullptr);
        gst_caps_unref(caps);
        asked_ = type->subtype;
        return S_OK;
    }

    // The size the conversion in front of the grabber was fixed at when the
    // graph connected; without one, GStreamer settles it only once it streams.
    HRESULT STDMETHODCALLTYPE GetConnectedMediaType(AM_MEDIA_TYPE *type) override {
        if (!type)
            return E_POINTER;
        int width, height;
        input_.frameSize(&width, &height);
        if (!input_.connected() || width <= 0 || height <= 0)
            return VFW_E_NOT_CONNECTED;
        auto *info = static_cast<VIDEOINFOHEADER *>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
        std::memset(info, 0, sizeof *info);
        std::memset(type, 0, sizeof *type);
        const GstVideoFormat raw = rawFormat(asked_);
        info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info->bmiHeader.biWidth = width;
        info->bmiHeader.biHeight = height;
        info->bmiHeader.biPlanes = 1;
        info->bmiHeader.biBitCount = 24;
        info->bmiHeader.biSizeImage = GST_ROUND_UP_4(width * 3) * height;
        type->subtype = MEDIASUBTYPE_RGB24;
        if (raw != GST_VIDEO_FORMAT_UNKNOWN) {
            // YUV rows top-down and unpadded, as Windows' decoders give them.
            GstVideoInfo tight;
            gst_video_info_set_format(&tight, raw, width, height);
            info->bmiHeader.biCompression = asked_.Data1;
            info->bmiHeader.biBitCount = static_cast<WORD>(bitsPerPixel(tight));
            info->bmiHeader.biSizeImage = static_cast<DWORD>(tightBytes(tight));
            type->subtype = asked_;
        }
        type->majortype = MEDIATYPE_Video;
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
        if (!input_.connected())
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
        // Once the lock is let go, the streaming thread calls the new one only.
        if (previous)
            previous->Release();
        return S_OK;
    }

  private:
    ~SampleGrabber() override {
        GstPad *src = gst_element_get_static_pad(filter_, "src");
        gst_pad_remove_probe(src, probe_);
        gst_object_unref(src);
        gst_object_unref(bin_);
        if (callback_)
            callback_->Release();
    }

    static GstPadProbeReturn onBuffer(GstPad *pad, GstPadProbeInfo *info, gpointer self) {
        static_cast<SampleGrabber *>(self)->keep(pad, GST_PAD_PROBE_INFO_BUFFER(info));
        return GST_PAD_PROBE_OK;
    }

    // Runs on the streaming thread.
    void keep(GstPad *pad, GstBuffer *buffer) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (callback_)
            tell(buffer);
        if (!buffering_ || (oneShot_ && haveSample_))
            return;
        GstCaps *caps = gst_pad_get_current_caps(pad);
        GstVideoInfo info;
        bool known = caps && gst_video_info_from_caps(&info, caps);
        if (caps)
            gst_caps_unref(caps);
        if (known && GST_VIDEO_INFO_N_PLANES(&info) == 1)
            keepRows(info, buffer);
        else if (known)
            keepPlanes(info, buffer);
        else
            keepBytes(buffer);
    }

    void tell(GstBuffer *buffer) {
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
            return;
        const GstClockTime time = GST_BUFFER_PTS(buffer);
        callback_->BufferCB(GST_CLOCK_TIME_IS_VALID(time) ? double(time) / GST_SECOND : 0.0,
                            map.data, static_cast<LONG>(map.size));
        gst_buffer_unmap(buffer, &map);
    }

    void keepRows(const GstVideoInfo &info, GstBuffer *buffer) {
        GstVideoFrame frame;
        if (!gst_video_frame_map(&frame, const_cast<GstVideoInfo *>(&info), buffer, GST_MAP_READ))
            return;
        const int width = GST_VIDEO_INFO_WIDTH(&info);
        const int pixelBytes = GST_VIDEO_INFO_COMP_PSTRIDE(&info, 0);
        const size_t rowBytes = size_t(width) * pixelBytes;
        // Windows pads RGB rows to whole 4-byte words.
        const size_t paddedRow = GST_ROUND_UP_4(rowBytes);
        const int rows = GST_VIDEO_INFO_HEIGHT(&info);
        // Same size as the last sample on every frame but the first: no
        // allocation, and only the padding needs clearing.
        sample_.resize(paddedRow * rows);
        const auto *source = static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
        const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
        for (int row = 0; row < rows; ++row) {
            uint8_t *kept = &sample_[row * paddedRow];
            std::memcpy(kept, source + row * stride, rowBytes);
            std::memset(kept + rowBytes, 0, paddedRow - rowBytes);
        }
        gst_video_frame_unmap(&frame);
        haveSample_ = true;
    }

    // Planes one after the other, rows unpadded, as Windows lays out NV12
    // and I420; the same size every frame, so nothing is allocated.
    void keepPlanes(const GstVideoInfo &info, GstBuffer *buffer) {
        GstVideoFrame frame;
        if (!gst_video_frame_map(&frame, const_cast<GstVideoInfo *>(&info), buffer, GST_MAP_READ))
            return;
        sample_.resize(tightBytes(info));
        uint8_t *kept = sample_.data();
        for (guint plane = 0; plane < GST_VIDEO_INFO_N_PLANES(&info); ++plane) {
            const size_t rowBytes = planeRowBytes(info, plane);
            const auto *source =
                static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, plane));
            const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, plane);
            for (int row = 0; row < planeRows(info, plane); ++row, kept += rowBytes)
                std::memcpy(kept, source + row * stride, rowBytes);
        }
        gst_video_frame_unmap(&frame);
        haveSample_ = true;
    }

    void keepBytes(GstBuffer *buffer) {
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
            return;
        sample_.assign(map.data, map.data + map.size);
        gst_buffer_unmap(buffer, &map);
        haveSample_ = true;
    }

    GstElement *filter_;
    GstElement *bin_;
    Pin input_;
    Pin output_;
    gulong probe_;

    std::mutex mutex_;
    bool buffering_ = false;
    bool oneShot_ = false;
    bool haveSample_ = false;
    std::vector<uint8_t> sample_;
    ISampleGrabberCB *callback_ = nullptr;
    GUID asked_ = MEDIASUBTYPE_RGB24;
};

} // namespace

HRESULT createSampleGrabber(REFIID riid, void **object) {
    return createObject<SampleGrabber>(riid, object);
}
