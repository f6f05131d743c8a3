#include "capture/video_image.h"

#include <cstdio>

namespace {

// Writes one line naming a platform call that failed, so a user learns why the
// window stays black; true when the call failed.
bool reportFailure(HRESULT result, const char *what) {
    if (SUCCEEDED(result))
        return false;
    std::fprintf(stderr, "cloakcam: %s (error 0x%08lX)\n", what,
                 static_cast<unsigned long>(static_cast<ULONG>(result)));
    return true;
}

// Creates a COM object, leaving the pointer null when that failed.
template <typename Interface>
bool create(REFCLSID clsid, DWORD context, REFIID iid, Interface **object, const char *what) {
    *object = nullptr;
    if (reportFailure(CoCreateInstance(clsid, NULL, context, iid, (void **)object), what))
        *object = nullptr;
    return *object != nullptr;
}

// Frees a media type the platform allocated for us; Windows SDKs declare no
// function for this outside the base-class library.
void deleteMediaType(AM_MEDIA_TYPE *type) {
    if (!type)
        return;
    if (type->cbFormat != 0)
        CoTaskMemFree(type->pbFormat);
    if (type->pUnk)
        type->pUnk->Release();
    CoTaskMemFree(type);
}

// Asks the device for the frame size the program draws, in uncompressed RGB;
// formats the program cannot describe are left as the device has them.
void requestFrameSize(IAMStreamConfig *streamConfig, int width, int height) {
    AM_MEDIA_TYPE *current = nullptr;
    if (reportFailure(streamConfig->GetFormat(&current), "cannot read the camera's format") ||
        !current)
        return;
    if (current->formattype == FORMAT_VideoInfo && current->pbFormat &&
        current->cbFormat >= sizeof(VIDEOINFOHEADER)) {
        VIDEOINFOHEADER *info = reinterpret_cast<VIDEOINFOHEADER *>(current->pbFormat);
        info->bmiHeader.biWidth = width;
        info->bmiHeader.biHeight = height;
        info->bmiHeader.biCompression = BI_RGB;
        info->bmiHeader.biSizeImage = width * height * 3;
        streamConfig->SetFormat(current);
    }
    deleteMediaType(current);
}

void releaseIfSet(IUnknown *object) {
    if (object)
        object->Release();
}

} // namespace

