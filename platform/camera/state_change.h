#ifndef CLOAKCAM_PLATFORM_STATE_CHANGE_H
#define CLOAKCAM_PLATFORM_STATE_CHANGE_H

// GStreamer's state changes can wait without end on a device or service that
// does not answer (PipeWire's source waits for its daemon, a stalled driver
// for its camera), and nothing a camera does may hold up the program's
// window for long.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

// How long a caller waits for a state change before leaving it to finish by
// itself.
constexpr std::chrono::milliseconds stateChangeBound{500};

// How many changes may be left waiting at once: beyond it, nothing new is
// started on a device or service that does not answer.
constexpr int unfinishedChangesBound = 4;

// Runs `change` on a thread of its own and waits up to `bound` for it; true
// when it finished in time. What `change` uses must outlive it, so it owns
// what it touches. Without a thread to be had, it runs here. `unfinished`,
// when given, counts it until it has finished.
bool changeWithinBound(std::function<void()> change,
                       std::chrono::milliseconds bound = stateChangeBound,
                       std::shared_ptr<std::atomic<int>> unfinished = nullptr);

// The changes left to finish by themselves that have not yet.
int unfinishedChanges();

#endif
