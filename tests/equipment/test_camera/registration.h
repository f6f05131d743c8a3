#ifndef CLOAKCAM_TEST_CAMERA_REGISTRATION_H
#define CLOAKCAM_TEST_CAMERA_REGISTRATION_H

// A test camera's place in the video input category: its name, and in its
// property bag the formats it offers ("Formats", see formats.h, with the
// words of behaviour.h among them) and, given a port, its "DevicePath". A
// camera leaves the
// category when unplugged and enters it again on its return.

#include "com.h"

#include <string>

// regsvr32 registers the cameras CLOAKCAM_TEST_CAMERAS names, separated by
// semicolons, each as NAME=FORMATS:
//   CLOAKCAM_TEST_CAMERAS="Desk camera=RGB24 320x240;Old camera=YUY2 320x240"
// The environment is read as wide text: under Wine, a name beyond ASCII needs
// a UTF-8 locale.
HRESULT registerCamera(const std::wstring &name, const std::wstring &formats);
HRESULT unregisterCamera(const std::wstring &name, const std::wstring &formats);

#endif