HRESULT getVideoImage::buildGraph(int width, int height) {
    CoInitialize(NULL);
    create(CLSID_FilterGraph, CLSCTX_INPROC, IID_IGraphBuilder, &graph,
           "cannot create the filter graph manager");
    create(CLSID_SystemDeviceEnum, CLSCTX_INPROC, IID_ICreateDevEnum, &deviceEnum,
           "cannot create the device enumerator");

    IEnumMoniker *monikers = nullptr;
    if (deviceEnum)
        deviceEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    // An empty category gives S_FALSE and no enumerator at all.
    if (monikers) {
        ULONG fetched = 0;
        if (monikers->Next(1, &moniker, &fetched) == S_OK) {
            if (reportFailure(
                    moniker->BindToObject(NULL, NULL, IID_IBaseFilter, (void **)&captureFilter),
                    "cannot open the camera"))
                captureFilter = nullptr;
            moniker->Release();
        }
        monikers->Release();
    }
    if (deviceEnum)
        deviceEnum->Release();
    if (deviceEnum && !moniker)
        std::fprintf(stderr, "cloakcam: no camera found\n");

    if (graph && captureFilter)
        graph->AddFilter(captureFilter, L"Video Capture");

    ICaptureGraphBuilder2 *builder = nullptr;
    if (create(CLSID_CaptureGraphBuilder2, CLSCTX_INPROC, IID_ICaptureGraphBuilder2, &builder,
               "cannot create the capture graph builder") &&
        graph)
        builder->SetFiltergraph(graph);

    if (create(CLSID_SampleGrabber, CLSCTX_INPROC_SERVER, IID_IBaseFilter, &grabberFilter,
               "cannot create the frame grabber") &&
        reportFailure(grabberFilter->QueryInterface(IID_ISampleGrabber, (void **)&grabber),
                      "the frame grabber has no grabbing interface"))
        grabber = nullptr;

    if (grabber) {
        AM_MEDIA_TYPE type = {};
        type.majortype = MEDIATYPE_Video;
        type.subtype = MEDIASUBTYPE_RGB24;
        grabber->SetMediaType(&type);
    }
    if (graph && grabberFilter)
        graph->AddFilter(grabberFilter, L"Grabber");

    IPin *capturePin = captureFilter ? getPin(captureFilter, PINDIR_OUTPUT) : nullptr;
    IPin *grabberInput = grabberFilter ? getPin(grabberFilter, PINDIR_INPUT) : nullptr;

    if (builder && captureFilter &&
        reportFailure(builder->FindInterface(NULL, NULL, captureFilter, IID_IAMStreamConfig,
                                             (void **)&streamConfig),
                      "the camera offers no format settings"))
        streamConfig = nullptr;
    if (streamConfig)
        requestFrameSize(streamConfig, width, height);

    if (graph && capturePin && grabberInput)
        reportFailure(graph->Connect(capturePin, grabberInput),
                      "cannot connect the camera to the frame grabber");

    if (grabber) {
        grabber->SetBufferSamples(TRUE);
        grabber->SetOneShot(FALSE);
    }

    create(CLSID_NullRenderer, CLSCTX_INPROC_SERVER, IID_IBaseFilter, &nullRenderer,
           "cannot create the null renderer");
    if (graph && nullRenderer) {
        graph->AddFilter(nullRenderer, L"NullRenderer");
        if (grabberFilter)
            connectFilters(graph, grabberFilter, nullRenderer);
    }

    if (builder && captureFilter)
        builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, captureFilter, NULL, NULL);

    HRESULT result = E_FAIL;
    IMediaControl *control = nullptr;
    if (graph &&
        !reportFailure(graph->QueryInterface(IID_IMediaControl, (void **)&control),
                       "the filter graph cannot be started") &&
        control) {
        result = control->Run();
        reportFailure(result, "cannot start the camera");
    }

    releaseIfSet(control);
    releaseIfSet(grabberInput);
    releaseIfSet(capturePin);
    releaseIfSet(builder);
    return result;
}

HRESULT getVideoImage::findPin(IBaseFilter *filter, PIN_DIRECTION direction, IPin **pin) {
    IEnumPins *pins = nullptr;
    if (FAILED(filter->EnumPins(&pins)) || !pins)
        return E_FAIL;
    IPin *candidate = nullptr;
    HRESULT result = E_FAIL;
    while (pins->Next(1, &candidate, NULL) == S_OK) {
        PIN_DIRECTION candidateDirection;
        if (SUCCEEDED(candidate->QueryDirection(&candidateDirection)) &&
            candidateDirection == direction) {
            *pin = candidate;
            result = S_OK;
            break;
        }
        candidate->Release();
    }
    pins->Release();
    return result;
}

IPin *getVideoImage::getPin(IBaseFilter *filter, PIN_DIRECTION direction) {
    IPin *pin = nullptr;
    findPin(filter, direction, &pin);
    return pin;
}

HRESULT getVideoImage::connectFilters(IGraphBuilder *graph, IBaseFilter *upstream,
                                      IBaseFilter *downstream) {
    IPin *out = nullptr;
    HRESULT result = findPin(upstream, PINDIR_OUTPUT, &out);
    if (FAILED(result))
        return result;
    IPin *in = nullptr;
    if (FAILED(findPin(downstream, PINDIR_INPUT, &in))) {
        out->Release();
        return E_FAIL;
    }
    result = graph->Connect(out, in);
    in->Release();
    out->Release();
    return result;
}
