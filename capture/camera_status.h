#ifndef CLOAKCAM_CAPTURE_CAMERA_STATUS_H
#define CLOAKCAM_CAPTURE_CAMERA_STATUS_H

// What the user is told about the camera while it runs, from what the filter
// graph reports: one line when it cannot start, one when it is lost, one when
// it is back. The lines are handed back rather than printed, so whoever owns
// the graph prints them and the rules can be tried without one. The window's
// title follows the same steps, so that the two never disagree.

#include <string>

#include "capture/camera_choice.h"
#include "capture/directshow.h"

class CameraStatus {
  public:
    // None until a camera starts: a graph without one reports nothing the
    // user needs to hear.
    enum class State { None, Starting, Streaming, Lost, Returning };

    // What recordLoss found.
    struct Loss {
        // The camera was not lost before; it is now.
        bool newlyLost;
        // The line to say; empty when there is no camera, when this loss was
        // told already, or for a return that failed, told as the loss it was.
        std::string line;
    };

    // A camera is starting.
    void start(const CameraName &camera);
    // The camera stopped for `reason`. Whether the user hears of it is
    // decided here, once for each loss.
    Loss recordLoss(const std::string &reason);
    // The system lists the lost camera again; true when the graph should be
    // built anew for it.
    bool returned();
    // A picture came; the line to say, or empty.
    std::string pictureArrived();
    // The test pattern shows instead of a camera; `wanted` is the camera the
    // user named, patternChoice, or empty.
    void showPattern(const std::string &wanted);
    // The system has not finished listing its cameras.
    void lookForCameras();

    State state() const { return state_; }
    // "cloakcam", then what the window shows, or why it shows the test
    // pattern; short enough for the title bar of a 320-pixel window.
    const std::string &title() const { return title_; }

  private:
    void retitle(const std::string &shown);

    State state_ = State::None;
    std::string camera_;
    // The camera's name as the title gives it.
    std::string shortName_;
    std::string title_ = "cloakcam";
};

// Why a camera stopped, in the user's words, from the error the graph gave.
std::string reasonFor(HRESULT error);
// Whether the error says the camera is held by another program or the user
// may not use it: it is tried again, ever less often, and never given up.
bool isRefusal(HRESULT error);
// Whether the error says the camera's USB port had no bandwidth left for it
// (or, as often, that another program holds it).
bool isOutOfBandwidth(HRESULT error);
// The reason given for a camera none of whose formats can be shown.
extern const char *const noFormatReason;
// A result code as Windows writes it: "0x80070005".
std::string hexCode(HRESULT code);

// The reason given for a camera that connected in none of its formats
// (`offered`, as describeFormats words them), the last try failing with
// `error`.
std::string unconnectedReason(HRESULT error, const std::string &offered);
// The reason given for a camera whose pictures, `bytes` long, fit no size.
std::string unreadableReason(long bytes);

#endif
