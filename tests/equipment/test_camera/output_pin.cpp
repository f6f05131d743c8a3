#include "output_pin.h"

#include "enumerators.h"
#include "filter.h"
#include "picture.h"

#include <cwchar>
#include <new>

namespace {

// Holds the filter's lock for a scope.
class Locked {
  public:
    explicit Locked(CRITICAL_SECTION &section) : section(section) {
        EnterCriticalSection(&section);
    }
    ~Locked() { LeaveCriticalSection(&section); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;

  private:
    CRITICAL_SECTION &section;
};

constexpr REFERENCE_TIME frameDuration = 10000000 / 30;
// Every wait on the pin's own thread is bounded.
constexpr DWORD threadEndTimeout = 2000;

} // namespace

OutputPin::OutputPin(TestCameraFilter &filter, const GUID &category, const wchar_t *name,
                     const std::vector<Format> &formats, bool strictConnect)
    : filter(filter), category(category), name(name), formats(formats),
      strictConnect(strictConnect), active(formats[0].at(formats[0].width, formats[0].height)) {}

OutputPin::~OutputPin() {
    stopStreaming();
    dropConnection();
    if (streamerStop)
        CloseHandle(streamerStop);
}

STDMETHODIMP OutputPin::QueryInterface(REFIID iid, void **object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IPin)
        return handOut(static_cast<IPin *>(this), object);
    if (iid == IID_IKsPropertySet)
        return handOut(static_cast<IKsPropertySet *>(this), object);
    if (iid == IID_IAMStreamConfig)
        return handOut(static_cast<IAMStreamConfig *>(this), object);
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) OutputPin::AddRef() { return filter.AddRef(); }
STDMETHODIMP_(ULONG) OutputPin::Release() { return filter.Release(); }

