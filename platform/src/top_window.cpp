// top_window.cpp - the top-level window search of the single-instance check
// (public: platform/top_window.h). A library of its own, libplatform_x11, so
// that only the programs with windows depend on Xlib: the lobby server and
// the console player use the rest of the platform layer without it.
#include "platform/top_window.h"

#include <cstring>
#include <string>

#if defined(PLATFORM_HAVE_X11)
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#endif

#if defined(PLATFORM_HAVE_X11)
namespace platform::detail {
namespace {

// A window may disappear between listing it and asking for its name; the
// default handler would then end the process.
int IgnoreXError(Display *, XErrorEvent *) { return 0; }

class XSession {
 public:
  XSession() : display_(XOpenDisplay(nullptr)) {
    if (display_) previous_ = XSetErrorHandler(IgnoreXError);
  }
  ~XSession() {
    if (!display_) return;
    XSync(display_, False);  // errors of our last requests go to our handler
    XSetErrorHandler(previous_);
    XCloseDisplay(display_);
  }
  XSession(const XSession &) = delete;
  XSession &operator=(const XSession &) = delete;
  Display *display() const { return display_; }

 private:
  Display *display_;
  XErrorHandler previous_ = nullptr;
};

bool NameIs(Display *d, Window w, Atom net_wm_name, Atom utf8,
            const std::string &title) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char *data = nullptr;
  if (XGetWindowProperty(d, w, net_wm_name, 0, 4096, False, utf8, &type,
                         &format, &count, &after, &data) == Success &&
      data && type == utf8 && format == 8) {
    bool same = title == std::string(reinterpret_cast<char *>(data), count);
    XFree(data);
    return same;
  }
  if (data) XFree(data);
  XTextProperty prop{};
  if (XGetWMName(d, w, &prop) && prop.value) {
    bool same = prop.format == 8 &&
                title == std::string(reinterpret_cast<char *>(prop.value),
                                     prop.nitems);
    XFree(prop.value);
    return same;
  }
  return false;
}

bool HasWmState(Display *d, Window w, Atom wm_state) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char *data = nullptr;
  bool has = XGetWindowProperty(d, w, wm_state, 0, 0, False, AnyPropertyType,
                                &type, &format, &count, &after,
                                &data) == Success &&
             type != None;
  if (data) XFree(data);
  return has;
}

// Window managers put each client window (the one with WM_STATE) into a
// frame, sometimes a frame in a frame, and some copy the title onto the
// frame. So the search goes a few levels below the root, looks inside a
// frame before at the frame itself so that the client is the one retitled,
// and never looks inside a client: its windows are not top-level windows.
// The search goes from the top of the stack down.
// Without a window manager nothing has WM_STATE; the root's children are
// then the programs' windows, and what lies inside them has no title.
Window Search(Display *d, Window parent, int depth, const std::string &title,
              Atom net_wm_name, Atom utf8, Atom wm_state) {
  Window root_ret = 0, parent_ret = 0;
  Window *children = nullptr;
  unsigned n = 0;
  if (!XQueryTree(d, parent, &root_ret, &parent_ret, &children, &n))
    return 0;
  Window found = 0;
  // Top-most first, as the windows lie on the screen (XQueryTree lists them
  // bottom first): the window made last is met first.
  for (unsigned i = n; i > 0 && !found; --i) {
    Window w = children[i - 1];
    if (!HasWmState(d, w, wm_state) && depth > 1)
      found = Search(d, w, depth - 1, title, net_wm_name, utf8, wm_state);
    if (!found && NameIs(d, w, net_wm_name, utf8, title)) found = w;
  }
  if (children) XFree(children);
  return found;
}

}  // namespace
}  // namespace platform::detail
#endif

// Finds a top-level window by its exact title (_NET_WM_NAME, else WM_NAME)
// and optionally retitles it. Only X11 has windows of other programs to
// find: built without X11, or with no display to open ($DISPLAY unset or
// unreachable), this returns 0, i.e. "no such window", so a single-instance
// check then relies on the semaphore alone.
extern "C" int plat_find_top_window(const char *title, const char *new_title) {
#if defined(PLATFORM_HAVE_X11)
  using namespace platform::detail;
  if (!title) return 0;
  try {
    XSession x;
    Display *d = x.display();
    if (!d) return 0;
    Atom net_wm_name = XInternAtom(d, "_NET_WM_NAME", False);
    Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    Atom wm_state = XInternAtom(d, "WM_STATE", False);
    Window w = Search(d, DefaultRootWindow(d), 3, title, net_wm_name, utf8,
                      wm_state);
    if (!w) return 0;
    if (new_title) {
      XStoreName(d, w, new_title);
      XChangeProperty(d, w, net_wm_name, utf8, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char *>(new_title),
                      static_cast<int>(std::strlen(new_title)));
      XSync(d, False);
    }
    return 1;
  } catch (...) {
    return 0;
  }
#else
  (void)title;
  (void)new_title;
  return 0;
#endif
}
