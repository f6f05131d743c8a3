// Runs the capture code against the DirectShow of the machine it runs on
// (Windows, Wine's on a build machine, or the Linux stand-in): the camera
// set-up, frame updates, and the DirectShow behaviour the program relies on,
// on the platform's own objects. Prints one line per failure, a few notes
// about what the platform answered, and a closing count; exits 0 only when
// every check passed. Where the stand-in answers otherwise on purpose, the
// check says so.

#include "capture/video_image.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <io.h>

// Defined in strmiids like the grabber's and renderer's identifiers, and
// likewise missing from mingw-w64's headers.
extern "C" const CLSID CLSID_SmartTee;
#else
#include <unistd.h>
#endif

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const std::string &what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL: %s\n", what.c_str());
    }
    std::fflush(stdout);
}

void note(const std::string &text) {
    std::printf("note: %s\n", text.c_str());
    std::fflush(stdout);
}

std::string hex(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX",
                  static_cast<unsigned long>(static_cast<uint32_t>(result)));
    return text;
}

// Collects what is written to a C runtime descriptor (1 or 2) while it lives,
// so that the check can read the program's own messages. A file, not a pipe:
// nothing has to drain it while the capture code runs.
class Captured {
  public:
    explicit Captured(int descriptor) : descriptor(descriptor) {
#ifdef _WIN32
        char directory[MAX_PATH];
        if (GetTempPathA(MAX_PATH, directory) == 0 ||
            GetTempFileNameA(directory, "cck", 0, path) == 0)
            return;
        file = std::fopen(path, "w+b");
#else
        file = std::tmpfile();
#endif
        if (!file)
            return;
        std::fflush(descriptor == 1 ? stdout : stderr);
        saved = dup(descriptor);
        dup2(fileno(file), descriptor);
    }

    Captured(const Captured &) = delete;
    Captured &operator=(const Captured &) = delete;

    ~Captured() {
        restore();
        if (file) {
            std::fclose(file);
            if (*path)
                std::remove(path);
        }
    }

    // Stops collecting and returns everything written.
    std::string text() {
        restore();
        std::string collected;
        if (!file)
            return collected;
        std::fseek(file, 0, SEEK_SET);
        char chunk[512];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
            collected.append(chunk, got);
        return collected;
    }

    // Whether collection started; asked before text() ends it.
    bool working() const { return file != nullptr && saved >= 0; }

  private:
    void restore() {
        if (saved < 0)
            return;
        std::fflush(descriptor == 1 ? stdout : stderr);
        dup2(saved, descriptor);
        close(saved);
        saved = -1;
    }

    int descriptor;
    char path[260] = "";
    FILE *file = nullptr;
    int saved = -1;
};

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> result;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        result.push_back(line);
        start = end + 1;
    }
    return result;
}

int countContaining(const std::vector<std::string> &all, const std::string &part) {
    int found = 0;
    for (const std::string &line : all)
        if (line.find(part) != std::string::npos)
            ++found;
    return found;
}

int countVideoInputDevices() {
    ICreateDevEnum *devices = nullptr;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, NULL, CLSCTX_INPROC, IID_ICreateDevEnum,
                                (void **)&devices)))
        return -1;
    IEnumMoniker *monikers = nullptr;
    HRESULT result = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    note("video input category: CreateClassEnumerator returned " + hex(result) +
         (monikers ? "" : " and no enumerator"));
    int count = 0;
    if (monikers) {
        IMoniker *moniker = nullptr;
        while (monikers->Next(1, &moniker, NULL) == S_OK) {
            ++count;
            moniker->Release();
        }
        monikers->Release();
    }
    devices->Release();
    return count;
}

bool inRange(const Pixel &pixel) {
    return pixel.r >= 0 && pixel.r <= 255 && pixel.g >= 0 && pixel.g <= 255 && pixel.b >= 0 &&
           pixel.b <= 255;
}

