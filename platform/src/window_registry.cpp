// Window handles: a registry of numbered callbacks that posted messages are
// delivered to. Handles are never reused, so a handle kept after its window
// was destroyed can never reach another window.
//
// A message is looked up twice, when it is posted and when it is delivered,
// both usually on the loop thread and for the same window. Each thread
// remembers the last window it found together with the number of windows
// destroyed by then: while that number has not moved, the window still
// exists (a handle never comes back), and the look-up takes no lock.
#include <atomic>
#include <mutex>
#include <unordered_map>

#include "loop_internal.hpp"
#include "platform/hot_path.hpp"

namespace {

struct Window {
  plat_wndproc proc = nullptr;
  void* user = nullptr;
};

struct Registry {
  std::mutex mutex;
  std::unordered_map<plat_hwnd, Window> windows;
  plat_hwnd next = 1;
};

// Windows destroyed so far; written under the registry's mutex, read
// without it. Outside the registry, so that reading it needs no check that
// the registry was made.
constinit std::atomic<std::uint64_t> g_destroyed{0};

Registry& TheRegistry() {
  static Registry* registry = new Registry();
  return *registry;
}

// This thread's last window found (hwnd 0: none), and Registry::destroyed
// as it stood then. Initial-exec, as t_running in loop.cpp.
struct LastFound {
  plat_hwnd hwnd = 0;
  std::uint64_t destroyed = 0;
  Window window;
};
__attribute__((tls_model("initial-exec"))) thread_local LastFound t_lastFound;

// The window behind hwnd, if it exists, from the registry.
__attribute__((noinline)) bool FindInRegistry(plat_hwnd hwnd, Window& out) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  const auto it = r.windows.find(hwnd);
  if (it == r.windows.end()) return false;
  out = it->second;
  t_lastFound = {hwnd, g_destroyed.load(std::memory_order_relaxed), it->second};
  return true;
}

// The window this thread found last, when it is hwnd and still exists;
// else null.
inline const Window* LastFound(plat_hwnd hwnd) {
  // Acquire: a destroy that happened before this call is seen here.
  if (hwnd != 0 && t_lastFound.hwnd == hwnd &&
      t_lastFound.destroyed == g_destroyed.load(std::memory_order_acquire))
    return &t_lastFound.window;
  return nullptr;
}

// The window behind hwnd, if it exists.
inline bool FindWindow(plat_hwnd hwnd, Window& out) {
  if (const Window* last = LastFound(hwnd)) {
    out = *last;
    return true;
  }
  return FindInRegistry(hwnd, out);
}

// Delivering and posting to a window other than the last one found: out of
// line, so that the usual case saves no registers for them.
[[gnu::noinline]] void DeliverFromRegistry(plat_hwnd hwnd, unsigned msg, uintptr_t wparam, intptr_t lparam) {
  Window w;
  if (!FindInRegistry(hwnd, w)) return;  // destroyed after the post
  w.proc(hwnd, msg, wparam, lparam, w.user);
}

[[gnu::noinline]] int PostFromRegistry(plat_hwnd hwnd, unsigned msg, uintptr_t wparam, intptr_t lparam) {
  Window w;
  if (!FindInRegistry(hwnd, w)) return 0;
  platform::detail::EnqueuePosted(hwnd, msg, wparam, lparam);
  return 1;
}

}  // namespace

namespace platform::detail {

PLAT_HOT_PATH void DeliverPosted(plat_hwnd hwnd, unsigned msg, uintptr_t wparam, intptr_t lparam) {
  if (const Window* w = LastFound(hwnd)) [[likely]]
    return w->proc(hwnd, msg, wparam, lparam, w->user);
  DeliverFromRegistry(hwnd, msg, wparam, lparam);
}

}  // namespace platform::detail

extern "C" {

plat_hwnd plat_window_create(plat_wndproc proc, void* user) {
  if (proc == nullptr) return 0;
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  plat_hwnd h = r.next++;
  r.windows.emplace(h, Window{proc, user});
  return h;
}

void plat_window_destroy(plat_hwnd hwnd) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (r.windows.erase(hwnd) != 0)
    g_destroyed.store(g_destroyed.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

int plat_is_window(plat_hwnd hwnd) {
  Window w;
  return FindWindow(hwnd, w) ? 1 : 0;
}

PLAT_HOT_PATH int plat_post_message(plat_hwnd hwnd, unsigned msg, uintptr_t wparam, intptr_t lparam) {
  if (LastFound(hwnd) == nullptr) [[unlikely]]
    return PostFromRegistry(hwnd, msg, wparam, lparam);
  platform::detail::EnqueuePosted(hwnd, msg, wparam, lparam);
  return 1;
}

}  // extern "C"
