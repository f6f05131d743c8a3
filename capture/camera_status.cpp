#include "capture/camera_status.h"

#include <cstdio>

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

void CameraStatus::retitle(const std::string &shown) { title_ = "cloakcam - " + shown; }

std::string CameraStatus::lose(const std::string &reason) {
    const State was = state_;
    if (was == State::None || was == State::Lost)
        return "";
    state_ = State::Lost;
    if (was == State::Starting) {
        retitle("cannot use " + shortName_);
        return "cloakcam: cannot use camera " + camera_ + ": " + reason;
    }
    if (was == State::Streaming) {
        retitle("camera lost");
        return "cloakcam: camera lost: " + reason;
    }
    // A return that failed was announced as a loss already.
    return "";
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
    return was == State::Returning ? "cloakcam: camera back" : "";
}

std::string CameraStatus::noPictureWithin(int seconds) {
    retitle("no picture");
    return "cloakcam: the camera has delivered no picture in " + std::to_string(seconds) +
           " seconds; showing black until it does";
}

namespace {

// The errors cameras give, as Windows numbers them; the stand-in elsewhere
// reports with the same numbers.
constexpr unsigned long win32(unsigned long code) { return 0x80070000ul | code; }

struct Reason {
    unsigned long error;
    const char *words;
};

const Reason reasons[] = {
    {win32(170), "it is busy"}, // ERROR_BUSY
    {win32(32), "it is busy"},  // ERROR_SHARING_VIOLATION
    {win32(5), "it is busy"},   // E_ACCESSDENIED: held by another program
    {0x80040207ul, "it offers no picture format that can be shown"}, // NO_ACCEPTABLE_TYPES
    {0x80040217ul, "it offers no picture format that can be shown"}, // CANNOT_CONNECT
    {0x8004022Aul, "it offers no picture format that can be shown"}, // TYPE_NOT_ACCEPTED
    {win32(1167), "it was unplugged"},                               // ERROR_DEVICE_NOT_CONNECTED
    {win32(55), "it was unplugged"},                                 // ERROR_DEV_NOT_EXIST
    {win32(30), "it cannot be read"},                                // ERROR_READ_FAULT
    {win32(31), "it cannot be read"},                                // ERROR_GEN_FAILURE
};

} // namespace

std::string reasonFor(HRESULT error) {
    const unsigned long code = static_cast<unsigned long>(static_cast<ULONG>(error));
    for (const Reason &reason : reasons)
        if (reason.error == code)
            return reason.words;
    char text[48];
    std::snprintf(text, sizeof text, "it failed (error 0x%08lX)", code);
    return text;
}