// The camera object as the program uses it: set-up messages, then frames,
// with CLOAKCAM_DEVICE set to `wanted` (empty: unset). Without a camera,
// `alone` is everything it may say on stderr.
void checkCamera(const char *wanted, const std::vector<std::string> &alone) {
    constexpr int width = 320;
    constexpr int height = 240;
    constexpr int count = width * height;
    const std::string which = std::string(" (CLOAKCAM_DEVICE=") + wanted + ")";
#ifdef _WIN32
    _putenv_s("CLOAKCAM_DEVICE", wanted);
#else
    setenv("CLOAKCAM_DEVICE", wanted, 1);
#endif

    // COM is left for the capture code to start, as the program does.
    Captured out(1);
    Captured err(2);
    const bool collecting = out.working() && err.working();
    const auto start = std::chrono::steady_clock::now();
    getVideoImage *camera = new getVideoImage(width, height);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    const std::vector<std::string> outLines = lines(out.text());
    check(collecting, "the program's output can be collected");

    const int devices = countVideoInputDevices();
    note("video input devices: " + std::to_string(devices));
    check(devices >= 0, "the system device enumerator can be created");

    note("set-up took " + std::to_string(took.count()) + " ms" + which);
    check(outLines == std::vector<std::string>{"celled getVideoImage int int"},
          "set-up prints exactly its one line on stdout" + which);

    Pixel **image = camera->getImage();
    std::vector<Pixel *> records(image, image + count);
    std::vector<Pixel> first;
    bool sameArray = true;
    bool sameRecords = true;
    bool allInRange = true;
    bool anyLit = false;
    bool moved = false;
    for (int pass = 0; pass < 30; ++pass) {
        // Callers may scribble over the records between frames; each update
        // must rewrite every one of them with a real colour.
        for (int i = 0; i < count; i += 7)
            *records[i] = Pixel{-1, 256, 100000};
        camera->updateImage();
        sameArray = sameArray && camera->getImage() == image;
        for (int i = 0; i < count; ++i) {
            sameRecords = sameRecords && image[i] == records[i];
            allInRange = allInRange && inRange(*records[i]);
            anyLit = anyLit || records[i]->r != 0 || records[i]->g != 0 || records[i]->b != 0;
            if (pass > 0)
                moved = moved || records[i]->r != first[i].r || records[i]->g != first[i].g ||
                        records[i]->b != first[i].b;
            else
                first.push_back(*records[i]);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // The graph is let go of with the object; nothing of it may keep the
    // process waiting.
    const auto ending = std::chrono::steady_clock::now();
    delete camera;
    const auto ended = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - ending);
    const std::vector<std::string> errLines = lines(err.text());
    for (const std::string &line : errLines)
        note("stderr: " + line);

    // The graph manager, the builder, the grabber and the null renderer come
    // with every Windows; failing to create one means a wrong identifier.
    check(countContaining(errLines, "cannot create") == 0 &&
              countContaining(errLines, "no grabbing interface") == 0,
          "every platform filter and helper object is created" + which);
    if (devices == 0) {
        check(errLines == alone, "without a camera, exactly the expected lines" + which);
        check(anyLit && moved, "without a camera the test pattern shows and moves" + which);
    } else if (devices > 0) {
        check(countContaining(errLines, "no camera found") == 0,
              "with a camera, set-up does not claim there is none" + which);
    }
    check(sameArray, "getImage returns the same array after every update");
    check(sameRecords, "every record stays at the same address across updates");
    check(allInRange, "every update leaves each component within 0..255");
    note("letting go of the graph took " + std::to_string(ended.count()) + " ms");
    check(ended.count() < 1000, "letting go of the graph takes under a second");
}

// The first pin of a direction in the filter's own order, found without the
// code under test.
IPin *firstPinByHand(IBaseFilter *filter, PIN_DIRECTION direction) {
    IEnumPins *pins = nullptr;
    if (FAILED(filter->EnumPins(&pins)) || !pins)
        return nullptr;
    IPin *pin = nullptr;
    while (pins->Next(1, &pin, NULL) == S_OK) {
        PIN_DIRECTION found;
        if (SUCCEEDED(pin->QueryDirection(&found)) && found == direction)
            break;
        pin->Release();
        pin = nullptr;
    }
    pins->Release();
    return pin;
}

bool samePin(IPin *a, IPin *b) {
    if (!a || !b)
        return false;
    IUnknown *identityA = nullptr;
    IUnknown *identityB = nullptr;
    a->QueryInterface(IID_IUnknown, (void **)&identityA);
    b->QueryInterface(IID_IUnknown, (void **)&identityB);
    const bool same = identityA && identityA == identityB;
    if (identityA)
        identityA->Release();
    if (identityB)
        identityB->Release();
    return same;
}

bool pinConnected(IPin *pin) {
    IPin *peer = nullptr;
    if (!pin || FAILED(pin->ConnectedTo(&peer)) || !peer)
        return false;
    peer->Release();
    return true;
}

// getPin returns the right pin of a real filter, with a reference of its own.
void checkPinOf(IBaseFilter *filter, const char *filterName, PIN_DIRECTION direction) {
    const std::string what =
        std::string(filterName) + (direction == PINDIR_INPUT ? " input" : " output");
    IPin *pin = getVideoImage::getPin(filter, direction);
    IPin *expected = firstPinByHand(filter, direction);
    PIN_DIRECTION found = direction == PINDIR_INPUT ? PINDIR_OUTPUT : PINDIR_INPUT;
    check(pin && SUCCEEDED(pin->QueryDirection(&found)) && found == direction,
          "getPin finds the " + what + " pin");
    check(samePin(pin, expected), "getPin takes the first " + what + " pin in the filter's order");
    if (pin)
        pin->Release();
    if (expected)
        expected->Release();
}

template <typename Interface> Interface *create(REFCLSID clsid, REFIID iid, const char *name) {
    Interface *object = nullptr;
    HRESULT result = CoCreateInstance(clsid, NULL, CLSCTX_INPROC_SERVER, iid, (void **)&object);
    check(SUCCEEDED(result) && object,
          std::string("the ") + name + " can be created (" + hex(result) + ")");
    return SUCCEEDED(result) ? object : nullptr;
}

// The pin search and filter connection on the platform's own filters.
void checkGraphHelpers() {
    IGraphBuilder *graph =
        create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder, "filter graph manager");
    IBaseFilter *nullRenderer =
        create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter, "null renderer");
    IBaseFilter *grabberFilter =
        create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter, "sample grabber");
    if (!graph || !nullRenderer || !grabberFilter)
        return;

    ISampleGrabber *grabber = nullptr;
    check(SUCCEEDED(grabberFilter->QueryInterface(IID_ISampleGrabber, (void **)&grabber)) &&
              grabber,
          "the sample grabber offers ISampleGrabber");
    if (grabber) {
        // The program polls this until a frame arrives: it must not claim a
        // frame before one came, whatever it does with the size.
        grabber->SetBufferSamples(TRUE);
        LONG size = 12345;
        const HRESULT result = grabber->GetCurrentBuffer(&size, nullptr);
        note("GetCurrentBuffer on an unconnected grabber returned " + hex(result) + ", size " +
             std::to_string(size));
        check(result != S_OK, "an unconnected grabber reports no frame");
        grabber->Release();
    }

    IPin *sentinel = reinterpret_cast<IPin *>(static_cast<uintptr_t>(0x5a5a5a5a));
    IPin *pin = sentinel;
    check(getVideoImage::findPin(nullRenderer, PINDIR_OUTPUT, &pin) == E_FAIL,
          "findPin fails for the null renderer's missing output");
    check(pin == sentinel, "a failed findPin leaves the caller's pointer alone");
    check(getVideoImage::getPin(nullRenderer, PINDIR_OUTPUT) == nullptr,
          "getPin gives no output pin of the null renderer");
    checkPinOf(nullRenderer, "null renderer", PINDIR_INPUT);
    checkPinOf(grabberFilter, "sample grabber", PINDIR_INPUT);
    checkPinOf(grabberFilter, "sample grabber", PINDIR_OUTPUT);
