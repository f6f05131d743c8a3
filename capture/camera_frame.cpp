#include "capture/camera_frame.h"

#include "capture/media_type.h"
#include "capture/pins_and_types.h"

namespace {

bool connectedLayout(ISampleGrabber *grabber, FrameLayout *layout) {
    AM_MEDIA_TYPE type = {};
    if (!grabber || FAILED(grabber->GetConnectedMediaType(&type)))
        return false;
    const bool known = frameLayoutOf(type, layout);
    freeMediaType(type);
    return known;
}

bool sameLayout(const FrameLayout &a, const FrameLayout &b) {
    return a.format == b.format && a.width == b.width && a.height == b.height &&
           a.topDown == b.topDown && a.stride == b.stride && a.rows() == b.rows();
}

} // namespace

bool CameraFrame::learn(ISampleGrabber *grabber, int width, int height) {
    width_ = width;
    height_ = height;
    fetched_ = false;
    unreadableBytes_ = 0;
    known_ = connectedLayout(grabber, &layout_);
    camera_.assign(known_ && !drawnAsIs() ? static_cast<size_t>(layout_.bytes()) : 0, 0);
    return known_;
}

void CameraFrame::forget() {
    known_ = false;
    fetched_ = false;
    unreadableBytes_ = 0;
}

bool CameraFrame::fetch(ISampleGrabber *grabber, unsigned long samples, unsigned char *picture,
                        LONG *pictureSize) {
    if (!known_)
        return false;
    // Copying and converting a camera's picture costs with its size; it is
    // done once per picture, however often the window is drawn.
    if (samples == samplesFetched_)
        return fetched_;
    // A picture of another length than the layout's is read again once a
    // layout that fits it is taken.
    for (int attempt = 0;; ++attempt) {
        const bool asIs = drawnAsIs();
        const long whole = asIs ? 3L * width_ * height_ : layout_.bytes();
        LONG size = static_cast<LONG>(whole);
        const HRESULT result = grabber->GetCurrentBuffer(
            &size, reinterpret_cast<LONG *>(asIs ? picture : camera_.data()));
        if (result == E_OUTOFMEMORY || (result == S_OK && size != whole)) {
            // Too large to be copied: the grabber tells its length.
            if (result == E_OUTOFMEMORY && FAILED(grabber->GetCurrentBuffer(&size, nullptr)))
                return false;
            if (attempt == 0 && relearn(grabber, size))
                continue;
            // Fits nothing: a longer one is not shown, a shorter one shows
            // its rows.
            if (result != S_OK) {
                samplesFetched_ = samples;
                return fetched_;
            }
        } else {
            unreadableBytes_ = 0;
        }
        if (result != S_OK)
            return false;
        if (asIs) {
            *pictureSize = size;
        } else {
            bgrFromCameraFrame(camera_.data(), size, layout_, picture, width_, height_);
            *pictureSize = 3L * width_ * height_;
        }
        samplesFetched_ = samples;
        fetched_ = true;
        return true;
    }
}

bool CameraFrame::drawnAsIs() const {
    return layout_.format == PixelFormat::Rgb24 && layout_.width == width_ &&
           layout_.height == height_ && !layout_.topDown && layout_.stride == 3L * width_;
}

bool CameraFrame::relearn(ISampleGrabber *grabber, long bytes) {
    // Told already: pictures of that length keep coming, and finding out
    // again would cost a media type per picture.
    if (bytes == unreadableBytes_)
        return false;
    FrameLayout connected;
    if (!connectedLayout(grabber, &connected))
        return false;
    FrameLayout found = connected;
    if (connected.bytes() != bytes && !layoutOfSize(connected, bytes, &found)) {
        unreadableBytes_ = bytes;
        return false;
    }
    unreadableBytes_ = 0;
    if (sameLayout(found, layout_))
        return false;
    take(found);
    return true;
}

void CameraFrame::take(const FrameLayout &layout) {
    layout_ = layout;
    camera_.assign(drawnAsIs() ? 0 : static_cast<size_t>(layout_.bytes()), 0);
}
