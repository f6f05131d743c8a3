#include "capture/video_image.h"

#include <chrono>
#include <cstdio>

#include "capture/camera_list.h"
#include "common/message.h"

namespace {

// Seconds since the program's camera object was made: the pattern's ball
// starts its path at the same place on every run.
double secondsSinceStart() {
    static const CameraSession::Millis origin = steadyNow();
    return static_cast<double>(steadyNow() - origin) / 1000;
}

} // namespace

void convertFrame(const unsigned char *frame, long frameSize, Pixel *const *pixels, int count) {
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
    : width(width), height(height), session(wantedCamera(), tellUser), counter(new SampleCounter) {
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
    buildGraph(width, height);
    std::printf("celled getVideoImage int int\n");
    // Whoever watches our output through a pipe learns at once that the
    // camera is up, not when the program ends.
    std::fflush(stdout);
}

getVideoImage::~getVideoImage() {
    releaseGraph();
    if (comInitialised)
        CoUninitialize();
    counter->Release();
    for (int i = 0; i < count; ++i)
        delete pixels[i];
    delete[] pixels;
    delete[] buffer;
}

void getVideoImage::updateImage() {
    handleEvents();
    session.samplesCounted(counter->samples(), steadyNow());
    carryOut(session.next(steadyNow()));
    bool fetched = false;
    if (pattern) {
        pattern->draw(buffer, secondsSinceStart());
        bufferSize = count * 3;
        fetched = true;
    } else if (session.state() != CameraStatus::State::Lost) {
        fetched = fetchFrame();
    }
    if (fetched)
        session.pictureShown();
    // A fetch that brought nothing leaves the last picture in the buffer.
    convertFrame(buffer, bufferSize, pixels, count);
}

Pixel **getVideoImage::getImage() { return pixels; }

bool getVideoImage::awaitingFirstPicture() {
    if (session.state() != CameraStatus::State::Starting)
        return false;
    handleEvents();
    fetchFrame();
    return session.awaitingFirstPicture(steadyNow());
}

bool getVideoImage::fetchFrame() {
    if (!grabber || !captureFilter ||
        !cameraFrame.fetch(grabber, counter->samples(), buffer, &bufferSize))
        return false;
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
    // the same pull gave a moment before.
    Event burst[16];
    int count = 0;
    bool unplugged = false;
    LONG code;
    LONG_PTR param1, param2;
    while (count < 16 && events->GetEvent(&code, &param1, &param2, 0) == S_OK) {
        burst[count++] = {code, param1, param2};
        unplugged = unplugged || (code == EC_DEVICE_LOST && param2 == 0);
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
        session.rebuilt(steadyNow());
        return;
    }
}
