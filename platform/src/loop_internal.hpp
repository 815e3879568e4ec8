// loop_internal.hpp - the process loop shared by loop.cpp and
// window_registry.cpp (internal to the platform library).
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace platform::detail {

// Delivers one posted message to its window if the window still exists.
// Defined by the window registry; called by the loop.
void DeliverPosted(plat_hwnd hwnd, unsigned msg, uintptr_t wparam, intptr_t lparam);

// Queues a message for delivery on the loop thread (any thread may call).
void EnqueuePosted(plat_hwnd hwnd, unsigned msg, uintptr_t wparam, intptr_t lparam);

}  // namespace platform::detail
