#ifndef CLOAKCAM_PLATFORM_MEDIA_TYPES_H
#define CLOAKCAM_PLATFORM_MEDIA_TYPES_H

// Camera modes as a capture pin describes them to DirectShow programs.

#include "platform/camera/camera_table.h"

#include <dshow.h>

#include <vector>

// The subtype of a four-character code, and the code of a subtype (0 for
// one that has none).
GUID subtypeOf(uint32_t code);
uint32_t codeOf(const GUID &subtype);

// The bits a pixel and bytes a picture of raw `code` at width x height, laid
// out as the camera table delivers it; false for a code it does not know.
bool rawLayout(uint32_t code, int width, int height, int *bits, long *bytes);

// The capability as GetStreamCaps describes it.
VIDEO_STREAM_CONFIG_CAPS capabilityOf(const CameraMode &mode);

// `mode`'s media type at width x height and frame `interval` (a
// FORMAT_VideoInfo type, allocated with CoTaskMemAlloc as the caller frees it).
AM_MEDIA_TYPE *mediaTypeOf(const CameraMode &mode, int width, int height, int64_t interval);

// Which of `modes` `type` asks for, and at which size; -1 when it is none of
// them, or at a size that mode does not take.
int findMode(const std::vector<CameraMode> &modes, const AM_MEDIA_TYPE &type, int *width,
             int *height);

#endif
