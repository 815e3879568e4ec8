// Window handles: a registry of numbered callbacks that posted messages are
// delivered to. Handles are never reused, so a handle kept after its window
// was destroyed can never reach another window.
#include <mutex>
#include <unordered_map>

#include "loop_internal.hpp"

namespace {

struct Window {
  plat_wndproc proc;
  void* user;
};

struct Registry {
  std::mutex mutex;
  std::unordered_map<plat_hwnd, Window> windows;
  plat_hwnd next = 1;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry();
  return *registry;
}

}  // namespace

namespace platform::detail {

void DeliverPosted(plat_hwnd hwnd, unsigned msg, uintptr_t wparam, intptr_t lparam) {
  Window w;
  {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.windows.find(hwnd);
    if (it == r.windows.end()) return;  // destroyed after the post
    w = it->second;
  }
  w.proc(hwnd, msg, wparam, lparam, w.user);
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
  r.windows.erase(hwnd);
}

int plat_is_window(plat_hwnd hwnd) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.windows.count(hwnd) ? 1 : 0;
}

int plat_post_message(plat_hwnd hwnd, unsigned msg, uintptr_t wparam, intptr_t lparam) {
  if (!plat_is_window(hwnd)) return 0;
  platform::detail::EnqueuePosted(hwnd, msg, wparam, lparam);
  return 1;
}

}  // extern "C"
