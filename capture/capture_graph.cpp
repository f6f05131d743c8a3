#include "capture/video_image.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

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

// Frees a media type's contents, as the base-class library's FreeMediaType;
// Windows SDKs declare no function for this outside that library.
void freeMediaType(AM_MEDIA_TYPE &type) {
    if (type.cbFormat != 0)
        CoTaskMemFree(type.pbFormat);
    if (type.pUnk)
        type.pUnk->Release();
    type.pbFormat = nullptr;
    type.pUnk = nullptr;
}

// Frees a media type the platform allocated for us, contents and all.
void deleteMediaType(AM_MEDIA_TYPE *type) {
    if (!type)
        return;
    freeMediaType(*type);
    CoTaskMemFree(type);
}

const VIDEOINFOHEADER *videoInfo(const AM_MEDIA_TYPE *type) {
    if (!type || type->formattype != FORMAT_VideoInfo || !type->pbFormat ||
        type->cbFormat < sizeof(VIDEOINFOHEADER))
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER *>(type->pbFormat);
}

// Asks the device for the frame size the program draws, in a type the device
// lists itself: drivers refuse any other. True when the device took it; one
// that refuses keeps its own size, and its pictures are scaled.
bool requestFrameSize(IAMStreamConfig *streamConfig, int width, int height) {
    AM_MEDIA_TYPE *current = nullptr;
    if (reportFailure(streamConfig->GetFormat(&current), "cannot read the camera's format") ||
        !current)
        return false;
    const GUID subtype = current->subtype;
    deleteMediaType(current);

    int count = 0, capsSize = 0;
    if (FAILED(streamConfig->GetNumberOfCapabilities(&count, &capsSize)) || count <= 0 ||
        capsSize <= 0)
        return false;
    // Drivers may describe their capabilities in more bytes than the SDK's
    // structure has.
    std::vector<BYTE> caps(std::max<size_t>(capsSize, sizeof(VIDEO_STREAM_CONFIG_CAPS)));
    std::vector<AM_MEDIA_TYPE *> types;
    std::vector<OfferedFormat> offered;
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE *type = nullptr;
        if (streamConfig->GetStreamCaps(i, &type, caps.data()) != S_OK || !type)
            continue;
        if (const VIDEOINFOHEADER *info = videoInfo(type)) {
            offered.push_back({type->subtype, info->bmiHeader.biWidth, info->bmiHeader.biHeight});
            types.push_back(type);
        } else {
            deleteMediaType(type);
        }
    }
    const int chosen = chooseFormat(offered, subtype, width, height);
    const bool taken = chosen >= 0 && SUCCEEDED(streamConfig->SetFormat(types[chosen])) &&
                       offered[chosen].width == width && std::abs(offered[chosen].height) == height;
    for (AM_MEDIA_TYPE *type : types)
        deleteMediaType(type);
    return taken;
}

template <typename Interface> void release(Interface *&object) {
    if (object)
        object->Release();
    object = nullptr;
}

// UTF-8 from the system's wide strings: UTF-16 on Windows, UTF-32 elsewhere.
std::string narrow(const wchar_t *wide) {
    std::string text;
    for (; *wide; ++wide) {
        unsigned long c = static_cast<unsigned long>(*wide);
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c < 0xDC00 && wide[1] >= 0xDC00 &&
            wide[1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<unsigned long>(wide[1]) - 0xDC00);
            ++wide;
        }
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += static_cast<char>(0xE0 | (c >> 12));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (c >> 18));
            text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

// The camera the user named in CLOAKCAM_DEVICE, in UTF-8, or empty.
std::string wantedCamera() {
#ifdef _WIN32
    const wchar_t *wanted = _wgetenv(L"CLOAKCAM_DEVICE");
    return wanted ? narrow(wanted) : std::string();
#else
    const char *wanted = std::getenv("CLOAKCAM_DEVICE");
    return wanted ? std::string(wanted) : std::string();
#endif
}

std::string readText(IPropertyBag *bag, LPCOLESTR property) {
    VARIANT value;
    VariantInit(&value);
    std::string text;
    if (SUCCEEDED(bag->Read(property, &value, NULL)) && value.vt == VT_BSTR && value.bstrVal)
        text = narrow(value.bstrVal);
    VariantClear(&value);
    return text;
}

// The name and path the system keeps for a device in its property bag; a
// device without a path is known by its name.
CameraName nameOf(IMoniker *device) {
    CameraName camera;
    IPropertyBag *bag = nullptr;
    if (SUCCEEDED(device->BindToStorage(NULL, NULL, IID_IPropertyBag, (void **)&bag)) && bag) {
        camera.name = readText(bag, L"FriendlyName");
        camera.path = readText(bag, L"DevicePath");
        bag->Release();
    }
    if (camera.path.empty())
        camera.path = camera.name;
    return camera;
}

} // namespace

