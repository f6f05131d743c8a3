#include "platform/state_change.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

bool changeWithinBound(std::function<void()> change, std::chrono::milliseconds bound) {
    struct Progress {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
    };
    auto progress = std::make_shared<Progress>();
    try {
        std::thread([change, progress] {
            change();
            std::lock_guard<std::mutex> lock(progress->mutex);
            progress->done = true;
            progress->finished.notify_all();
        }).detach();
    } catch (const std::system_error &) {
        change();
        return true;
    }
    std::unique_lock<std::mutex> lock(progress->mutex);
    return progress->finished.wait_for(lock, bound, [&] { return progress->done; });
}
