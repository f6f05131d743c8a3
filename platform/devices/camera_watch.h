#ifndef CLOAKCAM_PLATFORM_CAMERA_WATCH_H
#define CLOAKCAM_PLATFORM_CAMERA_WATCH_H

// What Windows' capture filters tell the graph about their device, told the
// same way here: EC_DEVICE_LOST when the system stops listing the camera
// (param2 0) and when it lists it again afterwards (param2 1), EC_ERRORABORT
// with an HRESULT when it fails, EC_COMPLETE when its stream ends.
// GStreamer tells of one failure in several ways (the source's error, the
// device monitor's removal, the stream's end), where Windows' filter posts
// one event: the first of them stands for the rest. Whether and how the user
// hears of it is the graph owner's business.
//
// Messages arrive through sync handlers on whichever thread posts them, so
// nothing here waits for anything.

#include "platform/directshow/gst_interfaces.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <string>

class CameraWatch {
  public:
    // `after`: how long the graph's owner should not hear of it yet.
    using Notify = std::function<void(LONG code, LONG_PTR param1, LONG_PTR param2,
                                      std::chrono::milliseconds after)>;
    // Takes back an event told with a delay that has not been heard yet.
    using Withdraw = std::function<void(LONG code, LONG_PTR param1)>;

    // Watches `camera`, a capture filter made from a device, for as long as
    // the watch lives.
    CameraWatch(IGstCamera *camera, Notify notify, Withdraw withdraw = {});
    // Only once no streaming thread can call pipelineMessage any more.
    ~CameraWatch();
    CameraWatch(const CameraWatch &) = delete;
    CameraWatch &operator=(const CameraWatch &) = delete;

    // Errors and the end of the stream, from the pipeline's bus on any thread.
    void pipelineMessage(GstMessage *message);

  private:
    void deviceMessage(GstDevice *device, bool added);
    void awaitFormat();
    void formatAgreed();
    bool busyTold();
    static GstPadProbeReturn onEvent(GstPad *pad, GstPadProbeInfo *info, gpointer watch);
    void lose(LONG code, LONG_PTR param1, LONG_PTR param2);
    void readFailed();
    void unplugged();

    IGstCamera *camera_;
    Notify notify_;
    Withdraw withdraw_;
    // The camera's pad, watched for the format its stream agrees on.
    GstPad *pad_ = nullptr;
    gulong probe_ = 0;
    int listener_;
    std::string path_;
    std::string name_;
    // Its device node was there when the watch began: its going is a removal.
    bool hasNode_ = false;

    std::mutex mutex_;
    bool lost_ = false;
    // The loss told is a read error, which a removal coming after explains.
    bool readFailed_ = false;
    // Busy is told at busyAt_ unless the stream agrees on a format first, or
    // fails in a way of its own before.
    bool awaitingFormat_ = false;
    std::chrono::steady_clock::time_point busyAt_;
};

#endif
