#ifndef CLOAKCAM_CAPTURE_CAMERA_HANDOVER_H
#define CLOAKCAM_CAPTURE_CAMERA_HANDOVER_H

// What the camera's thread hands the window's: the latest picture, and what
// the window says of the camera. Pictures change hands by swapping buffers
// of one size, so neither thread ever copies, allocates or waits for the
// other longer than a swap.

#include <mutex>
#include <string>

class CameraHandover {
  public:
    // Three pictures of `bytes` bytes: one the camera's thread draws into,
    // the latest one drawn, and the caller's own (window's) one.
    explicit CameraHandover(long bytes);
    ~CameraHandover();
    CameraHandover(const CameraHandover &) = delete;
    CameraHandover &operator=(const CameraHandover &) = delete;

    // The camera's thread's side.
    // Where the next picture is drawn.
    unsigned char *nextPicture() { return drawn_; }
    // The picture in nextPicture, `size` bytes, is the latest; `newSource`
    // when it is the first of a source other than the last one's.
    void publishPicture(long size, bool newSource);
    // The window's title, and whether the camera's first picture is awaited.
    void publishStatus(const std::string &title, bool awaiting);

    // The window's thread's side.
    // Swaps the latest picture into `*picture` (a buffer of `bytes` that
    // this class may keep in exchange) when one came since the last take.
    // A new source is told once, however many pictures came since.
    bool takePicture(unsigned char **picture, long *size, bool *newSource);
    // What the camera's thread said last; copied only when it changed.
    void takeStatus(std::string *title, bool *awaiting);

  private:
    std::mutex mutex_;
    unsigned char *drawn_;
    unsigned char *latest_;
    long latestSize_ = 0;
    bool fresh_ = false;
    bool newSource_ = false;
    std::string title_ = "cloakcam";
    // Until the camera's thread says otherwise, the camera is starting.
    bool awaiting_ = true;
    unsigned statusVersion_ = 1;
    unsigned statusTaken_ = 0;
};

#endif
