#ifndef CLOAKCAM_PLATFORM_CAMERA_WATCH_H
#define CLOAKCAM_PLATFORM_CAMERA_WATCH_H

// Looks after the camera of a running graph. When the camera cannot start, or
// fails or vanishes while streaming, it says so in one line and stops the
// pipeline, so the device is let go while the grabber keeps its last picture.
// When the system lists the same camera again, it makes a fresh source from
// it, starts the pipeline again and says so once the pictures flow.
//
// Nothing here runs on the caller's thread for long: bus messages arrive
// through sync handlers on whichever thread posts them, and the state changes
// they call for run on the watch's own thread, which sleeps until there is work.

#include "platform/gst_filter.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class CameraWatch {
  public:
    // Watches `camera`, whose filter is in `pipeline`; made before the pipeline
    // starts. A camera that cannot start is also told to `notify` as the graph
    // event EC_ERRORABORT, so that whoever waits for its first picture stops.
    CameraWatch(GstElement *pipeline, IGstCamera *camera,
                std::function<void(LONG code, LONG_PTR param1)> notify);
    // Only after close() and after the pipeline has stopped, so that no
    // streaming thread is still in the watch.
    ~CameraWatch();
    CameraWatch(const CameraWatch &) = delete;
    CameraWatch &operator=(const CameraWatch &) = delete;

    // Errors and the end of the stream, from the pipeline's bus on any thread.
    void pipelineMessage(GstMessage *message);
    // Stops watching and waits for a restart under way to finish.
    void close();

  private:
    enum class State { Starting, Streaming, Lost, Returning };
    enum class Work { None, Release, Restart };

    static GstBusSyncReply onDeviceMessage(GstBus *bus, GstMessage *message, gpointer self);
    static GstPadProbeReturn onBuffer(GstPad *pad, GstPadProbeInfo *info, gpointer self);
    void deviceMessage(GstMessage *message);
    void pictureArrived();
    void lose(const std::string &reason);
    void work();
    void restart(GstDevice *device);

    GstElement *pipeline_;
    IGstCamera *camera_;
    std::function<void(LONG code, LONG_PTR param1)> notify_;
    GstPad *output_;
    gulong probe_;
    GstDeviceMonitor *monitor_;
    std::string path_;
    std::string name_;

    std::mutex mutex_;
    std::condition_variable wake_;
    State state_ = State::Starting;
    Work pending_ = Work::None;
    GstDevice *returned_ = nullptr;
    bool closing_ = false;
    // Whether a picture would change the state; spares every other picture the lock.
    std::atomic<bool> awaitingPicture_{true};
    std::thread worker_;
};

#endif
