#include "capture/camera_status.h"

#include <cstdio>
#include <iterator>
#include <string>

namespace {

// A 320-pixel window's title bar shows some 25 to 30 characters after
// "cloakcam - ". The statuses take a few words, in the lines' own words, and
// come before a name, so that what a window manager cuts off is the end of
// the name; a name is cut here past 20 characters.
constexpr size_t longestName = 20;

// The first `count` characters of UTF-8 `text`, or all of it.
size_t bytesOfCharacters(const std::string &text, size_t count) {
    size_t bytes = 0;
    for (size_t seen = 0; bytes < text.size(); ++bytes) {
        const bool starts = (static_cast<unsigned char>(text[bytes]) & 0xC0) != 0x80;
        if (starts && seen++ == count)
            break;
    }
    return bytes;
}

std::string shortened(const std::string &name) {
    if (bytesOfCharacters(name, longestName) == name.size())
        return name;
    return name.substr(0, bytesOfCharacters(name, longestName - 3)) + "...";
}

} // namespace

void CameraStatus::start(const CameraName &camera) {
    camera_ = describeCamera(camera);
    shortName_ = shortened(camera.name.empty() ? camera.path : camera.name);
    state_ = State::Starting;
    retitle("starting " + shortName_);
}

void CameraStatus::showPattern(const std::string &wanted) {
    if (wanted == patternChoice)
        retitle("test pattern");
    else if (wanted.empty())
        retitle("no camera");
    else
        retitle("not found: " + shortened(wanted));
}

void CameraStatus::lookForCameras() { retitle("looking for cameras"); }

void CameraStatus::retitle(const std::string &shown) { title_ = "cloakcam - " + shown; }

CameraStatus::Loss CameraStatus::recordLoss(const std::string &reason) {
    const State was = state_;
    if (was == State::None || was == State::Lost)
        return {false, ""};
    state_ = State::Lost;
    if (was == State::Starting) {
        retitle("cannot use " + shortName_);
        return {true, "cannot use camera " + camera_ + ": " + reason};
    }
    if (was == State::Streaming) {
        retitle("camera lost");
        return {true, "camera lost: " + reason};
    }
    // A return that failed was announced as a loss already.
    return {true, ""};
}

bool CameraStatus::returned() {
    if (state_ != State::Lost)
        return false;
    state_ = State::Returning;
    return true;
}

std::string CameraStatus::pictureArrived() {
    const State was = state_;
    if (was == State::Starting || was == State::Returning) {
        state_ = State::Streaming;
        retitle(shortName_);
    }
    return was == State::Returning ? "camera back" : "";
}

namespace {

// The errors cameras give, as Windows numbers them; the stand-in elsewhere
// reports with the same numbers.
constexpr unsigned long win32(unsigned long code) { return 0x80070000ul | code; }

struct Reason {
    unsigned long error;
    const char *words;
};

#ifdef _WIN32
const char *const accessRefused =
    "access to it was refused; allow it in Settings > Privacy & security > Camera";
#else
const char *const accessRefused = "access to it was refused; add yourself to the video group "
                                  "(sudo usermod -aG video $USER) and log in again";
#endif
const char *const inUse = "it is in use by another program";
const unsigned long noSystemResources = win32(1450);

// Each with the words a user can act on. Another program holding the camera
// shows as any of the first four, depending on the driver and on Windows'
// camera stack; ERROR_NO_SYSTEM_RESOURCES as often means that the USB port
// or hub has no bandwidth left (two cameras on one hub or dock).
const Reason refusals[] = {
    {win32(170), inUse},   // ERROR_BUSY
    {win32(32), inUse},    // ERROR_SHARING_VIOLATION
    {win32(31), inUse},    // ERROR_GEN_FAILURE
    {0xC00D3704ul, inUse}, // MF_E_HW_MFT_FAILED_START_STREAMING
    {noSystemResources,
     "it is in use by another program, or its USB port has no bandwidth left: try another port"},
    {win32(5), accessRefused}, // E_ACCESSDENIED: the camera privacy setting, or the device node
};

const Reason reasons[] = {
    {0x80040207ul, noFormatReason},    // NO_ACCEPTABLE_TYPES
    {0x80040217ul, noFormatReason},    // CANNOT_CONNECT
    {0x8004022Aul, noFormatReason},    // TYPE_NOT_ACCEPTED
    {win32(1167), "it was unplugged"}, // ERROR_DEVICE_NOT_CONNECTED
    {win32(55), "it was unplugged"},   // ERROR_DEV_NOT_EXIST
    {win32(1617), "it was unplugged"}, // ERROR_DEVICE_REMOVED
    {win32(30), "it cannot be read"},  // ERROR_READ_FAULT
};

const char *wordsFor(HRESULT error, const Reason *begin, const Reason *end) {
    const unsigned long code = static_cast<unsigned long>(static_cast<ULONG>(error));
    for (const Reason *reason = begin; reason != end; ++reason)
        if (reason->error == code)
            return reason->words;
    return nullptr;
}

} // namespace

const char *const noFormatReason = "it offers no picture format that can be shown";

bool isOutOfBandwidth(HRESULT error) {
    return static_cast<unsigned long>(static_cast<ULONG>(error)) == noSystemResources;
}

std::string hexCode(HRESULT code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX",
                  static_cast<unsigned long>(static_cast<ULONG>(code)));
    return text;
}

std::string unconnectedReason(HRESULT error, const std::string &offered) {
    return "it could not be connected (error " + hexCode(error) + "); it offers " + offered;
}

std::string unreadableReason(long bytes) {
    return "it sends pictures of " + std::to_string(bytes) + " bytes, which fit no size";
}

bool isRefusal(HRESULT error) {
    return wordsFor(error, std::begin(refusals), std::end(refusals)) != nullptr;
}

std::string reasonFor(HRESULT error) {
    if (const char *words = wordsFor(error, std::begin(refusals), std::end(refusals)))
        return words;
    if (const char *words = wordsFor(error, std::begin(reasons), std::end(reasons)))
        return words;
    return "it failed (error " + hexCode(error) + ")";
}
