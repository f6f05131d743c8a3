#include "capture/video_image.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

// How long the camera's first picture is waited for. Cameras take a moment to
// start; without the wait the automatic reference, taken a few passes after
// start, would be a black frame.
constexpr auto firstPictureTimeout = std::chrono::seconds(5);
// A camera that sends nothing for this long has stopped: the slowest cameras,
// in poor light, still give a few pictures a second. A camera service that
// dies (PipeWire) says nothing else.
constexpr auto stallTimeout = std::chrono::seconds(3);
// How often a lost camera, or one to replace the pattern, is looked for.
// Device monitors tell of most returns at once; this catches the rest (a
// camera service restarted, a camera listed again that did not start).
constexpr auto retryInterval = std::chrono::seconds(2);

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
    : width(width), height(height), started(std::chrono::steady_clock::now()),
      counter(new SampleCounter) {
    count = width * height;
    pixels = new Pixel *[count];
    for (int i = 0; i < count; ++i)
        pixels[i] = new Pixel;
    bufferSize = count * 3;
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
    counter->Release();
    for (int i = 0; i < count; ++i)
        delete pixels[i];
    delete[] pixels;
    delete[] buffer;
}

void getVideoImage::updateImage() {
    handleEvents();
    noticeStall();
    retryCamera();
    bool fetched = false;
    if (pattern) {
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
        pattern->draw(buffer, elapsed.count());
        bufferSize = count * 3;
        fetched = true;
    } else if (status.state() != CameraStatus::State::Lost) {
        fetched = fetchFrame();
    }
    sourceChanged = fetched && shownSource.shown(pattern != nullptr, camera.path);
    // A fetch that brought nothing leaves the last picture in the buffer.
    convertFrame(buffer, bufferSize, pixels, count);
}

Pixel **getVideoImage::getImage() { return pixels; }

bool getVideoImage::fetchFrame() {
    if (!grabber || !captureFilter || !cameraConnected)
        return false;
    if (drawnAsIs()) {
        // Every fetch is offered the whole buffer: a short sample must not
        // make the next full-size one look too large to fit.
        LONG size = count * 3;
        if (grabber->GetCurrentBuffer(&size, reinterpret_cast<LONG *>(buffer)) != S_OK)
            return false;
        bufferSize = size;
    } else {
        LONG size = static_cast<LONG>(frame.size());
        if (size == 0 ||
            grabber->GetCurrentBuffer(&size, reinterpret_cast<LONG *>(frame.data())) != S_OK)
            return false;
        convertCameraFrame(frame.data(), size, layout, buffer, width, height);
        bufferSize = count * 3;
    }
    say(status.pictureArrived());
    return true;
}

void getVideoImage::handleEvents() {
    if (!events)
        return;
    bool rebuild = false;
    LONG code;
    LONG_PTR param1, param2;
    while (events->GetEvent(&code, &param1, &param2, 0) == S_OK) {
        if (code == EC_ERRORABORT)
            lose(reasonFor(static_cast<HRESULT>(param1)));
        else if (code == EC_COMPLETE)
            lose("it stopped sending pictures");
        else if (code == EC_DEVICE_LOST && param2 == 0)
            lose("it was unplugged");
        else if (code == EC_DEVICE_LOST)
            rebuild = status.returned() || rebuild;
        events->FreeEventParams(code, param1, param2);
    }
    // A camera that returns is a new device to the system: the old filter
    // cannot use it, so the graph is built afresh.
    if (rebuild)
        rebuildGraph();
}

void getVideoImage::noticeStall() {
    const auto now = std::chrono::steady_clock::now();
    const unsigned long samples = counter->samples();
    if (samples != samplesSeen) {
        samplesSeen = samples;
        lastSampleAt = now;
        return;
    }
    const CameraStatus::State state = status.state();
    // A camera back from a loss gets as long to send its first picture.
    if ((state == CameraStatus::State::Streaming || state == CameraStatus::State::Returning) &&
        now - lastSampleAt > stallTimeout)
        lose("it stopped sending pictures");
}

void getVideoImage::lose(const std::string &reason) {
    const bool wasLost = status.state() == CameraStatus::State::Lost;
    say(status.lose(reason));
    // A lost camera's filter is of no more use: stopping lets go of the
    // device, so that it can come back.
    if (!wasLost && status.state() == CameraStatus::State::Lost) {
        stopGraph();
        lastAttempt = std::chrono::steady_clock::now();
    }
}

void getVideoImage::retryCamera() {
    const CameraStatus::State state = status.state();
    if (!waitingForCamera && state != CameraStatus::State::Lost &&
        state != CameraStatus::State::Returning)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastAttempt < retryInterval)
        return;
    lastAttempt = now;
    const std::vector<CameraName> names = listCamerasNow();
    if (unusable && names == listed)
        return;
    if (!lookForCamera(names))
        return;
    status.returned();
    rebuildGraph();
}

void getVideoImage::rebuildGraph() {
    if (graphStillChanging())
        return;
    releaseGraph();
    buildGraph(width, height);
    lastAttempt = std::chrono::steady_clock::now();
    lastSampleAt = lastAttempt;
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

bool getVideoImage::awaitingFirstPicture() {
    if (firstPictureAwaited || status.state() != CameraStatus::State::Starting)
        return false;
    handleEvents();
    // A camera that gave up has had its say; there is nothing to wait for.
    if (status.state() != CameraStatus::State::Starting || fetchFrame())
        return false;
    if (std::chrono::steady_clock::now() - started < firstPictureTimeout)
        return true;
    firstPictureAwaited = true;
    say(status.noPictureWithin(static_cast<int>(firstPictureTimeout.count())));
    return false;
}

void getVideoImage::say(const std::string &line) {
    if (!line.empty())
        std::fprintf(stderr, "%s\n", line.c_str());
}
