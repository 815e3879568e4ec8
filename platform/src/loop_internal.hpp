// loop_internal.hpp - what loop.cpp and window_registry.cpp share (internal
// to the platform library).
#pragma once

#include <cstdint>

#include "platform/event_loop.hpp"

namespace platform::detail {

// Delivers one posted message to its window if the window still exists.
// Defined by the window registry; called by the loop.
void DeliverPosted(plat_hwnd hwnd, unsigned msg, uintptr_t wparam, intptr_t lparam);

// Queues a message on the process loop (any thread may call). Declared in
// event_loop.hpp too, as the loop's friend.
void EnqueuePosted(plat_hwnd hwnd, unsigned msg, uintptr_t wparam, intptr_t lparam);

}  // namespace platform::detail