STDMETHODIMP OutputPin::Connect(IPin *receiver, const AM_MEDIA_TYPE *type) {
    if (!receiver)
        return E_POINTER;
    // A slow driver's negotiation, outside the lock as the device's own work.
    Sleep(filter.behaviour.slowConnect);
    Locked locked(filter.lock);
    if (connected)
        return VFW_E_ALREADY_CONNECTED;
    if (!filter.isStopped())
        return VFW_E_NOT_STOPPED;
    if (filter.behaviour.refuseConnect)
        return VFW_E_NO_ACCEPTABLE_TYPES;
    // Once the application chose a format, the driver connects with it
    // alone; otherwise with its own first, then the others, each of a range
    // at its largest.
    for (size_t i = 0; i < formats.size(); ++i) {
        const size_t capability = (current + i) % formats.size();
        if ((formatChosen || strictConnect) && capability != current)
            break;
        const Format format =
            capability == current
                ? active
                : formats[capability].at(formats[capability].width, formats[capability].height);
        if (type && !allows(*type, format))
            continue;
        if (SUCCEEDED(tryConnection(receiver, capability, format)))
            return S_OK;
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT OutputPin::tryConnection(IPin *receiver, size_t capability, const Format &format) {
    if (!describe(format, &connectionType))
        return E_OUTOFMEMORY;
    HRESULT result = receiver->ReceiveConnection(this, &connectionType);
    if (SUCCEEDED(result)) {
        connected = receiver;
        connected->AddRef();
        result = receiver->QueryInterface(IID_IMemInputPin, reinterpret_cast<void **>(&input));
        if (SUCCEEDED(result))
            result = chooseAllocator(format);
        if (FAILED(result)) {
            receiver->Disconnect();
            dropConnection();
        }
    }
    if (FAILED(result)) {
        freeMediaType(connectionType);
        return result;
    }
    current = capability;
    active = format;
    filter.noteConnection(format);
    const Format drawn = sent(format);
    picture.resize(drawn.imageSize());
    drawPicture(drawn, filter.behaviour.checker ? Pattern::Checker : Pattern::Quarters,
                picture.data());
    return S_OK;
}

Format OutputPin::sent(const Format &connection) const {
    const SIZE size = filter.behaviour.oversize;
    return size.cx ? connection.at(size.cx, size.cy) : connection;
}

// The downstream pin's allocator when it has one, our own otherwise: Wine's
// Sample Grabber offers none.
HRESULT OutputPin::chooseAllocator(const Format &format) {
    ALLOCATOR_PROPERTIES wanted = {};
    input->GetAllocatorRequirements(&wanted);
    if (wanted.cBuffers < 3)
        wanted.cBuffers = 3;
    if (wanted.cbAlign < 1)
        wanted.cbAlign = 1;
    wanted.cbBuffer = static_cast<LONG>(sent(format).imageSize());
    if (FAILED(input->GetAllocator(&allocator)) || !allocator) {
        allocator = nullptr;
        HRESULT created =
            CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IMemAllocator, reinterpret_cast<void **>(&allocator));
        if (FAILED(created))
            return created;
    }
    ALLOCATOR_PROPERTIES actual = {};
    HRESULT result = allocator->SetProperties(&wanted, &actual);
    if (SUCCEEDED(result) && actual.cbBuffer < wanted.cbBuffer)
        result = E_FAIL;
    if (SUCCEEDED(result))
        result = input->NotifyAllocator(allocator, FALSE);
    return result;
}

void OutputPin::dropConnection() {
    if (allocator)
        allocator->Release();
    if (input)
        input->Release();
    if (connected)
        connected->Release();
    allocator = nullptr;
    input = nullptr;
    connected = nullptr;
    freeMediaType(connectionType);
}

STDMETHODIMP OutputPin::ReceiveConnection(IPin *, const AM_MEDIA_TYPE *) { return E_UNEXPECTED; }

STDMETHODIMP OutputPin::Disconnect() {
    Locked locked(filter.lock);
    if (!filter.isStopped())
        return VFW_E_NOT_STOPPED;
    if (!connected)
        return S_FALSE;
    dropConnection();
    return S_OK;
}

STDMETHODIMP OutputPin::ConnectedTo(IPin **pin) {
    if (!pin)
        return E_POINTER;
    Locked locked(filter.lock);
    *pin = connected;
    if (!connected)
        return VFW_E_NOT_CONNECTED;
    connected->AddRef();
    return S_OK;
}

STDMETHODIMP OutputPin::ConnectionMediaType(AM_MEDIA_TYPE *type) {
    if (!type)
        return E_POINTER;
    Locked locked(filter.lock);
    if (!connected) {
        *type = {};
        return VFW_E_NOT_CONNECTED;
    }
    return copyMediaType(connectionType, type) ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP OutputPin::QueryPinInfo(PIN_INFO *info) {
    if (!info)
        return E_POINTER;
    info->pFilter = &filter;
    filter.AddRef();
    info->dir = PINDIR_OUTPUT;
    wcsncpy(info->achName, name, MAX_PIN_NAME - 1);
    info->achName[MAX_PIN_NAME - 1] = 0;
    return S_OK;
}

STDMETHODIMP OutputPin::QueryDirection(PIN_DIRECTION *direction) {
    if (!direction)
        return E_POINTER;
    *direction = PINDIR_OUTPUT;
    return S_OK;
}

STDMETHODIMP OutputPin::QueryId(LPWSTR *id) {
    if (!id)
        return E_POINTER;
    const size_t bytes = (wcslen(name) + 1) * sizeof(wchar_t);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*id)
        return E_OUTOFMEMORY;
    CopyMemory(*id, name, bytes);
    return S_OK;
}

STDMETHODIMP OutputPin::QueryAccept(const AM_MEDIA_TYPE *type) {
    if (!type)
        return E_POINTER;
    Format fitted;
    for (const Format &format : formats)
        if (fits(*type, format, &fitted))
            return S_OK;
    return S_FALSE;
}

STDMETHODIMP OutputPin::EnumMediaTypes(IEnumMediaTypes **types) {
    if (!types)
        return E_POINTER;
    *types = new (std::nothrow) TypeEnumerator(*this, 0);
    return *types ? S_OK : E_OUTOFMEMORY;
}

bool OutputPin::offeredType(ULONG index, AM_MEDIA_TYPE *type) const {
    if (index >= formats.size())
        return false;
    return describe(index == 0 ? active : formats[(current + index) % formats.size()], type);
}

STDMETHODIMP OutputPin::QueryInternalConnections(IPin **, ULONG *) { return E_NOTIMPL; }
STDMETHODIMP OutputPin::EndOfStream() { return E_UNEXPECTED; }
STDMETHODIMP OutputPin::BeginFlush() { return E_UNEXPECTED; }
STDMETHODIMP OutputPin::EndFlush() { return E_UNEXPECTED; }
STDMETHODIMP OutputPin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return S_OK; }