#ifdef _WIN32
    // The only stock filter with two pins of one direction (capture, then
    // preview), so the only one that tells the first match from a later one.
    // The stand-in builds only the filters the program uses.
    if (IBaseFilter *tee = create<IBaseFilter>(CLSID_SmartTee, IID_IBaseFilter, "smart tee")) {
        checkPinOf(tee, "smart tee", PINDIR_OUTPUT);
        tee->Release();
    }
#endif

    graph->AddFilter(grabberFilter, L"Grabber");
    graph->AddFilter(nullRenderer, L"NullRenderer");
    check(getVideoImage::connectFilters(graph, nullRenderer, grabberFilter) == E_FAIL,
          "connectFilters fails from a filter without outputs");

    IPin *grabberOut = firstPinByHand(grabberFilter, PINDIR_OUTPUT);
    IPin *rendererIn = firstPinByHand(nullRenderer, PINDIR_INPUT);
    const HRESULT result = getVideoImage::connectFilters(graph, grabberFilter, nullRenderer);
    note("connectFilters(grabber, null renderer) with the grabber's input unconnected returned " +
         hex(result));
    if (SUCCEEDED(result)) {
        IPin *peer = nullptr;
        check(grabberOut && SUCCEEDED(grabberOut->ConnectedTo(&peer)) && samePin(peer, rendererIn),
              "connectFilters joins the grabber's output to the renderer's input");
        if (peer)
            peer->Release();
    } else {
        // The only acceptable reason is the grabber having no format to offer
        // until its input is connected.
        check(result == VFW_E_NOT_CONNECTED || result == VFW_E_CANNOT_CONNECT ||
                  result == VFW_E_NO_ACCEPTABLE_TYPES || result == VFW_E_TYPE_NOT_ACCEPTED,
              "connectFilters fails only for want of a format (" + hex(result) + ")");
        check(!pinConnected(grabberOut) && !pinConnected(rendererIn),
              "a failed connectFilters leaves both pins unconnected");
    }
    if (grabberOut)
        grabberOut->Release();
    if (rendererIn)
        rendererIn->Release();

    // The graph lets go of its filters when it goes.
    check(graph->Release() == 0, "the last Release of the graph returns 0");
    check(grabberFilter->Release() == 0, "the last Release of the grabber returns 0");
    check(nullRenderer->Release() == 0, "the last Release of the null renderer returns 0");
}

