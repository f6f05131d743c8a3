#ifndef CLOAKCAM_PLATFORM_CAMERA_TABLE_H
#define CLOAKCAM_PLATFORM_CAMERA_TABLE_H

// The cameras as the stand-in's DirectShow objects reach them: a narrow table
// of calls over plain data, with GStreamer, PipeWire and udev behind it. What
// a camera tells of itself (its bus, its V4L2 capabilities, whether another
// program may be streaming it, why it failed) comes up as data; what that
// means to a DirectShow program is the objects' business.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

constexpr uint32_t fourcc(const char (&code)[5]) {
    return uint32_t(uint8_t(code[0])) | uint32_t(uint8_t(code[1])) << 8 |
           uint32_t(uint8_t(code[2])) << 16 | uint32_t(uint8_t(code[3])) << 24;
}

// V4L2's names for packed RGB, blue first: 24 and 32 bits a pixel.
constexpr uint32_t rgb24Code = fourcc("BGR3");
constexpr uint32_t rgb32Code = fourcc("BGR4");
constexpr uint32_t jpegCode = fourcc("MJPG");

// A camera the system lists.
struct CameraListing {
    std::string name;
    std::string path; // its device node, or its name when it has none
    std::string bus;  // V4L2's bus_info, when it tells
    unsigned long deviceCaps = 0;
    bool monochrome = false;    // every format it lists is grey
    bool cameraService = false; // reached through PipeWire or libcamera, not its node
    // The table's own hold on the device.
    std::shared_ptr<void> device;
};

// One format a camera offers: a single size, or a range of sizes on a step.
struct CameraMode {
    uint32_t code = 0; // its four-character code, rgb24Code and rgb32Code for RGB
    int bits = 0;      // per pixel, as a bitmap counts them
    int width = 0, height = 0;
    int minWidth = 0, minHeight = 0, maxWidth = 0, maxHeight = 0;
    int stepX = 1, stepY = 1;
    int64_t interval = 0; // 100 ns units: the one nearest 30 a second
    int64_t fastest = 0, slowest = 0;
    // Can be turned into other pixel formats (a sensor's raw mosaic cannot).
    bool convertible = true;
};

// What a started camera delivers: `code` at width x height, or as it comes
// when `code` is 0. RGB rows are padded to four bytes, other formats' planes
// follow one another unpadded.
struct CameraOutput {
    uint32_t code = 0;
    int width = 0, height = 0;
    bool bottomUp = false; // rows last first, as Windows keeps RGB
};

// What a camera has to tell once it has been started.
enum class CameraEvent {
    Ended,      // its stream ended
    Unplugged,  // the system stopped listing it
    Returned,   // listed again after being unplugged
    Busy,       // another program holds it
    Denied,     // the user may not open it
    NoFormat,   // it sends nothing the conversion takes
    ReadFailed, // reading a picture failed
    Failed,
};

enum class CameraStart {
    Running,
    OnTheWay, // still starting, or left to finish by itself
    Stuck,    // an earlier start or stop is still under way
    Failed,
};

// Told of each picture, on a thread of the camera's; never after close.
using FrameSink = void (*)(void *context, const uint8_t *bytes, size_t size, int64_t time);

struct Camera;

// Wine's qcap reaches its cameras the same way, through one table.
struct CameraTable {
    // The cameras listed now, in the system's order: by path, numbers as
    // numbers. False while the system has yet to answer.
    bool (*list)(std::vector<CameraListing> *cameras);
    // Null when it cannot be opened at all.
    Camera *(*open)(const CameraListing &listing);
    // Never empty: a camera that names none has the size most webcams give.
    const std::vector<CameraMode> &(*modes)(Camera *camera);
    // The interval `mode` offers nearest to `asked`; its usual one for 0.
    int64_t (*nearestInterval)(Camera *camera, int mode, int64_t asked);
    void (*hold)(Camera *camera, int mode, int width, int height, int64_t interval);
    // `why` says what stopped it when it failed.
    CameraStart (*start)(Camera *camera, const CameraOutput &output, FrameSink sink, void *context,
                         CameraEvent *why);
    // False when it is left to finish by itself.
    bool (*stop)(Camera *camera);
    // Whether a start or stop has yet to finish.
    bool (*changing)(Camera *camera);
    // Waits up to `millis` for what the camera has to tell.
    bool (*nextEvent)(Camera *camera, CameraEvent *event, int millis);
    // Never waits long; a camera that will not stop in time stops by itself.
    void (*close)(Camera *camera);
};

// GStreamer's, unless a test put another in its place.
const CameraTable &cameraTable();
// For tests: `table` from now on; null for GStreamer's again.
void useCameraTable(const CameraTable *table);

#endif
