// x_display.hpp - whole-program test helpers: child processes with an
// environment of their own, and a private X display (Xvfb, optionally with
// the openbox window manager) whose windows are found by title and driven
// with xdotool at client-area positions. Every wait is bounded.
#pragma once

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace xtest {

using Clock = std::chrono::steady_clock;

// Polls cond every few milliseconds until it holds or the bound passes.
inline bool Eventually(const std::function<bool()>& cond, int boundMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(boundMs);
  while (!cond()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Variables to set (a value) or remove (nullopt) on top of this process's.
using Env = std::map<std::string, std::optional<std::string>>;

class Child {
 public:
  // Output goes to the given files ("" for /dev/null). keepFd stays open in
  // the child under the same number.
  Child(const std::vector<std::string>& argv, const Env& env, const std::string& out = "",
        const std::string& err = "", int keepFd = -1) {
    std::vector<std::string> vars;
    for (char** e = environ; *e; ++e) {
      const std::string var = *e;
      if (env.count(var.substr(0, var.find('='))) == 0) vars.push_back(var);
    }
    for (const auto& [name, value] : env)
      if (value) vars.push_back(name + "=" + *value);
    pid_ = fork();
    if (pid_ != 0) return;
    const auto redirect = [](const std::string& path, int fd) {
      const int opened = open(path.empty() ? "/dev/null" : path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      if (opened >= 0) dup2(opened, fd);
    };
    redirect(out, 1);
    redirect(err, 2);
    for (int fd = 3; fd < 1024; ++fd)
      if (fd != keepFd) close(fd);
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (auto& v : vars) envp.push_back(v.data());
    envp.push_back(nullptr);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
  }
  ~Child() { Stop(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  bool running() { return pid_ > 0 && !Wait(0); }
  // The exit code (128 + signal when killed), or nothing while it runs.
  std::optional<int> Wait(int boundMs) {
    if (status_) return status_;
    if (pid_ <= 0) return -1;
    int status = 0;
    const bool ended = Eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, boundMs);
    if (!ended) return std::nullopt;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
  }
  // SIGTERM, and SIGKILL when that is not enough.
  void Stop() {
    if (pid_ <= 0 || status_) return;
    kill(pid_, SIGTERM);
    if (!Wait(5000)) {
      kill(pid_, SIGKILL);
      Wait(5000);
    }
  }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Runs a command to its end (bounded) and returns its exit code.
inline int Run(const std::vector<std::string>& argv, const Env& env, int boundMs = 10000,
               const std::string& out = "") {
  Child child(argv, env, out, out);
  const std::optional<int> code = child.Wait(boundMs);
  return code ? *code : -1;
}

class XDisplay {
 public:
  XDisplay(bool windowManager, const std::string& logDir) {
    int fds[2];
    if (pipe(fds) != 0) return;
    // Xvfb picks a free display number and writes it to the descriptor.
    xvfb_ = std::make_unique<Child>(
        std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24",
                                 "-noreset", "-nolisten", "tcp"},
        Env{}, "", logDir + "/xvfb.log", fds[1]);
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c;
    while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) return;
    name_ = ":" + number;
    display_ = XOpenDisplay(name_.c_str());
    if (!display_) return;
    // The programs' windows come and go between a listing and a question
    // about one of them: such a window is simply gone (the question fails),
    // not a reason for Xlib's default handler to end the test.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    if (windowManager) {
      wm_ = std::make_unique<Child>(std::vector<std::string>{"openbox", "--sm-disable"},
                                    Env{{"DISPLAY", name_}}, "", logDir + "/openbox.log");
      const Atom check = XInternAtom(display_, "_NET_SUPPORTING_WM_CHECK", False);
      if (!Eventually([&] { return HasProperty(DefaultRootWindow(display_), check); }, 10000)) return;
    }
    ok_ = true;
  }
  ~XDisplay() {
    if (display_) XCloseDisplay(display_);
    wm_.reset();
    xvfb_.reset();
  }

  bool ok() const { return ok_; }
  const std::string& name() const { return name_; }

  // Viewable windows with exactly this title, below the root and its frames.
  std::vector<Window> Mapped(const std::string& title) {
    std::vector<Window> found;
    Collect(DefaultRootWindow(display_), 3, title, found);
    return found;
  }
  // Windows with exactly this title, mapped or not.
  std::vector<Window> Existing(const std::string& title) {
    std::vector<Window> found;
    Collect(DefaultRootWindow(display_), 3, title, found, false);
    return found;
  }
  Window WaitMapped(const std::string& title, int boundMs = 15000) {
    Window w = 0;
    Eventually(
        [&] {
          const auto all = Mapped(title);
          w = all.empty() ? 0 : all.front();
          return w != 0;
        },
        boundMs);
    return w;
  }
  bool WaitUnmapped(const std::string& title, int boundMs = 15000) {
    return Eventually([&] { return Mapped(title).empty(); }, boundMs);
  }

  // Where a window lies among the root's children, bottom first; a framed
  // window counts by its frame.
  int StackIndex(Window w) {
    const Window top = TopLevelOf(w);
    Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    int index = -1;
    if (XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &n)) {
      for (unsigned i = 0; i < n; ++i)
        if (children[i] == top) index = static_cast<int>(i);
      if (children) XFree(children);
    }
    return index;
  }

  // The window w is transient for (its owner), by its client window.
  Window TransientFor(Window w) {
    Window owner = 0;
    return XGetTransientForHint(display_, w, &owner) ? owner : 0;
  }

  Env env() const { return {{"DISPLAY", name_}}; }
  // A click at client-area coordinates of w.
  bool Click(Window w, int x, int y) {
    return Run({"xdotool", "mousemove", "--window", std::to_string(w), std::to_string(x), std::to_string(y), "click",
                "1"},
               env()) == 0;
  }
  bool Type(const std::string& text) {
    return Run({"xdotool", "type", "--delay", "20", text}, env()) == 0;
  }
  bool FocusAndKey(Window w, const std::string& key) {
    return Run({"xdotool", "windowfocus", "--sync", std::to_string(w)}, env(), 5000) == 0 &&
           Run({"xdotool", "key", key}, env()) == 0;
  }
  void Screenshot(const std::string& path) { Run({"import", "-window", "root", path}, env(), 20000); }

 private:
  bool HasProperty(Window w, Atom property) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const bool has = XGetWindowProperty(display_, w, property, 0, 1, False, AnyPropertyType, &type, &format, &count,
                                        &after, &data) == Success &&
                     type != None;
    if (data) XFree(data);
    return has;
  }
  std::string Title(Window w) {
    const Atom netName = XInternAtom(display_, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display_, w, netName, 0, 1024, False, utf8, &type, &format, &count, &after, &data) ==
            Success &&
        data && type == utf8) {
      title.assign(reinterpret_cast<char*>(data), count);
    } else {
      char* name = nullptr;
      if (XFetchName(display_, w, &name) && name) {
        title = name;
        XFree(name);
      }
    }
    if (data) XFree(data);
    return title;
  }
  void Collect(Window parent, int depth, const std::string& title, std::vector<Window>& found,
               bool mappedOnly = true) {
    Window root = 0, up = 0, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(display_, parent, &root, &up, &children, &n)) return;
    for (unsigned i = 0; i < n; ++i) {
      XWindowAttributes a;
      if (!XGetWindowAttributes(display_, children[i], &a) || (mappedOnly && a.map_state != IsViewable)) continue;
      if (Title(children[i]) == title)
        found.push_back(children[i]);
      else if (depth > 1)
        Collect(children[i], depth - 1, title, found, mappedOnly);
    }
    if (children) XFree(children);
  }
  Window TopLevelOf(Window w) {
    for (;;) {
      Window root = 0, parent = 0, *children = nullptr;
      unsigned n = 0;
      if (!XQueryTree(display_, w, &root, &parent, &children, &n)) return w;
      if (children) XFree(children);
      if (parent == root || parent == 0) return w;
      w = parent;
    }
  }

  std::unique_ptr<Child> xvfb_;
  std::unique_ptr<Child> wm_;
  std::string name_;
  Display* display_ = nullptr;
  bool ok_ = false;
};

}  // namespace xtest
