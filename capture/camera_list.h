#ifndef CLOAKCAM_CAPTURE_CAMERA_LIST_H
#define CLOAKCAM_CAPTURE_CAMERA_LIST_H

// The cameras the system lists, named as the user knows them, and the one
// the user asked for.

#include <string>
#include <vector>

#include "capture/camera_choice.h"
#include "capture/directshow.h"

// The video input devices `devices` lists, by name and path, in its order;
// their monikers go to `monikers` with a reference each, unless it is null.
// `complete` (unless null) is false when the system is still making its
// first list and has none yet.
std::vector<CameraName> listCameras(ICreateDevEnum *devices, std::vector<IMoniker *> *monikers,
                                    bool *complete = nullptr);
// The same from a device enumerator of its own; none when there is none.
std::vector<CameraName> listCamerasNow(bool *complete = nullptr);

// The camera the user named in CLOAKCAM_DEVICE, in UTF-8, or empty.
std::string wantedCamera();

#endif
