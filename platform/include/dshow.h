#ifndef CLOAKCAM_STAND_IN_DSHOW_H
#define CLOAKCAM_STAND_IN_DSHOW_H

// The DirectShow interfaces, structures and identifiers that the capture code
// uses, declared with Windows' names and signatures but only the methods the
// program calls. The objects behind them stand on the camera table.

#include <windows.h>

typedef LONGLONG REFERENCE_TIME;

// SetFormat's answer for a type the pin does not list.
#define VFW_E_INVALIDMEDIATYPE ((HRESULT)0x80040200u)
#define VFW_E_ALREADY_CONNECTED ((HRESULT)0x80040204u)
#define VFW_E_NOT_CONNECTED ((HRESULT)0x80040209u)
#define VFW_E_NO_ACCEPTABLE_TYPES ((HRESULT)0x80040207u)
#define VFW_E_TYPE_NOT_ACCEPTED ((HRESULT)0x8004022Au)
#define VFW_E_CANNOT_CONNECT ((HRESULT)0x80040217u)
#define VFW_E_NOT_STOPPED ((HRESULT)0x80040224u)
#define VFW_E_WRONG_STATE ((HRESULT)0x80040227u)
#define VFW_E_NOT_IN_GRAPH ((HRESULT)0x8004025Fu)
// GetState's answer while the graph is still on its way to a state.
#define VFW_S_STATE_INTERMEDIATE ((HRESULT)0x00040237u)

typedef LONG OAFilterState;
enum _FilterState { State_Stopped, State_Paused, State_Running };

#define BI_RGB 0
#define BI_BITFIELDS 3

// What the graph tells its owner: the stream ended; streaming stopped with
// an error (param1 the HRESULT); a device was removed (param2 0) or is there
// again (param2 1), param1 being its filter.
#define EC_COMPLETE 0x01
#define EC_ERRORABORT 0x03
#define EC_DEVICE_LOST 0x1F

// How Windows numbers its system errors as HRESULTs.
#define HRESULT_FROM_WIN32(code) ((HRESULT)(0x80070000u | ((code)&0xFFFFu)))
#define ERROR_BUSY 170L
#define ERROR_READ_FAULT 30L
#define ERROR_NO_SYSTEM_RESOURCES 1450L

extern const CLSID CLSID_FilterGraph;
extern const CLSID CLSID_SystemDeviceEnum;
extern const CLSID CLSID_VideoInputDeviceCategory;
extern const CLSID CLSID_CaptureGraphBuilder2;
extern const IID IID_IGraphBuilder;
extern const IID IID_IMediaControl;
extern const IID IID_IMediaEventEx;
extern const IID IID_ICreateDevEnum;
extern const IID IID_IEnumMoniker;
extern const IID IID_IMoniker;
extern const IID IID_IBaseFilter;
extern const IID IID_IEnumPins;
extern const IID IID_IPin;
extern const IID IID_ICaptureGraphBuilder2;
extern const IID IID_IAMStreamConfig;
extern const GUID MEDIATYPE_Video;
extern const GUID MEDIASUBTYPE_RGB24;
extern const GUID MEDIASUBTYPE_RGB32;
extern const GUID MEDIASUBTYPE_YUY2;
extern const GUID MEDIASUBTYPE_UYVY;
extern const GUID MEDIASUBTYPE_NV12;
extern const GUID MEDIASUBTYPE_I420;
extern const GUID MEDIASUBTYPE_IYUV;
extern const GUID FORMAT_VideoInfo;
extern const GUID FORMAT_VideoInfo2;
extern const GUID PIN_CATEGORY_PREVIEW;
extern const GUID PIN_CATEGORY_CAPTURE;

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};

struct SIZE {
    LONG cx;
    LONG cy;
};

// What a capture pin can deliver in one of its formats.
struct VIDEO_STREAM_CONFIG_CAPS {
    GUID guid;
    ULONG VideoStandard;
    SIZE InputSize;
    SIZE MinCroppingSize;
    SIZE MaxCroppingSize;
    int CropGranularityX;
    int CropGranularityY;
    int CropAlignX;
    int CropAlignY;
    SIZE MinOutputSize;
    SIZE MaxOutputSize;
    int OutputGranularityX;
    int OutputGranularityY;
    int StretchTapsX;
    int StretchTapsY;
    int ShrinkTapsX;
    int ShrinkTapsY;
    LONGLONG MinFrameInterval;
    LONGLONG MaxFrameInterval;
    LONG MinBitsPerSecond;
    LONG MaxBitsPerSecond;
};

struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown *pUnk;
    ULONG cbFormat;
    BYTE *pbFormat;
};

struct IBaseFilter;
struct IBindCtx;

struct IPin : IUnknown {
    // The pin this one is connected to, with a reference for the caller.
    virtual HRESULT STDMETHODCALLTYPE ConnectedTo(IPin **pin) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION *direction) = 0;
};

struct IEnumPins : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin **pins, ULONG *fetched) = 0;
};

struct IBaseFilter : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **pins) = 0;
};

struct IFilterGraph : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter *filter, LPCWSTR name) = 0;
};

struct IGraphBuilder : IFilterGraph {
    virtual HRESULT STDMETHODCALLTYPE Connect(IPin *out, IPin *in) = 0;
};

struct IMediaControl : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Run() = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetState(LONG msTimeout, OAFilterState *state) = 0;
};

struct IMediaEvent : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetEvent(LONG *code, LONG_PTR *param1, LONG_PTR *param2,
                                               LONG timeout) = 0;
    virtual HRESULT STDMETHODCALLTYPE FreeEventParams(LONG code, LONG_PTR param1,
                                                      LONG_PTR param2) = 0;
};

// Only the methods the program calls; the rest of IMediaEventEx is for
// window messages, which the program does not use.
struct IMediaEventEx : IMediaEvent {};

struct IMoniker : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx *context, IMoniker *left, REFIID riid,
                                                   void **object) = 0;
    virtual HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx *context, IMoniker *left, REFIID riid,
                                                    void **object) = 0;
};

struct IEnumMoniker : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, IMoniker **monikers, ULONG *fetched) = 0;
};

struct ICreateDevEnum : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category,
                                                            IEnumMoniker **monikers,
                                                            DWORD flags) = 0;
};

struct IAMStreamConfig : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE *type) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE **type) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int *count, int *size) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE **type,
                                                    BYTE *caps) = 0;
};

struct ICaptureGraphBuilder2 : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder *graph) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenderStream(const GUID *category, const GUID *type,
                                                   IUnknown *source, IBaseFilter *compressor,
                                                   IBaseFilter *renderer) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindPin(IUnknown *source, PIN_DIRECTION direction,
                                              const GUID *category, const GUID *type,
                                              BOOL unconnected, int index, IPin **pin) = 0;
};

#endif
