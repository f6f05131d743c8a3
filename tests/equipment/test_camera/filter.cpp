#include "filter.h"

#include "enumerators.h"
#include "registration.h"

#include <new>

namespace {

constexpr REFERENCE_TIME frameDuration = 10000000 / 30;
// Every wait on the camera's own threads is bounded.
constexpr DWORD threadEndTimeout = 2000;

std::wstring readText(IPropertyBag *bag, const wchar_t *property) {
    VARIANT value;
    VariantInit(&value);
    std::wstring text;
    if (SUCCEEDED(bag->Read(property, &value, nullptr)) && value.vt == VT_BSTR && value.bstrVal)
        text = value.bstrVal;
    VariantClear(&value);
    return text;
}

void endThread(HANDLE &thread, HANDLE stop) {
    if (!thread)
        return;
    SetEvent(stop);
    WaitForSingleObject(thread, threadEndTimeout);
    CloseHandle(thread);
    thread = nullptr;
}

// One device per device key on the machine, as a driver has it.
std::wstring deviceName(const std::wstring &camera) {
    std::wstring name = L"cloakcam-test-camera-" + camera;
    for (wchar_t &c : name)
        if (c == L'\\')
            c = L'/';
    return name;
}

} // namespace

TestCameraFilter::TestCameraFilter() { InitializeCriticalSection(&lock); }

TestCameraFilter::~TestCameraFilter() {
    endThread(watcher, watcherStop);
    Stop();
    pins.clear();
    if (clock)
        clock->Release();
    if (device)
        CloseHandle(device);
    if (watcherStop)
        CloseHandle(watcherStop);
    DeleteCriticalSection(&lock);
}

STDMETHODIMP TestCameraFilter::QueryInterface(REFIID iid, void **object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IPersist || iid == IID_IMediaFilter ||
        iid == IID_IBaseFilter)
        return handOut(static_cast<IBaseFilter *>(this), object);
    if (iid == IID_IPersistPropertyBag)
        return handOut(static_cast<IPersistPropertyBag *>(this), object);
    return E_NOINTERFACE;
}

STDMETHODIMP TestCameraFilter::GetClassID(CLSID *id) {
    if (!id)
        return E_POINTER;
    *id = CLSID_CloakcamTestCamera;
    return S_OK;
}

// What a camera that refuses to start says, until its control file allows it.
HRESULT TestCameraFilter::refusal() {
    if (behaviour.refusal == S_OK || readPlug(key) == Plug::Allowed)
        return S_OK;
    return behaviour.refusal;
}

// The device is taken on the way out of Stopped: a second graph's Pause or
// Run fails as it does with a real camera in use.
HRESULT TestCameraFilter::takeDevice() {
    if (unplugged)
        return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    if (!device)
        device = CreateSemaphoreW(nullptr, 1, 1, deviceName(key).c_str());
    if (!device)
        return HRESULT_FROM_WIN32(GetLastError());
    if (WaitForSingleObject(device, 0) != WAIT_OBJECT_0)
        return HRESULT_FROM_WIN32(ERROR_BUSY);
    return S_OK;
}

STDMETHODIMP TestCameraFilter::Pause() {
    // Outside the lock, as a driver waits on its device, not on the graph.
    if (isStopped())
        Sleep(behaviour.slowStart);
    EnterCriticalSection(&lock);
    HRESULT result = S_OK;
    if (state == State_Stopped) {
        result = refusal();
        if (SUCCEEDED(result))
            result = takeDevice();
        const bool taken = SUCCEEDED(result);
        for (size_t i = 0; SUCCEEDED(result) && i < pins.size(); ++i)
            result = pins[i]->startStreaming();
        if (FAILED(result) && taken)
            stopStreaming();
    }
    if (SUCCEEDED(result)) {
        running = 0;
        state = State_Paused;
    }
    LeaveCriticalSection(&lock);
    // Wine's graph keeps the renderer's S_FALSE from Run and drops a later
    // failure, so the owner would never learn why nothing comes: a driver that
    // cannot start says so through the graph's events as well.
    if (FAILED(result))
        notifyGraph(EC_ERRORABORT, result, 0);
    return result;
}

STDMETHODIMP TestCameraFilter::Run(REFERENCE_TIME start) {
    if (isStopped()) {
        const HRESULT paused = Pause();
        if (FAILED(paused))
            return paused;
    }
    EnterCriticalSection(&lock);
    startTime = start;
    state = State_Running;
    running = 1;
    LeaveCriticalSection(&lock);
    return S_OK;
}

STDMETHODIMP TestCameraFilter::Stop() {
    EnterCriticalSection(&lock);
    if (state != State_Stopped)
        stopStreaming();
    state = State_Stopped;
    LeaveCriticalSection(&lock);
    return S_OK;
}

void TestCameraFilter::stopStreaming() {
    running = 0;
    for (auto &pin : pins)
        pin->stopStreaming();
    if (device)
        ReleaseSemaphore(device, 1, nullptr);
}

