#include "capture/video_image.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "capture/camera_list.h"
#include "common/message.h"

namespace {

// How long a quit waits for the camera thread to let go of the camera: a
// driver stuck in a call for longer is left to the end of the process.
constexpr int quitWait = 700;
// How often the camera thread looks at the graph, its events and pictures.
constexpr std::chrono::milliseconds cameraTurn{5};
// How often the test pattern is drawn: a display's refresh is the most a
// window shows.
constexpr double patternInterval = 1.0 / 60;
// How long the events after an abort are waited for, as one burst.
constexpr LONG burstWait = 100;

// Windows delivers the graph's notifications to the thread that made it as
// window messages: the camera thread answers them between its turns.
void pumpThreadMessages() {
#ifdef _WIN32
    MSG message;
    while (PeekMessage(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessage(&message);
    }
#endif
}

// Ends the process at once: what a stuck driver holds goes with it.
[[noreturn]] void leaveCameraBehind() {
    std::fflush(nullptr);
    _exit(0);
}

// Seconds since the program's camera object was made: the pattern's ball
// starts its path at the same place on every run.
double secondsSinceStart() {
    static const CameraSession::Millis origin = steadyNow();
    return static_cast<double>(steadyNow() - origin) / 1000;
}

} // namespace

void recordsFromBgr(const unsigned char *frame, long frameSize, Pixel *const *pixels, int count) {
    long size = frameSize < 0 ? 0 : frameSize;
    if (size > 3L * count)
        size = 3L * count;
    // Record i takes the i-th 3-byte group counted from the end of the data:
    // the frame is stored bottom row first, so walking it backwards gives the
    // top row first and each row right to left.
    const int delivered = static_cast<int>(size / 3);
    const unsigned char *group = frame + size;
    int i = 0;
    for (; i < delivered; ++i) {
        group -= 3;
        *pixels[i] = Pixel{group[2], group[1], group[0]};
    }
    for (; i < count; ++i)
        *pixels[i] = Pixel{0, 0, 0};
}

getVideoImage::getVideoImage(int width, int height)
    : width(width), height(height), session(wantedCamera(), tellUser), counter(new SampleCounter),
      handover(3L * width * height) {
    count = width * height;
    pixels = new Pixel *[count];
    for (int i = 0; i < count; ++i)
        pixels[i] = new Pixel;
    bufferSize = count * 3;
    secondsSinceStart();
    // Black until the camera delivers its first picture. The size goes through
    // ULONG: GCC cannot see that a LONG product of the frame size is never
    // negative and refuses (-Walloc-size-larger-than) a size that could be.
    buffer = new unsigned char[static_cast<ULONG>(bufferSize)]();
    camera = std::thread(&getVideoImage::runCamera, this);
    std::printf("celled getVideoImage int int\n");
    // Whoever watches our output through a pipe learns at once that the
    // camera is up, not when the program ends.
    std::fflush(stdout);
}

getVideoImage::~getVideoImage() {
    stopping = true;
    cameraWake.notify_all();
    if (!cameraThreadEnded(quitWait))
        leaveCameraBehind();
    camera.join();
    counter->Release();
    for (int i = 0; i < count; ++i)
        delete pixels[i];
    delete[] pixels;
    delete[] buffer;
}

void getVideoImage::updateImage() {
    long size = bufferSize;
    if (handover.takePicture(&buffer, &size, &newSource_))
        bufferSize = static_cast<LONG>(size);
    handover.takeStatus(&title_, &awaiting_);
    // Without a new picture the last one stays in the buffer.
    recordsFromBgr(buffer, bufferSize, pixels, count);
}

Pixel **getVideoImage::getImage() { return pixels; }

bool getVideoImage::awaitingFirstPicture() {
    handover.takeStatus(&title_, &awaiting_);
    return awaiting_;
}

void getVideoImage::runCamera() {
    buildGraph(width, height);
    session.graphBuilt(steadyNow());
    while (!stopping) {
        cameraStep();
        std::unique_lock<std::mutex> lock(cameraMutex);
        cameraWake.wait_for(lock, cameraTurn, [this] { return stopping.load(); });
    }
    releaseGraph();
    if (comInitialised)
        CoUninitialize();
    std::lock_guard<std::mutex> lock(cameraMutex);
    cameraEnded = true;
    cameraWake.notify_all();
}

bool getVideoImage::cameraThreadEnded(int millis) {
    std::unique_lock<std::mutex> lock(cameraMutex);
    return cameraWake.wait_for(lock, std::chrono::milliseconds(millis),
                               [this] { return cameraEnded; });
}

void getVideoImage::cameraStep() {
    pumpThreadMessages();
    handleEvents();
    session.samplesCounted(counter->samples(), steadyNow());
    carryOut(session.next(steadyNow()));
    LONG size = 0;
    if (pattern) {
        const double now = secondsSinceStart();
        if (now >= patternDue) {
            patternDue = now + patternInterval;
            pattern->draw(handover.nextPicture(), now);
            handOver(3L * count);
        }
    } else if (session.state() != CameraStatus::State::Lost && fetchFrame(&size)) {
        handOver(size);
    }
    handOverStatus();
}

void getVideoImage::handOver(long size) {
    handedOver = true;
    session.pictureShown();
    handover.publishPicture(size, session.newSource());
}

void getVideoImage::handOverStatus() {
    // The pattern's first picture is as good as there: it is drawn at once.
    handover.publishStatus(session.title(), session.awaitingFirstPicture(steadyNow()) ||
                                                (session.showsPattern() && !handedOver));
}

bool getVideoImage::fetchFrame(LONG *size) {
    const unsigned long samples = counter->samples();
    if (!grabber || !captureFilter || samples == samplesHandedOver)
        return false;
    if (!cameraFrame.fetch(grabber, samples, handover.nextPicture(), size)) {
        // Pictures keep coming that cannot be shown: said, not left black.
        if (cameraFrame.unreadableBytes() != 0)
            session.failed(unreadableReason(cameraFrame.unreadableBytes()),
                           CameraSession::Retry::WhenCamerasChange, steadyNow());
        return false;
    }
    samplesHandedOver = samples;
    session.cameraPicture();
    return true;
}

void getVideoImage::handleEvents() {
    if (!events)
        return;
    struct Event {
        LONG code;
        LONG_PTR param1, param2;
    };
    // Taken a burst at a time, so that an unplug wins over the read error
    // that came a moment before it: after an abort, whatever follows within
    // a tenth of a second belongs to the same burst.
    Event burst[16];
    int count = 0;
    bool unplugged = false;
    bool aborted = false;
    LONG code;
    LONG_PTR param1, param2;
    while (count < 16 && events->GetEvent(&code, &param1, &param2,
                                          aborted && !unplugged ? burstWait : 0) == S_OK) {
        burst[count++] = {code, param1, param2};
        unplugged = unplugged || (code == EC_DEVICE_LOST && param2 == 0);
        aborted = aborted || code == EC_ERRORABORT;
        events->FreeEventParams(code, param1, param2);
    }
    if (unplugged)
        session.unplugged(steadyNow());
    for (int i = 0; i < count; ++i) {
        const Event &event = burst[i];
        const HRESULT error = static_cast<HRESULT>(event.param1);
        if (event.code == EC_ERRORABORT)
            session.failed(reasonFor(error), retryAfter(error), steadyNow());
        else if (event.code == EC_COMPLETE)
            session.stoppedSending(steadyNow());
        else if (event.code == EC_DEVICE_LOST && event.param2 != 0)
            session.pluggedBack(steadyNow());
    }
}

void getVideoImage::carryOut(CameraSession::Order order) {
    switch (order) {
    case CameraSession::Order::None:
        return;
    case CameraSession::Order::Stop:
        // A lost camera's filter is of no more use: stopping lets go of the
        // device, so that it can come back.
        stopGraph();
        return;
    case CameraSession::Order::LookForCameras: {
        bool complete = true;
        const std::vector<CameraName> cameras = listCamerasNow(&complete);
        carryOut(session.camerasListed(cameras, steadyNow(), complete));
        return;
    }
    case CameraSession::Order::Rebuild:
        // Not while the old graph is still stopping: a camera stuck there
        // would hold up the new graph too, and each attempt would leave more
        // waiting. The order stands until the graph has settled.
        if (graphStillChanging())
            return;
        releaseGraph();
        buildGraph(width, height);
        samplesHandedOver = counter->samples();
        session.rebuilt(steadyNow());
        return;
    }
}
