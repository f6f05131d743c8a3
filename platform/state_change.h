#ifndef CLOAKCAM_PLATFORM_STATE_CHANGE_H
#define CLOAKCAM_PLATFORM_STATE_CHANGE_H

// GStreamer's state changes can wait without end on a device or service that
// does not answer (PipeWire's source waits for its daemon, a stalled driver
// for its camera), and nothing a camera does may hold up the program's
// window for long.

#include <chrono>
#include <functional>

// How long a caller waits for a state change before leaving it to finish by
// itself.
constexpr std::chrono::milliseconds stateChangeBound{500};

// Runs `change` on a thread of its own and waits up to `bound` for it; true
// when it finished in time. What `change` uses must outlive it, so it owns
// what it touches. Without a thread to be had, it runs here.
bool changeWithinBound(std::function<void()> change,
                       std::chrono::milliseconds bound = stateChangeBound);

#endif
