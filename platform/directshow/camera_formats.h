#ifndef CLOAKCAM_PLATFORM_CAMERA_FORMATS_H
#define CLOAKCAM_PLATFORM_CAMERA_FORMATS_H

// The formats a camera offers: as a capture pin describes them to DirectShow
// programs, and as GStreamer holds the camera to the one chosen.

#include <dshow.h>

#include <gst/gst.h>

#include <memory>
#include <vector>

// One capability of the capture pin: a single size, or a range of sizes on a
// granularity.
struct CameraFormat {
    GUID subtype;
    SIZE size; // the size its media type shows
    SIZE minSize;
    SIZE maxSize;
    SIZE step; // 1 x 1 for a single size
    int bitCount;
    REFERENCE_TIME interval; // the one nearest 30 frames a second
    REFERENCE_TIME fastest;
    REFERENCE_TIME slowest;
    // As the device lists it; null for a device that says nothing.
    std::shared_ptr<GstStructure> structure;
};

// One capability per structure of the device's caps, and one per size where
// a structure lists several, in the device's order. A device that lists
// nothing DirectShow can name has the size most webcams give, in RGB24.
std::vector<CameraFormat> formatsOf(const GstCaps *caps);

// The capability as GetStreamCaps describes it.
VIDEO_STREAM_CONFIG_CAPS capabilityOf(const CameraFormat &format);

// `format`'s media type at `size` and frame `interval` (a FORMAT_VideoInfo
// type, allocated with CoTaskMemAlloc as the caller frees it).
AM_MEDIA_TYPE *mediaTypeOf(const CameraFormat &format, SIZE size, REFERENCE_TIME interval);

// Which of `formats` `type` asks for, and at which size; -1 when it is none
// of them, or at a size that format does not take.
int findFormat(const std::vector<CameraFormat> &formats, const AM_MEDIA_TYPE &type, SIZE *size);

// The frame interval `format` lists nearest to `asked`; its usual one when
// nothing is asked.
REFERENCE_TIME intervalOf(const CameraFormat &format, REFERENCE_TIME asked);

// What the camera is held to in `format` at `size` and frame `interval`.
GstCaps *capsOf(const CameraFormat &format, SIZE size, REFERENCE_TIME interval);

// What a camera another program may be streaming already is held to in
// `format`: its media type and pixel format only, whatever size and rate the
// stream has.
GstCaps *mediaTypeCapsOf(const CameraFormat &format);

#endif
