#ifndef CLOAKCAM_CAPTURE_CAMERA_SESSION_H
#define CLOAKCAM_CAPTURE_CAMERA_SESSION_H

// The camera's life as the program sees it, apart from any graph: which
// camera to show, when it has started, stalled, been lost or come back,
// when to look for it again and how often, when the test pattern stands in
// for it, and what the user is told meanwhile. Whoever owns the graph tells
// it what happened and carries out what it orders; the time is given in
// milliseconds on any steady clock, so that its rules can be tried without
// a camera and without waiting.

#include <functional>
#include <string>
#include <vector>

#include "capture/camera_choice.h"
#include "capture/camera_status.h"
#include "capture/picture_source.h"

class CameraSession {
  public:
    using Millis = long long;

    // What the graph's owner does next.
    enum class Order {
        None,
        // Let go of the lost camera, so that it can come back.
        Stop,
        // List the cameras and hand them to camerasListed.
        LookForCameras,
        // Build the graph afresh: the camera may be back.
        Rebuild,
    };

    // How a camera failed, which says when it is tried again: later and
    // later in every case (2, 4, 8, then every 16 s), as each try builds a
    // graph afresh.
    enum class Retry {
        // Held by another program, or not allowed: this camera it stays,
        // however long that lasts.
        Refused,
        // Anything else. A camera that fails so before its first picture
        // gives way to the next likeliest one, unless the user named it.
        Failed,
        // Like Failed, but tried again only once the cameras listed change:
        // trying again changes nothing.
        WhenCamerasChange,
        // Like WhenCamerasChange, and also tried on the longest back-off: a
        // camera that connects in none of its formats, for no reason given.
        Rarely,
        // The camera's USB port had no bandwidth left for it: the graph is
        // built again at once, once, in a format that needs less; after
        // that, as Refused.
        Bandwidth,
    };

    // `wanted` is the camera the user named (CLOAKCAM_DEVICE), patternChoice,
    // or empty; each line for the user goes to `tell`, without the
    // program's name.
    CameraSession(std::string wanted, std::function<void(const std::string &)> tell);

    // The graph is being built on `cameras`: the one to bind, or -1 for
    // none, the pattern showing or the camera not there. `complete` is false
    // while the system is still making its first list of cameras.
    int cameraFor(const std::vector<CameraName> &cameras, Millis now, bool complete = true);

    // What the graph tells.
    void failed(const std::string &reason, Retry retry, Millis now);
    void unplugged(Millis now);
    void pluggedBack(Millis now);
    void stoppedSending(Millis now);
    // The grabber's count of samples, each pass: a count that stands still
    // while the camera streams means the camera stopped.
    void samplesCounted(unsigned long samples, Millis now);
    // A picture came from the camera.
    void cameraPicture();
    // A picture is on screen, the camera's or the pattern's; once a pass.
    void pictureShown();

    // What to do now; asked once a pass.
    Order next(Millis now);
    // The cameras listed after LookForCameras: Rebuild, or None.
    Order camerasListed(const std::vector<CameraName> &cameras, Millis now, bool complete = true);
    // The first graph has been built and asked to run.
    void graphBuilt(Millis now);
    // The graph was built afresh after Rebuild.
    void rebuilt(Millis now);

    // Whether the starting camera's first picture is still awaited; past 5
    // seconds the camera has failed.
    bool awaitingFirstPicture(Millis now);
    bool showsPattern() const { return showsPattern_; }
    // Whether the camera is to be connected in a format needing less
    // bandwidth than the one it last ran out of it in.
    bool bandwidthLowered() const { return bandwidthLowered_; }
    // Whether the last picture shown was the first of a source other than
    // the one before: the start, a camera in the pattern's place, a camera's
    // late first picture. A camera back from a loss is the same source.
    bool newSource() const { return newSource_; }
    CameraStatus::State state() const { return status_.state(); }
    const std::string &title() const { return status_.title(); }

  private:
    void say(const std::string &line);
    // The camera stopped for `reason`: says what the status words, and when
    // it is newly lost has the graph let go of it and starts the wait for the
    // next try.
    void stopLostCamera(const std::string &reason, Millis now);
    // A camera that gave no first picture in time has failed.
    void checkFirstPicture(Millis now);
    // After the starting camera failed: the next likeliest camera listed that
    // has not failed yet, when there is one, is started instead.
    void moveOn(Millis now);
    void startCamera(const CameraName &camera, Millis now);
    // Whether `cameras` hold the camera to show, or one to take the
    // pattern's place; takes that one up.
    bool lookFor(const std::vector<CameraName> &cameras, Millis now);

    const std::string wanted_;
    const std::function<void(const std::string &)> tell_;
    CameraStatus status_;
    PictureSource source_;
    CameraName camera_;
    bool chosen_ = false;
    // The system has listed no camera yet, and is still looking.
    bool looking_ = false;
    // The pattern shows for want of a camera, not because the user asked.
    bool waitingForCamera_ = false;
    bool showsPattern_ = false;
    bool newSource_ = false;
    bool unusable_ = false;
    bool rarely_ = false;
    bool bandwidthLowered_ = false;
    bool stopOrdered_ = false;
    bool rebuildOrdered_ = false;
    // The cameras that failed before their first picture, by path.
    std::vector<std::string> passedOver_;
    std::vector<CameraName> listed_;
    unsigned long samples_ = 0;
    Millis startedAt_ = 0;
    Millis lastSampleAt_ = 0;
    Millis lastAttempt_ = 0;
    Millis lastLook_ = 0;
    bool looked_ = false;
    bool backingOff_ = false;
    Millis retryDelay_;
};

// How soon a camera that failed with `error` is tried again.
CameraSession::Retry retryAfter(HRESULT error);

// Milliseconds on the steady clock, for the session's times.
CameraSession::Millis steadyNow();

#endif
