#ifndef CLOAKCAM_CAPTURE_VIDEO_IMAGE_H
#define CLOAKCAM_CAPTURE_VIDEO_IMAGE_H

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "capture/camera_frame.h"
#include "capture/camera_handover.h"
#include "capture/camera_session.h"
#include "capture/directshow.h"
#include "capture/sample_counter.h"
#include "capture/test_pattern.h"
#include "common/pixel.h"

// Turns the bottom-up BGR bytes of one camera frame into pixel records, walking
// the data backwards so that record 0 is the top-left of an upright picture
// mirrored left to right. Reads at most count * 3 bytes and never before the
// start of frame; records left without data become black.
void recordsFromBgr(const unsigned char *frame, long frameSize, Pixel *const *pixels, int count);

// The camera connection: builds and runs the capture graph on the camera the
// session chooses, and turns its latest frame into pixel records on request;
// the test pattern's when there is no camera. The camera's rules (start,
// loss, return, retry, what the user is told) are the session's; this class
// carries them out on the graph.
//
// Everything done to a camera (binding, connecting, starting, stopping,
// rebuilding, releasing) happens on a camera thread of the object's own,
// which owns the graph and COM there for its whole life: drivers take
// seconds over some of it, and the window must keep answering meanwhile.
// The window's thread only takes the latest picture and what the session
// says, through the handover.
class getVideoImage {
  public:
    // Starts the camera thread, which builds the graph; returns at once.
    getVideoImage(int width, int height);
    // Has the camera thread stop the graph and let go of it, and frees the
    // records and the frame buffer. The object owns them, so it is never
    // copied. A camera whose driver holds the thread for longer than a quit
    // may take ends the process without it.
    ~getVideoImage();
    getVideoImage(const getVideoImage &) = delete;
    getVideoImage &operator=(const getVideoImage &) = delete;

    // Takes the most recent picture and rewrites every record. While the
    // camera is away the last picture stays.
    void updateImage();
    // Whether the picture the last updateImage brought is the first from a
    // source other than the one shown before.
    bool newSource() const { return newSource_; }
    // Whether the camera is starting and has yet to give its first picture:
    // the caller waits for it, so that the automatic reference is not taken
    // of black, answering its own events meanwhile. Looks once and never
    // waits; after 5 seconds without a picture it says so and gives up.
    bool awaitingFirstPicture();
    // The records, count of them; the same array at the same addresses for
    // the object's whole life. Callers may overwrite their contents.
    Pixel **getImage();
    // The window's title for what is shown, changing as the camera comes and
    // goes; the same reference for the object's whole life.
    const std::string &title() const { return title_; }

    HRESULT buildGraph(int width, int height);
    // Graph helpers that touch no camera state, so they can be used on any
    // filters: the first pin of a direction in the filter's own order (with a
    // reference for the caller), and a connection from the first output pin of
    // one filter to the first input pin of another.
    static IPin *getPin(IBaseFilter *filter, PIN_DIRECTION direction);
    static HRESULT findPin(IBaseFilter *filter, PIN_DIRECTION direction, IPin **pin);
    static HRESULT connectFilters(IGraphBuilder *graph, IBaseFilter *upstream,
                                  IBaseFilter *downstream);

  private:
    // The graph's steps (capture_graph.cpp), in order.
    // Binds the camera the session chooses into `captureFilter`, or starts
    // the test pattern; false when there is no camera to show.
    bool bindCamera();
    void addToGraph(IBaseFilter *filter, LPCWSTR name, const char *failure);
    void addGrabber();
    // Asks the camera for a format and joins it to the grabber; true when
    // its pictures can be read.
    bool connectCamera(ICaptureGraphBuilder2 *builder, int width, int height);
    // Tries the camera's formats, best first, until one connects; tells the
    // session why when none does.
    bool negotiate(IPin *capturePin, IPin *grabberInput, int width, int height);
    // Connects in `subtype` with the grabber asking RGB24, else, for a
    // subtype the program converts, taking it as it comes.
    HRESULT connectAs(IPin *capturePin, IPin *grabberInput, const GUID &subtype);
    // The camera's video capture pin, with a reference for the caller.
    static IPin *findCapturePin(ICaptureGraphBuilder2 *builder, IBaseFilter *filter);
    void addRenderer();
    void renderPreview(ICaptureGraphBuilder2 *builder);
    HRESULT runGraph();
    void stopGraph();
    void releaseGraph();
    // Whether the graph's last stop or start has yet to finish.
    bool graphStillChanging();

    // The camera thread's work (video_image.cpp).
    void runCamera();
    // One turn of the camera thread: the graph's events, the session's
    // orders, and the latest picture handed over.
    void cameraStep();
    // Takes every event the graph has posted and tells the session.
    void handleEvents();
    // Does what the session orders.
    void carryOut(CameraSession::Order order);
    // Fetches a new camera picture into the handover; its size to `size`.
    bool fetchFrame(LONG *size);
    // Hands the window the picture drawn into the handover, and the status.
    void handOver(long size);
    void handOverStatus();
    // Waits for the camera thread to end, at most `millis`; true when it did.
    bool cameraThreadEnded(int millis);

    IGraphBuilder *graph = nullptr;
    IMoniker *moniker = nullptr;
    IBaseFilter *captureFilter = nullptr;
    ICreateDevEnum *deviceEnum = nullptr;
    IAMStreamConfig *streamConfig = nullptr;
    IBaseFilter *grabberFilter = nullptr;
    ISampleGrabber *grabber = nullptr;
    IBaseFilter *nullRenderer = nullptr;
    int width;
    int height;
    int count;
    unsigned char *buffer;
    LONG bufferSize;
    Pixel **pixels;

    CameraSession session;
    IMediaEventEx *events = nullptr;
    CameraFrame cameraFrame;
    // Told of each sample by the grabber; ours holds one reference.
    SampleCounter *counter;
    // Drawn into the frame buffer in place of the camera's pictures, at a
    // display's rate rather than every turn.
    std::unique_ptr<TestPattern> pattern;
    double patternDue = 0;
    bool comInitialised = false;
    // Samples counted when the last camera picture was handed over.
    unsigned long samplesHandedOver = 0;
    bool handedOver = false;
    // Bits a second of the format the camera was last connected in.
    long long bandwidth = 0;

    // Between the threads.
    CameraHandover handover;
    std::thread camera;
    std::atomic<bool> stopping{false};
    std::mutex cameraMutex;
    std::condition_variable cameraWake;
    bool cameraEnded = false;

    // The window's thread's own.
    std::string title_ = "cloakcam";
    bool awaiting_ = true;
    bool newSource_ = false;
};

#endif