std::vector<CameraName> getVideoImage::listCameras(ICreateDevEnum *devices,
                                                   std::vector<IMoniker *> *monikers) {
    std::vector<CameraName> names;
    IEnumMoniker *found = nullptr;
    if (devices)
        devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &found, 0);
    // An empty category gives S_FALSE and no enumerator at all.
    if (!found)
        return names;
    IMoniker *device = nullptr;
    ULONG fetched = 0;
    while (found->Next(1, &device, &fetched) == S_OK && device) {
        names.push_back(nameOf(device));
        if (monikers)
            monikers->push_back(device);
        else
            device->Release();
        device = nullptr;
    }
    found->Release();
    return names;
}

bool getVideoImage::bindCamera() {
    std::vector<IMoniker *> devices;
    const std::vector<CameraName> names = listCameras(deviceEnum, &devices);
    release(deviceEnum);
    listed = names;

    int index;
    if (cameraChosen) {
        index = findCamera(names, camera);
    } else {
        const CameraChoice choice = chooseCamera(names, wantedCamera());
        say(choice.message);
        index = choice.index;
        cameraChosen = true;
        if (index >= 0) {
            camera = names[index];
            status.start(camera);
        } else {
            pattern.reset(new TestPattern(width, height));
            status.showPattern(wantedCamera());
            // Unless the user asked for the pattern, a camera plugged in
            // later takes its place.
            waitingForCamera = wantedCamera() != patternChoice;
        }
    }
    if (index >= 0) {
        moniker = devices[index];
        const HRESULT bound =
            moniker->BindToObject(NULL, NULL, IID_IBaseFilter, (void **)&captureFilter);
        if (FAILED(bound) || !captureFilter) {
            captureFilter = nullptr;
            say(status.lose(reasonFor(bound)));
        }
        moniker = nullptr;
    } else if (!pattern) {
        // The camera that came back is gone again before it could be bound.
        status.lose("it was unplugged");
    }
    for (IMoniker *device : devices)
        device->Release();
    return captureFilter != nullptr;
}

std::vector<CameraName> getVideoImage::listCamerasNow() {
    ICreateDevEnum *devices = nullptr;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC, IID_ICreateDevEnum,
                                (void **)&devices)))
        return {};
    const std::vector<CameraName> names = listCameras(devices, nullptr);
    devices->Release();
    return names;
}

bool getVideoImage::lookForCamera(const std::vector<CameraName> &names) {
    if (!waitingForCamera)
        return findCamera(names, camera) >= 0;
    // A named camera is waited for by its name alone.
    const std::string wanted = wantedCamera();
    const CameraChoice choice = chooseCamera(names, wanted);
    if (choice.index < 0 || (!wanted.empty() && !choice.message.empty()))
        return false;
    camera = names[choice.index];
    waitingForCamera = false;
    pattern.reset();
    status.start(camera);
    say("cloakcam: using camera " + describeCamera(camera));
    return true;
}

HRESULT getVideoImage::buildGraph(int width, int height) {
    CoInitialize(NULL);
    unusable = false;
    create(CLSID_FilterGraph, CLSCTX_INPROC, IID_IGraphBuilder, &graph,
           "cannot create the filter graph manager");
    create(CLSID_SystemDeviceEnum, CLSCTX_INPROC, IID_ICreateDevEnum, &deviceEnum,
           "cannot create the device enumerator");
    bindCamera();
    addToGraph(captureFilter, L"Video Capture", "cannot add the camera to the filter graph");
    ICaptureGraphBuilder2 *builder = nullptr;
    if (create(CLSID_CaptureGraphBuilder2, CLSCTX_INPROC, IID_ICaptureGraphBuilder2, &builder,
               "cannot create the capture graph builder") &&
        graph)
        builder->SetFiltergraph(graph);
    addGrabber();
    connectCamera(builder, width, height);
    addRenderer();
    renderPreview(builder);
    release(builder);
    // Asked before the graph runs, so that nothing it reports is missed.
    if (graph && FAILED(graph->QueryInterface(IID_IMediaEventEx, (void **)&events)))
        events = nullptr;
    return runGraph();
}

void getVideoImage::addToGraph(IBaseFilter *filter, LPCWSTR name, const char *failure) {
    if (graph && filter)
        reportFailure(graph->AddFilter(filter, name), failure);
}

void getVideoImage::addGrabber() {
    if (create(CLSID_SampleGrabber, CLSCTX_INPROC_SERVER, IID_IBaseFilter, &grabberFilter,
               "cannot create the frame grabber") &&
        reportFailure(grabberFilter->QueryInterface(IID_ISampleGrabber, (void **)&grabber),
                      "the frame grabber has no grabbing interface"))
        grabber = nullptr;
    if (grabber) {
        grabber->SetCallback(counter, 1);
        AM_MEDIA_TYPE type = {};
        type.majortype = MEDIATYPE_Video;
        type.subtype = MEDIASUBTYPE_RGB24;
        grabber->SetMediaType(&type);
    }
    addToGraph(grabberFilter, L"Grabber", "cannot add the frame grabber to the filter graph");
}

