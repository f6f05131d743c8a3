#include "capture/camera_session.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

using Millis = CameraSession::Millis;

// How long the camera's first picture is waited for. Cameras take a moment to
// start; without the wait the automatic reference, taken a few passes after
// start, would be a black frame.
constexpr Millis firstPictureTimeout = 5000;
// A camera that sends nothing for this long has stopped: the slowest cameras,
// in poor light, still give a few pictures a second. A camera service that
// dies (PipeWire) says nothing else.
constexpr Millis stallTimeout = 3000;
// How often the cameras are listed while one is lost, or while the pattern
// waits for one. Device monitors tell of most returns at once; this catches
// the rest (a camera service restarted, a camera listed again that did not
// start).
constexpr Millis lookInterval = 2000;
// How often the cameras are listed while the system makes its first list:
// the camera should show as soon as it is found.
constexpr Millis firstListInterval = 250;
// A camera that keeps failing is tried half as often each time, down to
// this: each attempt opens the device afresh, and a driver that refuses
// may take seconds over it.
constexpr Millis longestRetryDelay = 16000;

const char *const noPictureReason = "it has delivered no picture in 5 seconds";

} // namespace

CameraSession::CameraSession(std::string wanted, std::function<void(const std::string &)> tell)
    : wanted_(std::move(wanted)), tell_(std::move(tell)), retryDelay_(lookInterval) {}

int CameraSession::cameraFor(const std::vector<CameraName> &cameras, Millis now, bool complete) {
    const std::vector<CameraName> before = std::exchange(listed_, cameras);
    unusable_ = rarely_ = false;
    // Nothing is said of cameras not found before the system has looked
    // everywhere; the pattern shows meanwhile.
    if (!chosen_ && !complete && cameras.empty() && wanted_ != patternChoice) {
        looking_ = true;
        showsPattern_ = true;
        status_.lookForCameras();
        return -1;
    }
    if (!chosen_) {
        looking_ = showsPattern_ = false;
        chosen_ = true;
        const CameraChoice choice = chooseCamera(cameras, wanted_);
        say(choice.message);
        if (choice.index < 0) {
            showsPattern_ = true;
            status_.showPattern(wanted_);
            // Unless the user asked for the pattern, a camera plugged in
            // later takes its place.
            waitingForCamera_ = wanted_ != patternChoice;
            return -1;
        }
        startCamera(cameras[choice.index], now);
        return choice.index;
    }
    if (showsPattern_)
        return -1;
    const int index = findCamera(cameras, camera_, before);
    // The camera that came back is gone again before it could be bound.
    if (index < 0)
        stopLostCamera("it was unplugged", now);
    return index;
}

void CameraSession::failed(const std::string &reason, Retry retry, Millis now) {
    if (retry == Retry::Bandwidth) {
        // Told twice by one attempt (Run's result, and the camera's event).
        if (bandwidthLowered_ && rebuildOrdered_)
            return;
        if (!bandwidthLowered_) {
            bandwidthLowered_ = true;
            rebuildOrdered_ = true;
            return;
        }
        retry = Retry::Refused;
    }
    if (retry == Retry::WhenCamerasChange)
        unusable_ = true;
    rarely_ = rarely_ || retry == Retry::Rarely;
    const CameraStatus::State was = status_.state();
    // One attempt may fail several ways at once (Run's result, and the event
    // the camera posts); it counts once.
    if (was != CameraStatus::State::Lost && !backingOff_) {
        retryDelay_ = lookInterval;
        backingOff_ = true;
    }
    stopLostCamera(reason, now);
    if (was == CameraStatus::State::Starting && retry != Retry::Refused && wanted_.empty())
        moveOn(now);
}

void CameraSession::unplugged(Millis now) { stopLostCamera("it was unplugged", now); }

void CameraSession::pluggedBack(Millis) {
    // A camera that returns is a new device to the system: the old filter
    // cannot use it, so the graph is built afresh.
    if (status_.returned())
        rebuildOrdered_ = true;
}

void CameraSession::stoppedSending(Millis now) {
    failed("it stopped sending pictures", Retry::Failed, now);
}

void CameraSession::samplesCounted(unsigned long samples, Millis now) {
    checkFirstPicture(now);
    if (samples != samples_) {
        samples_ = samples;
        lastSampleAt_ = now;
        return;
    }
    const CameraStatus::State state = status_.state();
    // A camera back from a loss gets as long to send its first picture, from
    // when its graph is built.
    if ((state == CameraStatus::State::Streaming || state == CameraStatus::State::Returning) &&
        !rebuildOrdered_ && now - lastSampleAt_ > stallTimeout)
        stoppedSending(now);
}

void CameraSession::cameraPicture() {
    say(status_.pictureArrived());
    if (status_.state() == CameraStatus::State::Streaming) {
        retryDelay_ = lookInterval;
        backingOff_ = false;
        passedOver_.clear();
    }
}

