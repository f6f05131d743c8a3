#ifndef CLOAKCAM_PLATFORM_CAMERA_WATCH_H
#define CLOAKCAM_PLATFORM_CAMERA_WATCH_H

// What a started camera has to tell, read off its pipeline's bus: its
// failures, the end of its stream, and its removal and return, which the
// device monitor's listener and the source's pad post onto the same bus.
// GStreamer tells of one failure in several ways (the source's error, the
// device monitor's removal, the stream's end); the first of them stands for
// the rest, so each loss is told once. Some are told only a moment later,
// when what comes next may explain them.
//
// Only the thread reading the bus uses the watch; the others only post.

#include "platform/camera/camera_table.h"

#include <gst/gst.h>

#include <chrono>
#include <deque>
#include <string>

class CameraWatch {
  public:
    using Clock = std::chrono::steady_clock;

    // Watches `camera`, whose pipeline posts on `bus`, from now until the
    // watch goes. `source` is the camera's pad, watched for the format its
    // stream agrees on when the camera is shared.
    CameraWatch(const CameraListing &camera, GstBus *bus, GstPad *source, bool shared);
    ~CameraWatch();
    CameraWatch(const CameraWatch &) = delete;
    CameraWatch &operator=(const CameraWatch &) = delete;

    // Takes in one message from the bus.
    void read(GstMessage *message);
    // The first event due by `now`, taken; otherwise when the next falls due
    // (Clock::time_point::max() for none).
    bool takeDue(CameraEvent *event, Clock::time_point now, Clock::time_point *next);
    // The first failure noted, due or not, taken: why a start failed.
    CameraEvent takeFailure();

  private:
    void deviceChanged(bool added, const std::string &path, const std::string &name,
                       Clock::time_point at);
    void pipelineFailed(GstMessage *message);
    bool busyTold(Clock::time_point at);
    void tell(CameraEvent event, Clock::time_point due);
    void lose(CameraEvent event, Clock::time_point at);

    struct Pending {
        CameraEvent event;
        Clock::time_point due;
    };

    GstBus *bus_;
    GstPad *pad_ = nullptr;
    gulong probe_ = 0;
    int listener_;
    std::string path_;
    std::string name_;
    // Its device node was there when the watch began: its going is a removal.
    bool hasNode_ = false;

    std::deque<Pending> pending_;
    bool lost_ = false;
    // The loss told is a read error, which a removal coming after explains.
    bool readFailed_ = false;
    // Busy is told at busyAt_ unless the stream agrees on a format first, or
    // fails in a way of its own before.
    bool awaitingFormat_ = false;
    Clock::time_point busyAt_;
};

#endif