STDMETHODIMP TestCameraFilter::GetState(DWORD, FILTER_STATE *current) {
    if (!current)
        return E_POINTER;
    *current = state;
    // A live source has nothing to show while paused.
    return state == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

STDMETHODIMP TestCameraFilter::SetSyncSource(IReferenceClock *newClock) {
    EnterCriticalSection(&lock);
    if (newClock)
        newClock->AddRef();
    if (clock)
        clock->Release();
    clock = newClock;
    LeaveCriticalSection(&lock);
    return S_OK;
}

STDMETHODIMP TestCameraFilter::GetSyncSource(IReferenceClock **current) {
    if (!current)
        return E_POINTER;
    EnterCriticalSection(&lock);
    *current = clock;
    if (clock)
        clock->AddRef();
    LeaveCriticalSection(&lock);
    return S_OK;
}

STDMETHODIMP TestCameraFilter::EnumPins(IEnumPins **list) {
    if (!list)
        return E_POINTER;
    *list = new (std::nothrow) PinEnumerator(*this, 0);
    return *list ? S_OK : E_OUTOFMEMORY;
}

IPin *TestCameraFilter::pin(size_t index) {
    IPin *found = pins[index].get();
    found->AddRef();
    return found;
}

STDMETHODIMP TestCameraFilter::FindPin(LPCWSTR id, IPin **found) {
    if (!id || !found)
        return E_POINTER;
    *found = nullptr;
    for (size_t i = 0; i < pins.size(); ++i) {
        LPWSTR pinId = nullptr;
        if (SUCCEEDED(pins[i]->QueryId(&pinId)) && wcscmp(pinId, id) == 0)
            *found = pin(i);
        CoTaskMemFree(pinId);
    }
    return *found ? S_OK : VFW_E_NOT_FOUND;
}

STDMETHODIMP TestCameraFilter::QueryFilterInfo(FILTER_INFO *info) {
    if (!info)
        return E_POINTER;
    EnterCriticalSection(&lock);
    wcsncpy(info->achName, nameInGraph.c_str(), MAX_FILTER_NAME - 1);
    info->achName[MAX_FILTER_NAME - 1] = 0;
    info->pGraph = graph;
    if (graph)
        graph->AddRef();
    LeaveCriticalSection(&lock);
    return S_OK;
}

// The graph owns its filters; a filter holds no reference back.
STDMETHODIMP TestCameraFilter::JoinFilterGraph(IFilterGraph *newGraph, LPCWSTR newName) {
    EnterCriticalSection(&lock);
    graph = newGraph;
    nameInGraph = newName ? newName : L"";
    LeaveCriticalSection(&lock);
    return S_OK;
}

STDMETHODIMP TestCameraFilter::QueryVendorInfo(LPWSTR *) { return E_NOTIMPL; }

STDMETHODIMP TestCameraFilter::InitNew() { return S_OK; }

STDMETHODIMP TestCameraFilter::Load(IPropertyBag *bag, IErrorLog *) {
    if (!bag)
        return E_POINTER;
    if (!pins.empty())
        return E_UNEXPECTED;
    name = readText(bag, L"FriendlyName");
    formatText = readText(bag, L"Formats");
    behaviour = parseBehaviour(formatText);
    key = deviceKey(name, behaviour);
    noteBound(key);
    Sleep(behaviour.slowBind);
    const std::vector<Format> formats = parseFormats(formatText);
    // As capture cards with sound and cameras with a snapshot button list
    // them: neither is the pin that streams video.
    if (behaviour.pinsFirst) {
        pins.emplace_back(new OutputPin(*this, PIN_CATEGORY_CAPTURE, L"Audio", {audioFormat()}));
        pins.emplace_back(new OutputPin(*this, PIN_CATEGORY_STILL, L"Still", formats));
    }
    pins.emplace_back(
        new OutputPin(*this, PIN_CATEGORY_CAPTURE, L"Capture", formats, behaviour.strictConnect));
    if (behaviour.preview)
        pins.emplace_back(new OutputPin(*this, PIN_CATEGORY_PREVIEW, L"Preview", formats));
    watcherStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (watcherStop)
        watcher = CreateThread(nullptr, 0, watchMain, this, 0, nullptr);
    return S_OK;
}

STDMETHODIMP TestCameraFilter::Save(IPropertyBag *, BOOL, BOOL) { return E_NOTIMPL; }

REFERENCE_TIME TestCameraFilter::streamTime(unsigned long frame) {
    REFERENCE_TIME now = 0;
    EnterCriticalSection(&lock);
    const bool clocked = clock && SUCCEEDED(clock->GetTime(&now));
    const REFERENCE_TIME start = startTime;
    LeaveCriticalSection(&lock);
    return clocked ? now - start : static_cast<REFERENCE_TIME>(frame) * frameDuration;
}

DWORD WINAPI TestCameraFilter::watchMain(void *self) {
    // The category is changed through COM objects of this thread's own.
    const HRESULT started = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    static_cast<TestCameraFilter *>(self)->watch();
    if (SUCCEEDED(started))
        CoUninitialize();
    return 0;
}

// Polls the control file ten times a second. An unplugged camera is gone for
// this filter: when it returns, it is a new device for a new filter.
void TestCameraFilter::watch() {
    while (WaitForSingleObject(watcherStop, 100) == WAIT_TIMEOUT) {
        const Plug plug = readPlug(key);
        silent = plug == Plug::Silent;
        if (plug == Plug::Out && !unplugged) {
            unplugged = 1;
            unregisterCamera(name, formatText);
            // The read under way fails first, then the device goes.
            if (behaviour.burst)
                notifyGraph(EC_ERRORABORT, HRESULT_FROM_WIN32(ERROR_GEN_FAILURE), 0);
            tellGraph(0);
        } else if (plug != Plug::Out && unplugged) {
            registerCamera(name, formatText);
            tellGraph(1);
            return;
        }
    }
}

void TestCameraFilter::tellGraph(LONG_PTR returned) {
    notifyGraph(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter *>(this)),
                returned);
}

void TestCameraFilter::notifyGraph(LONG code, LONG_PTR param1, LONG_PTR param2) {
    EnterCriticalSection(&lock);
    IMediaEventSink *sink = nullptr;
    if (graph &&
        SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void **>(&sink)))) {
        sink->Notify(code, param1, param2);
        sink->Release();
    }
    LeaveCriticalSection(&lock);
}
