#include "platform/camera/state_change.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

std::atomic<int> &leftWaiting() {
    static std::atomic<int> count{0};
    return count;
}

} // namespace

bool changeWithinBound(std::function<void()> change, std::chrono::milliseconds bound,
                       std::shared_ptr<std::atomic<int>> unfinished) {
    struct Progress {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        bool abandoned = false;
    };
    auto progress = std::make_shared<Progress>();
    if (unfinished)
        ++*unfinished;
    try {
        std::thread([change, progress, unfinished] {
            change();
            if (unfinished)
                --*unfinished;
            std::lock_guard<std::mutex> lock(progress->mutex);
            progress->done = true;
            if (progress->abandoned)
                --leftWaiting();
            progress->finished.notify_all();
        }).detach();
    } catch (const std::system_error &) {
        change();
        if (unfinished)
            --*unfinished;
        return true;
    }
    std::unique_lock<std::mutex> lock(progress->mutex);
    if (progress->finished.wait_for(lock, bound, [&] { return progress->done; }))
        return true;
    progress->abandoned = true;
    ++leftWaiting();
    return false;
}

int unfinishedChanges() { return leftWaiting().load(); }