STDMETHODIMP OutputPin::Set(REFGUID, DWORD, void *, DWORD, void *, DWORD) {
    return E_PROP_ID_UNSUPPORTED;
}

STDMETHODIMP OutputPin::Get(REFGUID set, DWORD id, void *, DWORD, void *data, DWORD dataSize,
                            DWORD *returned) {
    if (set != AMPROPSETID_Pin)
        return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY)
        return E_PROP_ID_UNSUPPORTED;
    if (!data)
        return E_POINTER;
    if (dataSize < sizeof(GUID))
        return E_UNEXPECTED;
    *static_cast<GUID *>(data) = category;
    if (returned)
        *returned = sizeof(GUID);
    return S_OK;
}

STDMETHODIMP OutputPin::QuerySupported(REFGUID set, DWORD id, DWORD *support) {
    if (set != AMPROPSETID_Pin)
        return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY)
        return E_PROP_ID_UNSUPPORTED;
    if (support)
        *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

STDMETHODIMP OutputPin::SetFormat(AM_MEDIA_TYPE *type) {
    if (!type)
        return E_POINTER;
    Locked locked(filter.lock);
    Format fitted;
    for (size_t i = 0; i < formats.size(); ++i) {
        if (!fits(*type, formats[i], &fitted))
            continue;
        if (connected &&
            (i != current || fitted.width != active.width || fitted.height != active.height))
            return VFW_E_ALREADY_CONNECTED;
        current = i;
        active = fitted;
        formatChosen = true;
        return S_OK;
    }
    return VFW_E_INVALIDMEDIATYPE;
}