void getVideoImage::connectCamera(ICaptureGraphBuilder2 *builder, int width, int height) {
    IPin *capturePin = captureFilter ? getPin(captureFilter, PINDIR_OUTPUT) : nullptr;
    IPin *grabberInput = grabberFilter ? getPin(grabberFilter, PINDIR_INPUT) : nullptr;
    if (builder && captureFilter &&
        reportFailure(builder->FindInterface(NULL, NULL, captureFilter, IID_IAMStreamConfig,
                                             (void **)&streamConfig),
                      "the camera offers no format settings"))
        streamConfig = nullptr;
    const bool sizeTaken = streamConfig && requestFrameSize(streamConfig, width, height);
    cameraConnected = false;
    if (graph && capturePin && grabberInput) {
        const HRESULT connected = graph->Connect(capturePin, grabberInput);
        cameraConnected = SUCCEEDED(connected);
        if (!cameraConnected) {
            // Trying again changes nothing until the system tells of a change.
            unusable = true;
            say(status.lose(reasonFor(connected)));
        }
    }
    if (cameraConnected)
        learnFrameLayout(sizeTaken);
    if (grabber) {
        grabber->SetBufferSamples(TRUE);
        grabber->SetOneShot(FALSE);
    }
    release(grabberInput);
    release(capturePin);
}

void getVideoImage::learnFrameLayout(bool sizeTaken) {
    layout = FrameLayout{PixelFormat::Rgb24, width, height, false, (width * 3L + 3) & ~3L};
    AM_MEDIA_TYPE type = {};
    if (grabber && SUCCEEDED(grabber->GetConnectedMediaType(&type))) {
        frameLayoutOf(type, &layout);
        freeMediaType(type);
    } else if (!sizeTaken && streamConfig) {
        // Without the grabber's word, the camera's own size is what comes.
        AM_MEDIA_TYPE *current = nullptr;
        if (SUCCEEDED(streamConfig->GetFormat(&current)) && current) {
            if (const VIDEOINFOHEADER *info = videoInfo(current))
                if (info->bmiHeader.biWidth > 0 && info->bmiHeader.biHeight != 0)
                    layout = FrameLayout{PixelFormat::Rgb24, info->bmiHeader.biWidth,
                                         std::abs(info->bmiHeader.biHeight), false,
                                         (info->bmiHeader.biWidth * 3L + 3) & ~3L};
            deleteMediaType(current);
        }
    }
    // Room for one whole picture, made here rather than for every frame.
    if (!drawnAsIs())
        frame.assign(static_cast<size_t>(layout.bytes()), 0);
}

bool getVideoImage::drawnAsIs() const {
    return layout.format == PixelFormat::Rgb24 && layout.width == width &&
           layout.height == height && !layout.topDown && layout.stride == 3L * width;
}

void getVideoImage::addRenderer() {
    create(CLSID_NullRenderer, CLSCTX_INPROC_SERVER, IID_IBaseFilter, &nullRenderer,
           "cannot create the null renderer");
    addToGraph(nullRenderer, L"NullRenderer", "cannot add the null renderer to the filter graph");
    if (graph && nullRenderer && grabberFilter)
        connectFilters(graph, grabberFilter, nullRenderer);
}

// A camera's own preview stream goes where no window opens: a second, raw
// window is not what a user of this one-window program expects. Nothing is
// rendered for a camera that did not connect, nor for one without a preview
// pin, whose capture stream the builder would otherwise split for a preview.
void getVideoImage::renderPreview(ICaptureGraphBuilder2 *builder) {
    if (!builder || !graph || !captureFilter || !cameraConnected)
        return;
    IPin *preview = nullptr;
    if (FAILED(builder->FindPin(captureFilter, PINDIR_OUTPUT, &PIN_CATEGORY_PREVIEW, NULL, TRUE, 0,
                                &preview)) ||
        !preview)
        return;
    preview->Release();
    IBaseFilter *sink = nullptr;
    if (!create(CLSID_NullRenderer, CLSCTX_INPROC_SERVER, IID_IBaseFilter, &sink,
                "cannot create the null renderer"))
        return;
    if (!reportFailure(graph->AddFilter(sink, L"Preview"),
                       "cannot add the null renderer to the filter graph"))
        builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, captureFilter, NULL, sink);
    // The graph holds it now.
    sink->Release();
}

HRESULT getVideoImage::runGraph() {
    HRESULT result = E_FAIL;
    IMediaControl *control = nullptr;
    if (graph &&
        !reportFailure(graph->QueryInterface(IID_IMediaControl, (void **)&control),
                       "the filter graph cannot be started") &&
        control) {
        result = control->Run();
        // Only a camera needs the graph running; the test pattern does without.
        if (FAILED(result) && captureFilter)
            say(status.lose(reasonFor(result)));
    }
    release(control);
    return result;
}

void getVideoImage::stopGraph() {
    IMediaControl *control = nullptr;
    if (graph && SUCCEEDED(graph->QueryInterface(IID_IMediaControl, (void **)&control)) &&
        control) {
        control->Stop();
        control->Release();
    }
}

void getVideoImage::releaseGraph() {
    stopGraph();
    cameraConnected = false;
    release(events);
    release(streamConfig);
    release(nullRenderer);
    // The counter outlives the graph; the grabber must not call it after.
    if (grabber)
        grabber->SetCallback(nullptr, 1);
    release(grabber);
    release(grabberFilter);
    release(captureFilter);
    release(graph);
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
