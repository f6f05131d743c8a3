#include "capture/video_image.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "capture/camera_list.h"
#include "capture/camera_status.h"
#include "capture/format_choice.h"
#include "capture/media_type.h"
#include "capture/pins_and_types.h"
#include "common/message.h"

namespace {

// Writes one line naming a platform call that failed, so a user learns why the
// window stays black; true when the call failed.
bool reportFailure(HRESULT result, const char *what) {
    if (SUCCEEDED(result))
        return false;
    tellUser(std::string(what) + " (error " + hexCode(result) + ")");
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

// Every capability the camera's pin lists, with the types that describe
// them; the caller frees the types.
void listCapabilities(IAMStreamConfig *streamConfig, std::vector<AM_MEDIA_TYPE *> *types,
                      std::vector<OfferedFormat> *offered) {
    int count = 0, capsSize = 0;
    if (FAILED(streamConfig->GetNumberOfCapabilities(&count, &capsSize)) || count <= 0 ||
        capsSize <= 0)
        return;
    // Drivers may describe their capabilities in more bytes than the SDK's
    // structure has.
    std::vector<BYTE> caps(std::max<size_t>(capsSize, sizeof(VIDEO_STREAM_CONFIG_CAPS)));
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE *type = nullptr;
        if (streamConfig->GetStreamCaps(i, &type, caps.data()) != S_OK || !type)
            continue;
        const BITMAPINFOHEADER *header = bitmapHeader(*type);
        if (type->majortype != MEDIATYPE_Video || !header) {
            deleteMediaType(type);
            continue;
        }
        const auto *config = reinterpret_cast<const VIDEO_STREAM_CONFIG_CAPS *>(caps.data());
        OfferedFormat format{type->subtype, header->biWidth, header->biHeight};
        format.fastest = frameInterval(*type);
        if (config->guid == type->formattype) {
            format.minWidth = config->MinOutputSize.cx;
            format.minHeight = config->MinOutputSize.cy;
            format.maxWidth = config->MaxOutputSize.cx;
            format.maxHeight = config->MaxOutputSize.cy;
            format.stepX = config->OutputGranularityX;
            format.stepY = config->OutputGranularityY;
            // Some drivers leave the capability's rates empty and give only
            // the type's.
            if (config->MinFrameInterval > 0)
                format.fastest = config->MinFrameInterval;
            format.slowest = config->MaxFrameInterval;
        }
        offered->push_back(format);
        types->push_back(type);
    }
}

// Bits a second the camera sends in `format`, as far as its type tells.
long long bandwidthOf(const FormatTry &format, const AM_MEDIA_TYPE &type) {
    const BITMAPINFOHEADER *header = bitmapHeader(type);
    const long long bits = header && header->biBitCount > 0 ? header->biBitCount : 16;
    const long long interval = format.interval > 0 ? format.interval : frameInterval(type);
    const long long perSecond = interval > 0 ? (10000000LL + interval - 1) / interval : 30;
    return 1LL * format.width * format.height * bits * perSecond;
}

template <typename Interface> void release(Interface *&object) {
    if (object)
        object->Release();
    object = nullptr;
}

} // namespace

bool getVideoImage::bindCamera() {
    std::vector<IMoniker *> devices;
    bool complete = true;
    const std::vector<CameraName> names = listCameras(deviceEnum, &devices, &complete);
    release(deviceEnum);
    const int index = session.cameraFor(names, steadyNow(), complete);
    if (session.showsPattern() && !pattern) {
        pattern.reset(new TestPattern(width, height));
        patternDue = 0;
    } else if (!session.showsPattern())
        pattern.reset();
    // The title names the camera while it is bound and connected.
    handOverStatus();
    if (index >= 0) {
        moniker = devices[index];
        const HRESULT bound =
            moniker->BindToObject(NULL, NULL, IID_IBaseFilter, (void **)&captureFilter);
        if (FAILED(bound) || !captureFilter) {
            captureFilter = nullptr;
            session.failed(reasonFor(bound), retryAfter(bound), steadyNow());
        }
        moniker = nullptr;
    }
    for (IMoniker *device : devices)
        device->Release();
    return captureFilter != nullptr;
}