void CameraSession::pictureShown() { newSource_ = source_.shown(showsPattern_, camera_.path); }

CameraSession::Order CameraSession::next(Millis now) {
    if (stopOrdered_) {
        stopOrdered_ = false;
        return Order::Stop;
    }
    if (rebuildOrdered_)
        return Order::Rebuild;
    if (looking_ && now - lastLook_ >= firstListInterval) {
        lastLook_ = now;
        return Order::LookForCameras;
    }
    const CameraStatus::State state = status_.state();
    if (!waitingForCamera_ && state != CameraStatus::State::Lost &&
        state != CameraStatus::State::Returning)
        return Order::None;
    if (looked_ && now - lastLook_ < lookInterval)
        return Order::None;
    looked_ = true;
    lastLook_ = now;
    return Order::LookForCameras;
}

CameraSession::Order CameraSession::camerasListed(const std::vector<CameraName> &cameras,
                                                  Millis now, bool complete) {
    // The first list is done: the graph is built on it as at the start.
    if (looking_) {
        if (!complete && cameras.empty())
            return Order::None;
        rebuildOrdered_ = true;
        return Order::Rebuild;
    }
    // Another list of cameras is worth a try at once; the same list is tried
    // again only once the camera can have changed its mind.
    const bool newList = cameras != listed_;
    if (newList) {
        retryDelay_ = lookInterval;
        backingOff_ = false;
    }
    const Millis wait = rarely_ ? longestRetryDelay : retryDelay_;
    if (!newList && (unusable_ || now - lastAttempt_ < wait))
        return Order::None;
    if (!lookFor(cameras, now))
        return Order::None;
    status_.returned();
    rebuildOrdered_ = true;
    return Order::Rebuild;
}

void CameraSession::rebuilt(Millis now) {
    rebuildOrdered_ = false;
    // Each try that gives no picture makes the next wait longer, whether it
    // failed outright or only stayed silent.
    if (backingOff_)
        retryDelay_ = std::min(retryDelay_ * 2, longestRetryDelay);
    lastAttempt_ = now;
    graphBuilt(now);
}

void CameraSession::graphBuilt(Millis now) {
    // A camera is timed from its own graph: building one can take seconds.
    if (status_.state() == CameraStatus::State::Starting)
        startedAt_ = now;
    lastSampleAt_ = now;
}

bool CameraSession::awaitingFirstPicture(Millis now) {
    checkFirstPicture(now);
    // A graph to build for another camera is built by the passes.
    return status_.state() == CameraStatus::State::Starting && !stopOrdered_ && !rebuildOrdered_;
}

void CameraSession::checkFirstPicture(Millis now) {
    if (status_.state() == CameraStatus::State::Starting && !rebuildOrdered_ &&
        now - startedAt_ >= firstPictureTimeout)
        failed(noPictureReason, Retry::Failed, now);
}

void CameraSession::moveOn(Millis now) {
    passedOver_.push_back(camera_.path);
    for (int index : rankCameras(listed_)) {
        const CameraName &next = listed_[index];
        if (std::find(passedOver_.begin(), passedOver_.end(), next.path) != passedOver_.end())
            continue;
        startCamera(next, now);
        say("using camera " + describeCamera(next));
        unusable_ = false;
        retryDelay_ = lookInterval;
        backingOff_ = false;
        rebuildOrdered_ = true;
        return;
    }
}

void CameraSession::startCamera(const CameraName &camera, Millis now) {
    camera_ = camera;
    bandwidthLowered_ = false;
    status_.start(camera_);
    startedAt_ = now;
}

void CameraSession::say(const std::string &line) {
    if (!line.empty())
        tell_(line);
}

void CameraSession::stopLostCamera(const std::string &reason, Millis now) {
    const CameraStatus::Loss loss = status_.recordLoss(reason);
    say(loss.line);
    if (loss.newlyLost) {
        stopOrdered_ = true;
        lastAttempt_ = now;
    }
}

bool CameraSession::lookFor(const std::vector<CameraName> &cameras, Millis now) {
    if (!waitingForCamera_)
        return findCamera(cameras, camera_, listed_) >= 0;
    // A named camera is waited for by its name alone.
    const CameraChoice choice = chooseCamera(cameras, wanted_);
    if (choice.index < 0 || (!wanted_.empty() && !choice.message.empty()))
        return false;
    waitingForCamera_ = false;
    showsPattern_ = false;
    startCamera(cameras[choice.index], now);
    say("using camera " + describeCamera(camera_));
    return true;
}

CameraSession::Millis steadyNow() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

CameraSession::Retry retryAfter(HRESULT error) {
    if (isOutOfBandwidth(error))
        return CameraSession::Retry::Bandwidth;
    return isRefusal(error) ? CameraSession::Retry::Refused : CameraSession::Retry::Failed;
}
