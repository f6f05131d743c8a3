// Time per 320x240 frame of each stage of a main-loop pass, each next to the
// figures that say how fast it could be: a memcpy moving as many bytes as the
// stage must read and write, and GStreamer's warptv, a peer displacement
// effect, on one frame of the same size.
//
// Every iteration is one frame. The video driver is whatever SDL_VIDEODRIVER
// names (bench.sh runs the program once on "dummy" and once on an X server).

#include <SDL.h>
#include <benchmark/benchmark.h>
#include <gst/check/gstharness.h>
#include <gst/gst.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#include "app/effect.h"
#include "app/loop.h"
#include "app/screen.h"
#include "capture/camera_handover.h"
#include "capture/frame_layout.h"
#include "capture/video_image.h"

namespace {

constexpr int N = framePixels;
constexpr long frameBytes = 3L * N;

SDL_Surface *screen = nullptr;
getVideoImage *video = nullptr;

// Records as the capture object keeps them: one allocation each, reached
// through an array of pointers.
struct Records {
    Records() : pointers(N) {
        for (Pixel *&p : pointers) {
            p = new Pixel{0, 0, 0};
        }
    }
    ~Records() {
        for (Pixel *p : pointers) {
            delete p;
        }
    }
    Records(const Records &) = delete;
    Records &operator=(const Records &) = delete;
    std::vector<Pixel *> pointers;
};

// A small deterministic generator, so that every run sees the same frames.
struct Noise {
    uint32_t state = 12345;
    int next(int spread) {
        state = state * 1664525u + 1013904223u;
        return int((state >> 16) % uint32_t(2 * spread + 1)) - spread;
    }
};

int clampByte(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// A camera picture of a still scene, with a figure (an ellipse of a different
// brightness) standing at figureX when figureX >= 0, and camera noise. Stored
// as the camera delivers it: bottom-up BGR, so record i is the i-th 3-byte
// group from the end.
std::vector<unsigned char> cameraFrame(int figureX, uint32_t seed) {
    std::vector<unsigned char> bytes(frameBytes);
    Noise noise{seed};
    for (int i = 0; i < N; ++i) {
        const int x = i % frameWidth;
        const int y = i / frameWidth;
        int r = 40 + x * 160 / frameWidth + ((x / 16 + y / 16) % 2) * 30;
        int g = 50 + y * 150 / frameHeight;
        int b = 90 + ((x * 7 + y * 3) % 64);
        const int dx = x - figureX;
        const int dy = y - 140;
        if (figureX >= 0 && dx * dx * 4 + dy * dy < 90 * 90) {
            r = 200 - dy / 2;
            g = 170;
            b = 60 + dx;
        }
        unsigned char *group = bytes.data() + frameBytes - 3L * (i + 1);
        group[2] = static_cast<unsigned char>(clampByte(r + noise.next(3)));
        group[1] = static_cast<unsigned char>(clampByte(g + noise.next(3)));
        group[0] = static_cast<unsigned char>(clampByte(b + noise.next(3)));
    }
    return bytes;
}

// The effect's inputs for a frame in which someone stands in front of the
// reference scene and has moved a little since the previous frame.
struct EffectScene {
    EffectScene()
        : empty(cameraFrame(-1, 1)), previous(cameraFrame(154, 2)), live(cameraFrame(160, 3)) {
        recordsFromBgr(empty.data(), frameBytes, records.pointers.data(), N);
        for (int i = 0; i < N; ++i) {
            snapshotCopy[i] = *records.pointers[i];
        }
        recordsFromBgr(previous.data(), frameBytes, records.pointers.data(), N);
        for (int i = 0; i < N; ++i) {
            previousLevels[i] = average(*records.pointers[i]);
        }
        restore();
    }

    void restore() {
        std::memcpy(snapshot, snapshotCopy.data(), sizeof snapshot);
        std::memcpy(lastLevel, previousLevels.data(), sizeof lastLevel);
        recordsFromBgr(live.data(), frameBytes, records.pointers.data(), N);
    }

    std::vector<unsigned char> empty, previous, live;
    std::vector<Pixel> snapshotCopy = std::vector<Pixel>(N);
    std::vector<int32_t> previousLevels = std::vector<int32_t>(N);
    Records records;
};

// A copy moving the given bytes: reading `bytes` and writing as many again,
// as much traffic as a stage that reads and writes 2 * bytes in all.
void copyBound(benchmark::State &state, size_t bytes) {
    std::vector<char> from(bytes, 1), to(bytes, 0);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.counters["bytes_moved"] = double(2 * bytes);
}

// Bytes each stage must read and write per frame, counting only what the
// program uses: 3 per camera pixel, 8 per record pointer, 12 per record or
// reference entry, 4 per brightness level, 2 per screen cell.
constexpr size_t convertTraffic = 3 * N + 8 * N + 12 * N;
// Pointers, live records and reference read; records and levels read and
// written. The displaced reference read lies behind the current one and is
// already cached.
constexpr size_t effectTraffic = 8 * N + 12 * N + 12 * N + 4 * N + 12 * N + 4 * N;
constexpr size_t drawTraffic = 8 * N + 12 * N + 2 * N;
// The whole pass: the camera buffer copied out of the grabber, converted,
// then one walk reading pointers, records, reference and levels and writing
// records, levels and screen.
constexpr size_t passTraffic =
    2 * 3 * N + convertTraffic + (8 * N + 12 * N + 12 * N + 4 * N + 12 * N + 4 * N + 2 * N);

void BM_Convert(benchmark::State &state) {
    const std::vector<unsigned char> frame = cameraFrame(160, 3);
    Records records;
    for (auto _ : state) {
        recordsFromBgr(frame.data(), frameBytes, records.pointers.data(), N);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Convert)->Unit(benchmark::kMicrosecond);

void BM_ConvertBound(benchmark::State &state) { copyBound(state, convertTraffic / 2); }
BENCHMARK(BM_ConvertBound)->Unit(benchmark::kMicrosecond);

// The effect as the pass runs it, a row at a time.
void BM_Effect(benchmark::State &state) {
    EffectScene scene;
    Pixel **pixels = scene.records.pointers.data();
    for (auto _ : state) {
        for (int32_t first = 0; first < numPixels; first += frameWidth) {
            applyEffectRow(pixels, first, frameWidth);
        }
        benchmark::ClobberMemory();
        state.PauseTiming();
        scene.restore();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Effect)->Unit(benchmark::kMicrosecond);

// The single-pixel step over every index, as the tests call it.
void BM_EffectPixelByPixel(benchmark::State &state) {
    EffectScene scene;
    Pixel **pixels = scene.records.pointers.data();
    for (auto _ : state) {
        for (int32_t i = 0; i < numPixels; ++i) {
            applyEffect(pixels, i);
        }
        benchmark::ClobberMemory();
        state.PauseTiming();
        scene.restore();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_EffectPixelByPixel)->Unit(benchmark::kMicrosecond);

void BM_EffectBound(benchmark::State &state) { copyBound(state, effectTraffic / 2); }
BENCHMARK(BM_EffectBound)->Unit(benchmark::kMicrosecond);

// What the records' layout alone costs, whatever the arithmetic: each record
// is a heap block of its own, so conversion writes 76800 scattered records
// through their pointers...
void BM_ConvertLayoutFloor(benchmark::State &state) {
    Records records;
    Pixel *const *pixels = records.pointers.data();
    for (auto _ : state) {
        for (int i = 0; i < N; ++i) {
            *pixels[i] = Pixel{i & 0xFF, 1, 2};
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ConvertLayoutFloor)->Unit(benchmark::kMicrosecond);

// ...and the effect reads and rewrites each of them, reads the reference and
// reads and writes the levels, in the same cache state as BM_Effect.
void BM_EffectLayoutFloor(benchmark::State &state) {
    EffectScene scene;
    Pixel *const *pixels = scene.records.pointers.data();
    for (auto _ : state) {
        for (int i = 0; i < N; ++i) {
            Pixel p = *pixels[i];
            p.r ^= snapshot[i].g;
            lastLevel[i] ^= p.b;
            *pixels[i] = p;
        }
        benchmark::ClobberMemory();
        state.PauseTiming();
        scene.restore();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_EffectLayoutFloor)->Unit(benchmark::kMicrosecond);

// Pausing the timer costs something of its own; this is what BM_Effect pays
// for it, to be taken off.
void BM_PauseTimingCost(benchmark::State &state) {
    for (auto _ : state) {
        state.PauseTiming();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_PauseTimingCost)->Unit(benchmark::kMicrosecond);

// The drawing half of the pass as the program runs it: the effect, each
// result's colour and its store in the screen, row by row.
void BM_Draw(benchmark::State &state) {
    EffectScene scene;
    Pixel **pixels = scene.records.pointers.data();
    for (auto _ : state) {
        drawEffect(screen, pixels);
        benchmark::ClobberMemory();
        state.PauseTiming();
        scene.restore();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Draw)->Unit(benchmark::kMicrosecond);

void BM_DrawBound(benchmark::State &state) { copyBound(state, drawTraffic / 2); }
BENCHMARK(BM_DrawBound)->Unit(benchmark::kMicrosecond);

// SDL's part of drawing: SDL_MapRGB for every pixel of the frame.
void BM_SdlMapRGB(benchmark::State &state) {
    EffectScene scene;
    Pixel *const *pixels = scene.records.pointers.data();
    for (auto _ : state) {
        Uint32 sum = 0;
        for (int i = 0; i < N; ++i) {
            const Pixel &p = *pixels[i];
            sum += SDL_MapRGB(screen->format, Uint8(p.r), Uint8(p.g), Uint8(p.b));
        }
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_SdlMapRGB)->Unit(benchmark::kMicrosecond);

void BM_SdlUpdateRect(benchmark::State &state) {
    for (auto _ : state) {
        SDL_UpdateRect(screen, 0, 0, 0, 0);
    }
}
BENCHMARK(BM_SdlUpdateRect)->Unit(benchmark::kMicrosecond);

void BM_SdlPollEvent(benchmark::State &state) {
    for (auto _ : state) {
        SDL_Event event;
        benchmark::DoNotOptimize(SDL_PollEvent(&event));
    }
}
BENCHMARK(BM_SdlPollEvent)->Unit(benchmark::kMicrosecond);

// The camera's part of the pass: the grabber copying out its latest frame,
// together with the conversion, which BM_Convert times alone.
void BM_UpdateImage(benchmark::State &state) {
    for (auto _ : state) {
        video->updateImage();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_UpdateImage)->Unit(benchmark::kMicrosecond);

// A whole pass as main runs it, on the moving test pattern, long after the
// reference was taken.
void BM_Pass(benchmark::State &state) {
    Pixel **pixels = video->getImage();
    // The benchmarks before this one left their own scene in the reference.
    clearReference();
    frameCount = 0;
    for (int pass = 0; pass < 40; ++pass) {
        runPass(screen, *video, pixels);
        SDL_Delay(5);
    }
    for (auto _ : state) {
        if (!runPass(screen, *video, pixels)) {
            state.SkipWithError("the pass asked to quit");
            break;
        }
    }
}
BENCHMARK(BM_Pass)->Unit(benchmark::kMicrosecond);

void BM_PassBound(benchmark::State &state) { copyBound(state, passTraffic / 2); }
BENCHMARK(BM_PassBound)->Unit(benchmark::kMicrosecond);

// A camera of any size and format feeding the pass. The camera's frame is
// copied out of the grabber and brought to 320x240 only when a new one came;
// the records are rewritten from the 320x240 picture and the effect runs on
// every pass, whatever the camera.
struct CameraFeed {
    CameraFeed(PixelFormat format, int width, int height)
        : layout{format, width, height, format != PixelFormat::Rgb24, 0} {
        layout.stride = format == PixelFormat::Rgb24 ? (width * 3L + 3) & ~3L : width;
        grabber.resize(static_cast<size_t>(layout.bytes()));
        copy.resize(grabber.size());
        // RGB24 comes at the program's own size only, as the scene's frame.
        if (format == PixelFormat::Nv12)
            fillNv12();
        else
            grabber = cameraFrame(160, 3);
    }

    // The scene's gradients and noise, as a camera's NV12 would carry them.
    void fillNv12() {
        Noise noise;
        const long plane = layout.stride * layout.height;
        for (int y = 0; y < layout.height; ++y)
            for (int x = 0; x < layout.width; ++x) {
                grabber[size_t(y * layout.stride + x)] = static_cast<unsigned char>(clampByte(
                    40 + x * 180 / layout.width + ((x / 96 + y / 96) % 2) * 20 + noise.next(3)));
                if (y % 2 == 0 && x % 2 == 0) {
                    unsigned char *uv = grabber.data() + plane + (y / 2) * layout.stride + x;
                    uv[0] = static_cast<unsigned char>(clampByte(100 + y * 60 / layout.height));
                    uv[1] = static_cast<unsigned char>(clampByte(150 - x * 50 / layout.width));
                }
            }
    }

    // What the pass does when the sample counter moved: GetCurrentBuffer's
    // copy, then the conversion into the 320x240 picture.
    void newFrame() { newFrame(picture.data()); }
    void newFrame(unsigned char *target) {
        std::memcpy(copy.data(), grabber.data(), grabber.size());
        bgrFromCameraFrame(copy.data(), static_cast<long>(copy.size()), layout, target, frameWidth,
                           frameHeight);
        benchmark::ClobberMemory();
    }

    FrameLayout layout;
    std::vector<unsigned char> grabber, copy;
    std::vector<unsigned char> picture = std::vector<unsigned char>(frameBytes);
};

// What every pass does whatever came: the records rewritten from the picture,
// then the effect a row at a time.
void recordsAndEffect(const unsigned char *picture, Pixel **pixels) {
    recordsFromBgr(picture, frameBytes, pixels, N);
    for (int32_t first = 0; first < numPixels; first += frameWidth)
        applyEffectRow(pixels, first, frameWidth);
    benchmark::ClobberMemory();
}

double threadSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Passes that run while a 30 frames a second camera sends one frame, at the
// rate the pass runs with a 320x240 camera. Measured once, in this thread's
// CPU time like the benchmarks, so that other work on the machine does not
// make the pass look slower and new frames more frequent.
int passesPerCameraFrame() {
    static const int passes = [] {
        EffectScene scene;
        CameraFeed feed(PixelFormat::Rgb24, frameWidth, frameHeight);
        feed.newFrame();
        constexpr int timed = 500;
        for (int i = 0; i < 50; ++i)
            recordsAndEffect(feed.picture.data(), scene.records.pointers.data());
        const double start = threadSeconds();
        for (int i = 0; i < timed; ++i)
            recordsAndEffect(feed.picture.data(), scene.records.pointers.data());
        const double pass = (threadSeconds() - start) / timed;
        return std::max(1, static_cast<int>(std::lround(1.0 / 30 / pass)));
    }();
    return passes;
}

// Passes as they run with this camera: a new frame every passesPerCameraFrame.
void BM_CameraPass(benchmark::State &state, PixelFormat format, int width, int height) {
    const int every = passesPerCameraFrame();
    EffectScene scene;
    CameraFeed feed(format, width, height);
    int pass = 0;
    for (auto _ : state) {
        if (pass++ % every == 0)
            feed.newFrame();
        recordsAndEffect(feed.picture.data(), scene.records.pointers.data());
    }
    state.counters["passes_per_camera_frame"] = every;
}
BENCHMARK_CAPTURE(BM_CameraPass, rgb24_320x240, PixelFormat::Rgb24, 320, 240)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_CameraPass, nv12_1920x1080, PixelFormat::Nv12, 1920, 1080)
    ->Unit(benchmark::kMicrosecond);

// The window's pass on which a new frame came, every time. The copy and
// conversion (BM_CameraNewFrame) are the camera thread's, outside the
// timing; the window swaps the picture in from the handover.
void BM_CameraNewFramePass(benchmark::State &state, PixelFormat format, int width, int height) {
    EffectScene scene;
    CameraFeed feed(format, width, height);
    CameraHandover handover(frameBytes);
    // Allocated as the handover's own are: the buffers change hands.
    unsigned char *picture = new unsigned char[frameBytes]();
    long size = 0;
    bool fresh = false;
    for (auto _ : state) {
        state.PauseTiming();
        // On a thread of its own, as the camera's: its reads of a large
        // frame go through another core's caches.
        std::thread([&] {
            feed.newFrame(handover.nextPicture());
            handover.publishPicture(frameBytes, false);
        }).join();
        state.ResumeTiming();
        handover.takePicture(&picture, &size, &fresh);
        recordsAndEffect(picture, scene.records.pointers.data());
    }
    delete[] picture;
}
BENCHMARK_CAPTURE(BM_CameraNewFramePass, rgb24_320x240, PixelFormat::Rgb24, 320, 240)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_CameraNewFramePass, nv12_1920x1080, PixelFormat::Nv12, 1920, 1080)
    ->Unit(benchmark::kMicrosecond);

// The new frame's own part: the copy and bgrFromCameraFrame.
void BM_CameraNewFrame(benchmark::State &state, PixelFormat format, int width, int height) {
    CameraFeed feed(format, width, height);
    for (auto _ : state)
        feed.newFrame();
}
BENCHMARK_CAPTURE(BM_CameraNewFrame, rgb24_320x240, PixelFormat::Rgb24, 320, 240)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_CameraNewFrame, nv12_1920x1080, PixelFormat::Nv12, 1920, 1080)
    ->Unit(benchmark::kMicrosecond);

// bgrFromCameraFrame alone, without the copy out of the grabber.
void BM_CameraConvert(benchmark::State &state, PixelFormat format, int width, int height) {
    CameraFeed feed(format, width, height);
    for (auto _ : state) {
        bgrFromCameraFrame(feed.grabber.data(), static_cast<long>(feed.grabber.size()), feed.layout,
                           feed.picture.data(), frameWidth, frameHeight);
        benchmark::ClobberMemory();
    }
}
BENCHMARK_CAPTURE(BM_CameraConvert, rgb24_320x240, PixelFormat::Rgb24, 320, 240)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_CameraConvert, nv12_1920x1080, PixelFormat::Nv12, 1920, 1080)
    ->Unit(benchmark::kMicrosecond);

// One frame pushed through a GStreamer element and pulled out again; the
// input buffer is reused and the output comes from the element's pool.
void harnessFrame(benchmark::State &state, const char *element) {
    GstHarness *harness = gst_harness_new(element);
    gst_harness_set_src_caps_str(harness,
                                 "video/x-raw,format=BGRx,width=320,height=240,framerate=30/1");
    GstBuffer *input = gst_harness_create_buffer(harness, 4 * N);
    GstMapInfo map;
    gst_buffer_map(input, &map, GST_MAP_WRITE);
    const std::vector<unsigned char> frame = cameraFrame(160, 3);
    for (int i = 0; i < N; ++i) {
        map.data[4 * i] = frame[3 * i];
        map.data[4 * i + 1] = frame[3 * i + 1];
        map.data[4 * i + 2] = frame[3 * i + 2];
        map.data[4 * i + 3] = 0;
    }
    gst_buffer_unmap(input, &map);
    for (auto _ : state) {
        if (gst_harness_push(harness, gst_buffer_ref(input)) != GST_FLOW_OK) {
            state.SkipWithError("the element refused the frame");
            break;
        }
        GstBuffer *output = gst_harness_pull(harness);
        benchmark::DoNotOptimize(output);
        gst_buffer_unref(output);
    }
    gst_buffer_unref(input);
    gst_harness_teardown(harness);
}

void BM_WarpTV(benchmark::State &state) { harnessFrame(state, "warptv"); }
BENCHMARK(BM_WarpTV)->Unit(benchmark::kMicrosecond);

// The harness's own cost per frame, with an element that passes the frame on
// untouched.
void BM_HarnessIdentity(benchmark::State &state) { harnessFrame(state, "identity"); }
BENCHMARK(BM_HarnessIdentity)->Unit(benchmark::kMicrosecond);

// A 1920x1080 camera's motion JPEG of the scene: gradients, squares and
// camera noise, encoded once as jpegenc encodes I420 (4:2:0, quality 85).
GstBuffer *sceneJpeg() {
    constexpr int w = 1920, h = 1080;
    GstHarness *encoder = gst_harness_new("jpegenc");
    gst_harness_set_src_caps_str(encoder,
                                 "video/x-raw,format=I420,width=1920,height=1080,framerate=30/1");
    GstBuffer *input = gst_harness_create_buffer(encoder, w * h * 3 / 2);
    GstMapInfo map;
    gst_buffer_map(input, &map, GST_MAP_WRITE);
    Noise noise;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            map.data[y * w + x] = static_cast<unsigned char>(
                clampByte(40 + x * 180 / w + ((x / 96 + y / 96) % 2) * 20 + noise.next(6)));
    for (int i = 0; i < w * h / 2; ++i)
        map.data[w * h + i] = static_cast<unsigned char>(clampByte(128 + noise.next(4) + i % 30));
    gst_buffer_unmap(input, &map);
    gst_harness_push(encoder, input);
    GstBuffer *jpeg = gst_harness_pull(encoder);
    gst_harness_teardown(encoder);
    return jpeg;
}

// Process CPU time per frame of a 1920x1080 MJPG camera's frame from its
// JPEG to the program's 320x240 picture: the stand-in's conversion in front
// of the grabber (as filter_graph.cpp builds it), the grabber's copy, the
// program's GetCurrentBuffer copy and bgrFromCameraFrame; or jpegdec alone.
void mjpgFrame(benchmark::State &state, const char *conversion, PixelFormat format,
               int width = 1920, int height = 1080) {
    GstHarness *harness = gst_harness_new_parse(conversion);
    gst_harness_set_src_caps_str(harness, "image/jpeg,width=1920,height=1080,framerate=30/1");
    GstBuffer *jpeg = sceneJpeg();
    FrameLayout layout{format, width, height, format != PixelFormat::Rgb24,
                       format == PixelFormat::Rgb24 ? width * 3L : long(width)};
    std::vector<unsigned char> grabber(static_cast<size_t>(layout.bytes()));
    std::vector<unsigned char> copy(grabber.size()), picture(frameBytes);
    const bool program = std::strcmp(conversion, "jpegdec") != 0;
    for (auto _ : state) {
        if (gst_harness_push(harness, gst_buffer_ref(jpeg)) != GST_FLOW_OK) {
            state.SkipWithError("the conversion refused the frame");
            break;
        }
        GstBuffer *output = gst_harness_pull(harness);
        benchmark::DoNotOptimize(output);
        if (program && output) {
            GstMapInfo map;
            gst_buffer_map(output, &map, GST_MAP_READ);
            std::memcpy(grabber.data(), map.data, std::min(map.size, grabber.size()));
            gst_buffer_unmap(output, &map);
            std::memcpy(copy.data(), grabber.data(), grabber.size());
            bgrFromCameraFrame(copy.data(), static_cast<long>(copy.size()), layout, picture.data(),
                               frameWidth, frameHeight);
        }
        if (output)
            gst_buffer_unref(output);
        benchmark::ClobberMemory();
    }
    gst_buffer_unref(jpeg);
    gst_harness_teardown(harness);
}

void BM_MjpgCamera(benchmark::State &state, const char *conversion, PixelFormat format) {
    mjpgFrame(state, conversion, format);
}

// The same camera shared at 1920x1080 with a pin asking 640x360: the
// stand-in's videoscale shrinks by three, with its default two taps or with
// the conversion's bilinear2.
void BM_MjpgCameraShrunk(benchmark::State &state, const char *conversion) {
    mjpgFrame(state, conversion, PixelFormat::I420, 640, 360);
}
#define CLOAKCAM_SHRUNK(method)                                                                    \
    "jpegdec ! capsfilter caps=\"video/x-raw,format=I420,colorimetry=1:4:0:0;video/x-raw\" ! "     \
    "aspectratiocrop aspect-ratio=16/9 ! videoconvert ! videoscale " method " ! "                  \
    "capsfilter caps=\"video/x-raw,format=I420,colorimetry=bt601,width=640,height=360\""
BENCHMARK_CAPTURE(BM_MjpgCameraShrunk, two_taps, CLOAKCAM_SHRUNK(""))
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MjpgCameraShrunk, bilinear2, CLOAKCAM_SHRUNK("method=bilinear2"))
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MjpgCamera, jpegdec_alone, "jpegdec", PixelFormat::I420)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(
    BM_MjpgCamera, i420_as_it_comes,
    "jpegdec ! capsfilter caps=\"video/x-raw,format=I420,colorimetry=1:4:0:0;video/x-raw\" ! "
    "aspectratiocrop aspect-ratio=16/9 ! videoconvert ! videoscale method=bilinear2 ! "
    "capsfilter caps=\"video/x-raw,format=I420,colorimetry=bt601,width=1920,height=1080\"",
    PixelFormat::I420)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_MjpgCamera, rgb24_converted_and_flipped,
                  "jpegdec ! videoconvert ! videoscale ! "
                  "video/x-raw,format=BGR,width=1920,height=1080 ! videoflip video-direction=vert",
                  PixelFormat::Rgb24)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    gst_init(nullptr, nullptr);
    setenv("CLOAKCAM_DEVICE", "pattern", 0);
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        std::fprintf(stderr, "cloakcam_bench: SDL_Init: %s\n", SDL_GetError());
        return 1;
    }
    screen = SDL_SetVideoMode(frameWidth, frameHeight, 16, 0);
    if (screen == nullptr) {
        std::fprintf(stderr, "cloakcam_bench: SDL_SetVideoMode: %s\n", SDL_GetError());
        return 1;
    }
    prepareColourTables(screen->format);
    char driver[64] = "";
    SDL_VideoDriverName(driver, sizeof driver);
    benchmark::AddCustomContext("sdl_video_driver", driver);
    const SDL_version *linked = SDL_Linked_Version();
    char version[32];
    std::snprintf(version, sizeof version, "%d.%d.%d", linked->major, linked->minor, linked->patch);
    benchmark::AddCustomContext("sdl_version", version);

    // Started once, as main does; the pattern keeps moving meanwhile.
    video = new getVideoImage(frameWidth, frameHeight);

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Its camera thread ends before the libraries it calls do.
    delete video;
    SDL_Quit();
    return 0;
}
