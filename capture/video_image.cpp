#include "capture/video_image.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

// How long the constructor waits for the camera's first picture. Cameras take
// a moment to start; without the wait the automatic reference, taken a few
// passes after start, would be a black frame.
constexpr auto firstFrameTimeout = std::chrono::seconds(5);
constexpr auto firstFramePoll = std::chrono::milliseconds(10);

// Whether the graph said that streaming stopped with an error; takes every
// event waiting, since none other matters before the first picture.
bool streamingAborted(IMediaEvent *events) {
    bool aborted = false;
    LONG code;
    LONG_PTR param1, param2;
    while (events->GetEvent(&code, &param1, &param2, 0) == S_OK) {
        aborted = aborted || code == EC_ERRORABORT;
        events->FreeEventParams(code, param1, param2);
    }
    return aborted;
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

getVideoImage::getVideoImage(int width, int height) : width(width), height(height) {
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
    waitForFirstFrame();
    std::printf("celled getVideoImage int int\n");
    // Whoever watches our output through a pipe learns at once that the
    // camera is up, not when the program ends.
    std::fflush(stdout);
}

getVideoImage::~getVideoImage() {
    for (int i = 0; i < count; ++i)
        delete pixels[i];
    delete[] pixels;
    delete[] buffer;
}

void getVideoImage::updateImage() {
    // Every fetch is offered the whole buffer: a short sample must not make
    // the next full-size one look too large to fit.
    bufferSize = count * 3;
    if (grabber)
        grabber->GetCurrentBuffer(&bufferSize, reinterpret_cast<LONG *>(buffer));
    convertFrame(buffer, bufferSize, pixels, count);
}

Pixel **getVideoImage::getImage() { return pixels; }

void getVideoImage::waitForFirstFrame() {
    // Without a camera nothing will come; the missing camera was reported.
    if (!grabber || !captureFilter)
        return;
    IMediaEvent *events = nullptr;
    if (graph && FAILED(graph->QueryInterface(IID_IMediaEvent, (void **)&events)))
        events = nullptr;
    bool arrived = false;
    bool aborted = false;
    const auto deadline = std::chrono::steady_clock::now() + firstFrameTimeout;
    while (!arrived && !aborted && std::chrono::steady_clock::now() < deadline) {
        LONG size = 0;
        arrived = grabber->GetCurrentBuffer(&size, nullptr) == S_OK && size > 0;
        aborted = !arrived && events && streamingAborted(events);
        if (!arrived && !aborted)
            std::this_thread::sleep_for(firstFramePoll);
    }
    if (events)
        events->Release();
    // A camera that gave up has had its say where the reason was known: the
    // window need not stay frozen for the rest of the wait.
    if (!arrived && !aborted)
        std::fprintf(stderr, "cloakcam: the camera has delivered no picture in 5 seconds; "
                             "showing black until it does\n");
}