// What the program relies on of the graph, the enumerator, pins and the
// grabber before anything streams.
void checkIdleObjects() {
    ICreateDevEnum *devices =
        create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum, "device enumerator");
    IGraphBuilder *graph =
        create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder, "filter graph manager");
    IBaseFilter *grabberFilter =
        create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter, "sample grabber");
    if (!devices || !graph || !grabberFilter)
        return;

    IEnumMoniker *monikers = reinterpret_cast<IEnumMoniker *>(1);
    check(devices->CreateClassEnumerator(CLSID_SampleGrabber, &monikers, 0) == S_FALSE && !monikers,
          "a category nothing is in has S_FALSE and no enumerator");

    IMediaControl *control = nullptr;
    IMediaEventEx *events = nullptr;
    graph->QueryInterface(IID_IMediaControl, (void **)&control);
    graph->QueryInterface(IID_IMediaEventEx, (void **)&events);
    OAFilterState state = State_Running;
    check(control && control->GetState(0, &state) == S_OK && state == State_Stopped,
          "a new graph is stopped");
    LONG code = 0;
    LONG_PTR param1 = 0, param2 = 0;
    check(events && events->GetEvent(&code, &param1, &param2, 0) == E_ABORT,
          "a graph with nothing to tell answers GetEvent with E_ABORT");

    IPin *input = firstPinByHand(grabberFilter, PINDIR_INPUT);
    IPin *peer = reinterpret_cast<IPin *>(1);
    check(input && input->ConnectedTo(&peer) == VFW_E_NOT_CONNECTED && !peer,
          "an unconnected pin has no peer");
    ISampleGrabber *grabber = nullptr;
    grabberFilter->QueryInterface(IID_ISampleGrabber, (void **)&grabber);
    AM_MEDIA_TYPE type = {};
    check(grabber && grabber->GetConnectedMediaType(&type) == VFW_E_NOT_CONNECTED,
          "an unconnected grabber has no media type");

    for (IUnknown *used : {static_cast<IUnknown *>(input), static_cast<IUnknown *>(grabber),
                           static_cast<IUnknown *>(control), static_cast<IUnknown *>(events)})
        if (used)
            used->Release();
    check(graph->Release() == 0, "the last Release of an idle graph returns 0");
    check(grabberFilter->Release() == 0, "the last Release of an idle grabber returns 0");
    const ULONG left = devices->Release();
#ifdef _WIN32
    // Wine's enumerator is one object for the whole process, counted as it likes.
    note("the device enumerator's last Release returned " + std::to_string(left));
#else
    check(left == 0, "the last Release of the device enumerator returns 0");
#endif
}

} // namespace

int main() {
    // The capture code runs COM on a camera thread of its own; the checks'
    // own calls need it on this one.
    CoInitialize(NULL);
    checkCamera("", {"cloakcam: no camera found, showing a test pattern"});
    checkCamera("pattern", {});
    checkCamera("Nowhere", {"cloakcam: no camera called Nowhere, and no camera found: showing "
                            "a test pattern"});
    checkGraphHelpers();
    checkIdleObjects();
    std::printf("capture_check: %d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}
