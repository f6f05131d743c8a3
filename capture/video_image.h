#ifndef CLOAKCAM_CAPTURE_VIDEO_IMAGE_H
#define CLOAKCAM_CAPTURE_VIDEO_IMAGE_H

#include <memory>
#include <string>

#include "capture/camera_frame.h"
#include "capture/camera_session.h"
#include "capture/sample_counter.h"
#include "capture/test_pattern.h"
#include "common/directshow.h"
#include "common/pixel.h"

// Turns the bottom-up BGR bytes of one camera frame into pixel records, walking
// the data backwards so that record 0 is the top-left of an upright picture
// mirrored left to right. Reads at most count * 3 bytes and never before the
// start of frame; records left without data become black.
void convertFrame(const unsigned char *frame, long frameSize, Pixel *const *pixels, int count);

// The camera connection: builds and runs the capture graph on the camera the
// session chooses, and turns its latest frame into pixel records on request;
// the test pattern's when there is no camera. The camera's rules (start,
// loss, return, retry, what the user is told) are the session's; this class
// carries them out on the graph.
class getVideoImage {
  public:
    getVideoImage(int width, int height);
    // Stops the graph and lets go of it, and frees the records and the frame
    // buffer. The object owns them, so it is never copied.
    ~getVideoImage();
    getVideoImage(const getVideoImage &) = delete;
    getVideoImage &operator=(const getVideoImage &) = delete;

    // Copies the most recent camera frame and rewrites every record. While
    // the camera is away the last picture stays.
    void updateImage();
    // Whether the picture the last updateImage brought is the first from a
    // source other than the one shown before.
    bool newSource() const { return session.newSource(); }
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
    const std::string &title() const { return session.title(); }

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

    // The per-pass work (video_image.cpp).
    // Takes every event the graph has posted and tells the session.
    void handleEvents();
    // Does what the session orders.
    void carryOut(CameraSession::Order order);
    bool fetchFrame();

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
    // Drawn into the frame buffer in place of the camera's pictures.
    std::unique_ptr<TestPattern> pattern;
    bool comInitialised = false;
};

#endif
