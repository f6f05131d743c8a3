#ifndef CLOAKCAM_CAPTURE_VIDEO_IMAGE_H
#define CLOAKCAM_CAPTURE_VIDEO_IMAGE_H

#include "capture/directshow.h"
#include "common/pixel.h"

// Turns the bottom-up BGR bytes of one camera frame into pixel records, walking
// the data backwards so that record 0 is the top-left of an upright picture
// mirrored left to right. Reads at most count * 3 bytes and never before the
// start of frame; records left without data become black.
void convertFrame(const unsigned char *frame, long frameSize, Pixel *const *pixels, int count);

// The camera connection: builds and runs the capture graph on the first video
// input device, and turns its latest frame into pixel records on request.
class getVideoImage {
  public:
    getVideoImage(int width, int height);
    // Frees the records and the frame buffer. The object owns them, so it is
    // never copied.
    ~getVideoImage();
    getVideoImage(const getVideoImage &) = delete;
    getVideoImage &operator=(const getVideoImage &) = delete;

    // Copies the most recent camera frame and rewrites every record.
    void updateImage();
    // The records, count of them; the same array at the same addresses for
    // the object's whole life. Callers may overwrite their contents.
    Pixel **getImage();

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
    void waitForFirstFrame();

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
};

#endif