HRESULT getVideoImage::buildGraph(int width, int height) {
    // Once for the object's thread, however often the graph is rebuilt, and
    // undone when the object goes.
    if (!comInitialised)
        comInitialised = SUCCEEDED(CoInitialize(NULL));
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
    const bool connected = connectCamera(builder, width, height);
    // A quit came while the camera connected: the graph is let go of as it is.
    if (stopping) {
        release(builder);
        return E_ABORT;
    }
    addRenderer();
    // Nothing is rendered for a camera that did not connect.
    if (connected)
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

bool getVideoImage::connectCamera(ICaptureGraphBuilder2 *builder, int width, int height) {
    IPin *capturePin = captureFilter ? findCapturePin(builder, captureFilter) : nullptr;
    IPin *grabberInput = grabberFilter ? getPin(grabberFilter, PINDIR_INPUT) : nullptr;
    // The format settings of the very pin that is connected: a filter's
    // first such interface may be its audio or still pin's.
    if (capturePin &&
        reportFailure(capturePin->QueryInterface(IID_IAMStreamConfig, (void **)&streamConfig),
                      "the camera offers no format settings"))
        streamConfig = nullptr;
    bool connected =
        graph && capturePin && grabberInput && negotiate(capturePin, grabberInput, width, height);
    if (connected && !cameraFrame.learn(grabber, width, height)) {
        connected = false;
        session.failed(std::string(noFormatReason) +
                           " (it sends pictures in a form it does not describe)",
                       CameraSession::Retry::WhenCamerasChange, steadyNow());
    }
    if (grabber) {
        grabber->SetBufferSamples(TRUE);
        grabber->SetOneShot(FALSE);
    }
    release(grabberInput);
    release(capturePin);
    return connected;
}

IPin *getVideoImage::findCapturePin(ICaptureGraphBuilder2 *builder, IBaseFilter *filter) {
    IPin *pin = nullptr;
    if (builder &&
        SUCCEEDED(builder->FindPin(filter, PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video,
                                   FALSE, 0, &pin)) &&
        pin)
        return pin;
    // A filter that names no categories has one stream to offer.
    return getPin(filter, PINDIR_OUTPUT);
}

bool getVideoImage::negotiate(IPin *capturePin, IPin *grabberInput, int width, int height) {
    std::vector<AM_MEDIA_TYPE *> types;
    std::vector<OfferedFormat> offered;
    if (streamConfig)
        listCapabilities(streamConfig, &types, &offered);
    HRESULT result = VFW_E_NO_ACCEPTABLE_TYPES;
    if (offered.empty()) {
        // Nothing listed: the camera's own format, as it is.
        GUID subtype = {};
        AM_MEDIA_TYPE *current = nullptr;
        if (streamConfig && SUCCEEDED(streamConfig->GetFormat(&current)) && current) {
            subtype = current->subtype;
            deleteMediaType(current);
        }
        result = connectAs(capturePin, grabberInput, subtype);
    }
    std::vector<FormatTry> ranked = rankFormats(offered, width, height);
    // The port ran out of bandwidth in the last format: only those that need
    // less are tried.
    if (session.bandwidthLowered()) {
        const long long limit = bandwidth;
        ranked.erase(std::remove_if(ranked.begin(), ranked.end(),
                                    [&](const FormatTry &format) {
                                        return bandwidthOf(format, *types[format.index]) >= limit;
                                    }),
                     ranked.end());
        if (ranked.empty())
            result = HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES);
    }
    for (const FormatTry &format : ranked) {
        // A quit does not wait for the rest of a slow camera's formats.
        if (stopping)
            break;
        AM_MEDIA_TYPE *type = types[format.index];
        resize(*type, format.width, format.height);
        // A rate the camera has not got gives the next slower one it has.
        setFrameInterval(*type, format.interval);
        result = streamConfig->SetFormat(type);
        if (SUCCEEDED(result))
            result = connectAs(capturePin, grabberInput, type->subtype);
        if (SUCCEEDED(result))
            bandwidth = bandwidthOf(format, *type);
        if (SUCCEEDED(result) || isRefusal(result))
            break;
    }
    for (AM_MEDIA_TYPE *type : types)
        deleteMediaType(type);
    if (SUCCEEDED(result))
        return true;
    // Cut short by a quit: nothing to tell.
    if (stopping)
        return false;
    if (isRefusal(result)) {
        // Nothing needing less was there to try.
        session.failed(reasonFor(result),
                       isOutOfBandwidth(result) ? CameraSession::Retry::Refused
                                                : retryAfter(result),
                       steadyNow());
        return false;
    }
    // No format connected. Trying again changes nothing until the system
    // tells of a change, when none of them is one the program can show.
    bool showable = offered.empty();
    for (const OfferedFormat &format : offered) {
        PixelFormat pixels;
        showable = showable || pixelFormatOf(format.subtype, &pixels);
    }
    if (!showable)
        session.failed(std::string(noFormatReason) + " (it offers " + describeFormats(offered) +
                           ")",
                       CameraSession::Retry::WhenCamerasChange, steadyNow());
    else
        // Formats the program reads itself did not connect, for a reason
        // the camera keeps to itself (a driver refusing its own type, a
        // converter missing): the last try's error, and the formats.
        session.failed(unconnectedReason(result, describeFormats(offered)),
                       CameraSession::Retry::Rarely, steadyNow());
    return false;
}

HRESULT getVideoImage::connectAs(IPin *capturePin, IPin *grabberInput, const GUID &subtype) {
    HRESULT result = VFW_E_NO_ACCEPTABLE_TYPES;
    // Where Windows has no converter to one form (NV12 above all), the next
    // is tried, down to the pictures as they come.
    for (const GUID &asked : grabberSubtypes(subtype)) {
        AM_MEDIA_TYPE type = {};
        type.majortype = MEDIATYPE_Video;
        type.subtype = asked;
        grabber->SetMediaType(&type);
        result = graph->Connect(capturePin, grabberInput);
        if (SUCCEEDED(result) || isRefusal(result))
            break;
    }
    return result;
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
// rendered for a camera without a preview pin, whose capture stream the
// builder would otherwise split for a preview.
void getVideoImage::renderPreview(ICaptureGraphBuilder2 *builder) {
    if (!builder || !graph || !captureFilter)
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
            session.failed(reasonFor(result), retryAfter(result), steadyNow());
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
    cameraFrame.forget();
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
    IPin *found = firstPin(filter, direction);
    if (!found)
        return E_FAIL;
    *pin = found;
    return S_OK;
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

bool getVideoImage::graphStillChanging() {
    IMediaControl *control = nullptr;
    if (!graph || FAILED(graph->QueryInterface(IID_IMediaControl, (void **)&control)) || !control)
        return false;
    OAFilterState state;
    const bool intermediate = control->GetState(0, &state) == VFW_S_STATE_INTERMEDIATE;
    control->Release();
    return intermediate;
}
