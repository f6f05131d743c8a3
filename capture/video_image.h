#ifndef CLOAKCAM_CAPTURE_VIDEO_IMAGE_H
#define CLOAKCAM_CAPTURE_VIDEO_IMAGE_H

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "capture/camera_choice.h"
#include "capture/camera_status.h"
#include "capture/directshow.h"
#include "capture/format_choice.h"
#include "capture/frame_layout.h"
#include "capture/picture_source.h"
#include "capture/sample_counter.h"
#include "capture/test_pattern.h"
#include "common/pixel.h"

// Turns the bottom-up BGR bytes of one camera frame into pixel records, walking
// the data backwards so that record 0 is the top-left of an upright picture
// mirrored left to right. Reads at most count * 3 bytes and never before the
// start of frame; records left without data become black.
void convertFrame(const unsigned char *frame, long frameSize, Pixel *const *pixels, int count);

// The camera connection: builds and runs the capture graph on the chosen
// video input device (the first one, or the one CLOAKCAM_DEVICE names), and
// turns its latest frame into pixel records on request. Without a camera it
// shows a moving test pattern instead. It tells the user in one line when the
// camera cannot start, is lost or is back, and builds the graph anew when a
// lost camera returns.
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
    // source other than the one shown before: the camera's first picture, or
    // a camera's in the test pattern's place. A camera back from a loss is the
    // same source.
    bool newSource() const { return sourceChanged; }
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
    const std::string &title() const { return status.title(); }

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
    // The video input devices listed by `devices`, by name; their monikers
    // go to `monikers` with a reference each, unless it is null.
    static std::vector<CameraName> listCameras(ICreateDevEnum *devices,
                                               std::vector<IMoniker *> *monikers);
    // Binds the chosen camera's moniker into `captureFilter` and leaves
    // `moniker` released; false when there is no camera to show.
    bool bindCamera();
    static std::vector<CameraName> listCamerasNow();
    // Whether the camera lost, or one to take the test pattern's place, is
    // among `names`.
    bool lookForCamera(const std::vector<CameraName> &names);
    // The steps of buildGraph after the camera is bound, in order.
    void addToGraph(IBaseFilter *filter, LPCWSTR name, const char *failure);
    void addGrabber();
    // Asks the camera for the frame size and joins it to the grabber.
    void connectCamera(ICaptureGraphBuilder2 *builder, int width, int height);
    // How the connected camera's pictures come, so that other sizes are scaled.
    void learnFrameLayout(bool sizeTaken);
    bool drawnAsIs() const;
    void addRenderer();
    void renderPreview(ICaptureGraphBuilder2 *builder);
    HRESULT runGraph();
    // Builds the graph afresh when a lost camera may be back, or a camera has
    // come while the pattern shows; at most once every retryInterval.
    void retryCamera();
    // Not while the old graph is still stopping: a camera stuck there would
    // hold up the new graph too, and each attempt would leave more waiting.
    // The retries try again later.
    void rebuildGraph();
    // Whether the graph's last stop or start has yet to finish.
    bool graphStillChanging();
    // Takes every event the graph has posted and acts on it.
    void handleEvents();
    // A streaming camera whose pictures have stopped is lost.
    void noticeStall();
    // Tells of the camera's loss, once, and lets go of it.
    void lose(const std::string &reason);
    bool fetchFrame();
    void stopGraph();
    void releaseGraph();
    void say(const std::string &line);

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

    IMediaEventEx *events = nullptr;
    bool cameraConnected = false;
    FrameLayout layout{PixelFormat::Rgb24, 0, 0, false, 0};
    // A picture of the camera's own size, before it is scaled into `buffer`.
    std::vector<unsigned char> frame;
    // The camera cannot be shown as it is: it is tried again only once the
    // system tells of a change, a return or another list of cameras.
    bool unusable = false;
    // The cameras listed when the graph was last built.
    std::vector<CameraName> listed;
    // The camera shown, once chosen; a returning camera is looked up by it.
    CameraName camera;
    bool cameraChosen = false;
    // The pattern shows for want of a camera, not because the user asked.
    bool waitingForCamera = false;
    std::chrono::steady_clock::time_point lastAttempt;
    CameraStatus status;
    // Drawn into the frame buffer in place of the camera's pictures.
    std::unique_ptr<TestPattern> pattern;
    std::chrono::steady_clock::time_point started;
    bool firstPictureAwaited = false;
    // Told of each sample by the grabber; ours holds one reference.
    SampleCounter *counter;
    unsigned long samplesSeen = 0;
    std::chrono::steady_clock::time_point lastSampleAt;
    PictureSource shownSource;
    bool sourceChanged = false;
};

#endif
