#ifndef CLOAKCAM_TEST_CAMERA_CONTROL_H
#define CLOAKCAM_TEST_CAMERA_CONTROL_H

// What a test wants a camera to do during a run, written as one word into a
// file named after the camera in the folder CLOAKCAM_TEST_CAMERA_CONTROL
// names: "unplugged", "silent", "allowed" (a camera that refuses to start,
// see behaviour.h, starts), or anything else (or no file) for plugged in and
// sending. The file is named by the camera's device key (behaviour.h).

#include <string>

enum class Plug { In, Out, Silent, Allowed };

Plug readPlug(const std::wstring &camera);

// Adds a line to the file CAMERA.bound in that folder each time a filter is
// made for the camera, so that a test can count the graphs built on it.
void noteBound(const std::wstring &camera);
// Adds "WIDTHxHEIGHT" to CAMERA.connected each time a pin connects, so that a
// test can tell which of the formats offered was taken.
void noteConnected(const std::wstring &camera, long width, long height);

#endif
