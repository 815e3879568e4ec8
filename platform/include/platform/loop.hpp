// loop.hpp - watching descriptors on the process loop (public, used by the
// agent and the benchmarks): the free functions of the default EventLoop.
//
// The loop is the one described in platform.h and event_loop.hpp. New code
// that owns a watch holds it as an FdWatch, which ends with its owner.
#pragma once

#include <cstdint>

#include "platform/event_loop.hpp"

namespace platform {

// EventLoop::Default().Watch: 0 on failure, else an id never handed out again.
PLAT_EXPORT WatchId WatchFd(int fd, std::uint32_t events, FdCallback callback);
// EventLoop::Default().Modify: false for an unknown id.
PLAT_EXPORT bool ModifyWatch(WatchId id, std::uint32_t events);
// EventLoop::Default().Unwatch: the descriptor itself is left open.
PLAT_EXPORT void UnwatchFd(WatchId id);

}  // namespace platform
