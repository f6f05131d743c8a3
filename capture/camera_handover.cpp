#include "capture/camera_handover.h"

#include <utility>

CameraHandover::CameraHandover(long bytes)
    : drawn_(new unsigned char[static_cast<unsigned long>(bytes)]()),
      latest_(new unsigned char[static_cast<unsigned long>(bytes)]()) {}

CameraHandover::~CameraHandover() {
    delete[] drawn_;
    delete[] latest_;
}

void CameraHandover::publishPicture(long size, bool newSource) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::swap(drawn_, latest_);
    latestSize_ = size;
    fresh_ = true;
    newSource_ = newSource_ || newSource;
}

void CameraHandover::publishStatus(const std::string &title, bool awaiting) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (title == title_ && awaiting == awaiting_)
        return;
    title_ = title;
    awaiting_ = awaiting;
    ++statusVersion_;
}

bool CameraHandover::takePicture(unsigned char **picture, long *size, bool *newSource) {
    std::lock_guard<std::mutex> lock(mutex_);
    *newSource = false;
    if (!fresh_)
        return false;
    std::swap(*picture, latest_);
    *size = latestSize_;
    *newSource = std::exchange(newSource_, false);
    fresh_ = false;
    return true;
}

void CameraHandover::takeStatus(std::string *title, bool *awaiting) {
    std::lock_guard<std::mutex> lock(mutex_);
    *awaiting = awaiting_;
    if (statusTaken_ == statusVersion_)
        return;
    *title = title_;
    statusTaken_ = statusVersion_;
}