STDMETHODIMP OutputPin::GetFormat(AM_MEDIA_TYPE **type) {
    if (!type)
        return E_POINTER;
    Locked locked(filter.lock);
    *type = newMediaType(active);
    return *type ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP OutputPin::GetNumberOfCapabilities(int *count, int *size) {
    if (!count || !size)
        return E_POINTER;
    *count = static_cast<int>(formats.size());
    *size =
        formats[0].isAudio() ? sizeof(AUDIO_STREAM_CONFIG_CAPS) : sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

STDMETHODIMP OutputPin::GetStreamCaps(int index, AM_MEDIA_TYPE **type, BYTE *caps) {
    if (!type || !caps)
        return E_POINTER;
    if (index < 0 || static_cast<size_t>(index) >= formats.size())
        return S_FALSE;
    const Format &format = formats[static_cast<size_t>(index)];
    *type = newMediaType(format);
    if (!*type)
        return E_OUTOFMEMORY;
    if (format.isAudio()) {
        AUDIO_STREAM_CONFIG_CAPS &c = *reinterpret_cast<AUDIO_STREAM_CONFIG_CAPS *>(caps);
        c = {};
        c.guid = MEDIATYPE_Audio;
        c.MinimumChannels = c.MaximumChannels = c.ChannelsGranularity = 2;
        c.MinimumBitsPerSample = c.MaximumBitsPerSample = c.BitsPerSampleGranularity = 16;
        c.MinimumSampleFrequency = c.MaximumSampleFrequency = 44100;
        c.SampleFrequencyGranularity = 1;
        return S_OK;
    }
    // A fixed size, as many webcams list them, or a range on its steps.
    const bool range = format.step.cx > 0;
    VIDEO_STREAM_CONFIG_CAPS &c = *reinterpret_cast<VIDEO_STREAM_CONFIG_CAPS *>(caps);
    c = {};
    c.guid = (*type)->formattype;
    c.InputSize = {format.width, format.height};
    c.MinCroppingSize = c.MaxCroppingSize = c.InputSize;
    c.MinOutputSize = range ? format.smallest : c.InputSize;
    c.MaxOutputSize = c.InputSize;
    c.CropGranularityX = c.CropGranularityY = 1;
    c.CropAlignX = c.CropAlignY = 1;
    c.OutputGranularityX = range ? format.step.cx : 1;
    c.OutputGranularityY = range ? format.step.cy : 1;
    c.MinFrameInterval = c.MaxFrameInterval = frameDuration;
    c.MinBitsPerSecond =
        static_cast<LONG>(format.at(c.MinOutputSize.cx, c.MinOutputSize.cy).imageSize() * 8 * 30);
    c.MaxBitsPerSecond = static_cast<LONG>(format.imageSize() * 8 * 30);
    return S_OK;
}

bool OutputPin::streams() const { return category != PIN_CATEGORY_STILL && !formats[0].isAudio(); }

HRESULT OutputPin::startStreaming() {
    if (!input || !allocator || !streams())
        return S_OK;
    HRESULT result = allocator->Commit();
    if (FAILED(result))
        return result;
    if (!streamerStop)
        streamerStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!streamerStop)
        return E_OUTOFMEMORY;
    ResetEvent(streamerStop);
    streamer = CreateThread(nullptr, 0, streamMain, this, 0, nullptr);
    return streamer ? S_OK : E_OUTOFMEMORY;
}

void OutputPin::stopStreaming() {
    // Decommitting first frees a streaming thread waiting for a buffer.
    if (allocator)
        allocator->Decommit();
    if (!streamer)
        return;
    SetEvent(streamerStop);
    WaitForSingleObject(streamer, threadEndTimeout);
    CloseHandle(streamer);
    streamer = nullptr;
}

DWORD WINAPI OutputPin::streamMain(void *self) {
    static_cast<OutputPin *>(self)->stream();
    return 0;
}

void OutputPin::stream() {
    const ULONGLONG began = GetTickCount64();
    for (unsigned long frame = 0;; ++frame) {
        const ULONGLONG due = began + frame * 1000ull / 30;
        const ULONGLONG now = GetTickCount64();
        if (WaitForSingleObject(streamerStop, due > now ? static_cast<DWORD>(due - now) : 0) !=
            WAIT_TIMEOUT)
            return;
        if (filter.sending())
            deliver(filter.streamTime(frame));
    }
}

void OutputPin::deliver(REFERENCE_TIME start) {
    if (!input || !allocator)
        return;
    IMediaSample *sample = nullptr;
    if (FAILED(allocator->GetBuffer(&sample, nullptr, nullptr, 0)) || !sample)
        return;
    BYTE *data = nullptr;
    const LONG room = sample->GetSize();
    if (SUCCEEDED(sample->GetPointer(&data)) && room >= static_cast<LONG>(picture.size())) {
        CopyMemory(data, picture.data(), picture.size());
        sample->SetActualDataLength(static_cast<LONG>(picture.size()));
        REFERENCE_TIME end = start + frameDuration;
        sample->SetTime(&start, &end);
        sample->SetSyncPoint(TRUE);
        input->Receive(sample);
    }
    sample->Release();
}
