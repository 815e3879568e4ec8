// loop.hpp - C++ side of the platform loop (public, used by the agent and the
// lobby server): watching file descriptors on the process loop.
//
// The loop is the one described in platform.h: one per process, epoll
// underneath, level-triggered. A watch's callback runs on the loop thread
// from plat_dispatch / plat_pump. A watch may be removed from inside any
// callback, its own included; the loop never calls a removed watch again.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/platform.h"

namespace platform {

using WatchId = std::uint64_t;
using FdCallback = std::function<void(std::uint32_t epollEvents)>;

// Starts watching fd for the given epoll events (EPOLLIN, EPOLLOUT, ...).
// Returns 0 on failure, else an id that is never handed out again.
PLAT_EXPORT WatchId WatchFd(int fd, std::uint32_t events, FdCallback callback);
// Changes the events a watch waits for. Returns false for an unknown id.
PLAT_EXPORT bool ModifyWatch(WatchId id, std::uint32_t events);
// Stops watching; the descriptor itself is left open.
PLAT_EXPORT void UnwatchFd(WatchId id);

}  // namespace platform
