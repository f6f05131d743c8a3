#ifndef CLOAKCAM_TEST_CAMERA_BEHAVIOUR_H
#define CLOAKCAM_TEST_CAMERA_BEHAVIOUR_H

// What a test camera does besides offering its formats, read from words
// among them in the text it was registered with:
//   preview         a preview pin after the capture pin
//   pins-first      an audio pin and a still pin before the capture pin
//   strict-connect  connects only in the format last set (or its own), as
//                   the virtual cameras of streaming programs do
//   denied          starting fails with E_ACCESSDENIED, as when the system's
//                   privacy settings keep programs from the camera
//   in-use          starting fails with 0x8007001F, as a driver's camera
//                   held by another program does
//   refuse=0xCODE   starting fails with that HRESULT (0x800705AA: no USB
//                   bandwidth left; 0xC00D3704: held by a Media Foundation app)
//   slow=B/C/S      binding takes B ms, each connection of a pin C ms, and
//                   leaving Stopped S ms, as a slow driver's device opens
//   refuse-connect  its pins refuse every connection, still listing formats
//   burst           unplugged, it tells EC_ERRORABORT (a read error) just
//                   before EC_DEVICE_LOST, as a USB camera pulled mid-stream
//   checker         the picture is a one-pixel black and white checkerboard
//   oversize=WxH    sends its pictures at WxH whatever size it connected in,
//                   as older virtual cameras do; the sample's length says so
//   port=NAME       the USB port it is plugged into, in its DevicePath: tells
//                   cameras of one name apart
// A refusal lasts until the camera's control file says "allowed".

#include "com.h"

#include <string>

struct Behaviour {
    bool preview = false;
    bool pinsFirst = false;
    bool strictConnect = false;
    HRESULT refusal = S_OK;
    std::wstring port;
    DWORD slowBind = 0;
    DWORD slowConnect = 0;
    DWORD slowStart = 0;
    bool refuseConnect = false;
    bool burst = false;
    bool checker = false;
    // Zero: pictures at the size connected.
    SIZE oversize = {};
};

Behaviour parseBehaviour(const std::wstring &text);

// The camera's own name on the machine: its name, with "@PORT" when it has a
// port. Names its control files, registry entry and device.
std::wstring deviceKey(const std::wstring &name, const Behaviour &behaviour);
// The DevicePath a USB camera's property bag holds, unique to the device.
std::wstring devicePath(const std::wstring &name, const Behaviour &behaviour);

#endif
