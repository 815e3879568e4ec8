// client_startup - how fast the lobby client puts its splash on screen, and
// how much memory it holds then, beside a minimal Qt Widgets program that
// maps one window of the same size (startup_baseline), in the same run.
//
//   client_startup [--runs N]
//
// Both programs start on one private Xvfb display with no window manager.
// The time runs from the fork to the MapNotify of the window with the
// program's title, seen on the root window by this process; the memory is
// VmRSS of the program read at that moment. A second pair of figures runs on
// to the first drawing into that window (the first Damage event on it): the
// moment the window shows its content rather than only being there. The client gets a scratch
// WIN.INI and installation directory made with lobby-setup, so it loads its
// bitmaps and starts its music as a player's copy does. Runs alternate
// between the two programs; medians are printed in the format of
// scripts/bench.sh.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
  double ms;
  double rssMiB;
  double drawnMs;
  double drawnRssMiB;
};

// The Damage extension's first event code on the display; 0 without it.
int damageEvent = 0;

// -1: any CPU; otherwise the one CPU every process of the run is kept on.
int pinnedCpu = -1;

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv, int keepFd = -1) {
  std::vector<std::string> vars(extraEnv);
  for (char** e = environ; *e; ++e) {
    const std::string var = *e;
    const std::string name = var.substr(0, var.find('='));
    bool replaced = false;
    for (const auto& x : extraEnv) replaced = replaced || x.rfind(name + "=", 0) == 0;
    if (!replaced) vars.push_back(var);
  }
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (pinnedCpu >= 0) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(pinnedCpu, &one);
    sched_setaffinity(0, sizeof one, &one);
  }
  const int null = open("/dev/null", O_RDWR);
  dup2(null, 1);
  dup2(null, 2);
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

void Reap(pid_t pid) {
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

double RssMiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  return 0;
}

std::string Title(Display* d, Window w) {
  const Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(d, w, netName, 0, 1024, False, utf8, &type, &format, &count, &after, &data) == Success &&
      data && type == utf8)
    title.assign(reinterpret_cast<char*>(data), count);
  if (data) XFree(data);
  return title;
}

// Starts the program and waits (10 s at most) for its window to be mapped
// and then drawn into. Every top-level window gets a damage record as it is
// made, so a drawing that comes right after the map is not missed.
std::optional<Sample> Measure(Display* d, const std::vector<std::string>& argv, const std::vector<std::string>& env,
                              const std::string& title) {
  XSync(d, True);  // forget earlier runs' events
  const auto start = Clock::now();
  const pid_t pid = Spawn(argv, env);
  const auto since = [&start] { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); };
  std::optional<Sample> sample;
  Window splash = None;
  std::map<Window, std::pair<double, double>> firstDrawn;  // time, memory
  const auto deadline = start + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    if (XPending(d) == 0) {
      pollfd p{ConnectionNumber(d), POLLIN, 0};
      poll(&p, 1, 5);
      continue;
    }
    XEvent event;
    XNextEvent(d, &event);
    if (event.type == CreateNotify && damageEvent) {
      XDamageCreate(d, event.xcreatewindow.window, XDamageReportNonEmpty);
      XFlush(d);
      continue;
    }
    if (damageEvent && event.type == damageEvent + XDamageNotify) {
      const auto& damage = reinterpret_cast<const XDamageNotifyEvent&>(event);
      if (!firstDrawn.count(damage.drawable)) firstDrawn[damage.drawable] = {since(), RssMiB(pid)};
    } else if (event.type == MapNotify && splash == None && Title(d, event.xmap.window) == title) {
      splash = event.xmap.window;
      sample = Sample{since(), RssMiB(pid), 0, 0};
    }
    if (splash == None) continue;
    if (!damageEvent) break;
    if (auto drawn = firstDrawn.find(splash); drawn != firstDrawn.end()) {
      std::tie(sample->drawnMs, sample->drawnRssMiB) = drawn->second;
      break;
    }
  }
  Reap(pid);
  if (sample && damageEvent && sample->drawnMs == 0) return std::nullopt;  // mapped, never drawn
  return sample;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n == 0 ? 0 : (n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 15;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
    if (std::strcmp(argv[i], "--pin") == 0 && i + 1 < argc) pinnedCpu = std::atoi(argv[++i]);
  }

  char tmpl[] = "/tmp/client-startup-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string dir = tmpl;
  std::filesystem::create_directories(dir + "/run");
  chmod((dir + "/run").c_str(), 0700);

  int fds[2];
  if (pipe(fds) != 0) return 1;
  const pid_t xvfb = Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24", "-noreset",
                            "-nolisten", "tcp"},
                           {}, fds[1]);
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  char c;
  while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  const std::string display = ":" + number;
  Display* d = number.empty() ? nullptr : XOpenDisplay(display.c_str());
  // A window mapped and gone before its title is asked for is no error.
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  if (!d) {
    std::fprintf(stderr, "client_startup: no Xvfb display\n");
    Reap(xvfb);
    return 1;
  }
  XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
  if (int error = 0; !XDamageQueryExtension(d, &damageEvent, &error)) {
    damageEvent = 0;
    std::fprintf(stderr, "client_startup: no Damage extension, the drawn figures are left out\n");
  }

  const std::vector<std::string> env = {"DISPLAY=" + display,          "QT_QPA_PLATFORM=xcb",
                                        "LOBBY_WIN_INI=" + dir + "/WIN.INI", "LOBBY_DRIVES=" + dir + "/drives",
                                        "XDG_RUNTIME_DIR=" + dir + "/run",   "XDG_CONFIG_HOME=" + dir + "/config"};
  const pid_t setup = Spawn({LOBBY_SETUP_PATH}, env);
  int status = 0;
  waitpid(setup, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "client_startup: lobby-setup failed\n");
    return 1;
  }

  // One untimed start of each fills the page cache.
  Measure(d, {LOBBY_PATH}, env, "QOR's Corvane Game");
  Measure(d, {BASELINE_PATH}, env, "startup baseline");
  std::vector<Sample> client, base;
  for (int i = 0; i < runs; ++i) {
    if (auto s = Measure(d, {LOBBY_PATH}, env, "QOR's Corvane Game")) client.push_back(*s);
    if (auto s = Measure(d, {BASELINE_PATH}, env, "startup baseline")) base.push_back(*s);
  }
  XCloseDisplay(d);
  Reap(xvfb);
  std::filesystem::remove_all(dir);
  if (client.empty() || base.empty()) {
    std::fprintf(stderr, "client_startup: a window never appeared\n");
    return 1;
  }
  const auto print = [&](const char* figure, double Sample::*field, const char* unit) {
    std::vector<double> ours, floor;
    for (const auto& s : client) ours.push_back(s.*field);
    for (const auto& s : base) floor.push_back(s.*field);
    const double value = Median(ours), baseline = Median(floor);
    std::printf("%s (median of %zu): %.1f %s | baseline qt widgets window: %.1f %s | ratio %.2f\n", figure,
                ours.size(), value, unit, baseline, unit, value / baseline);
    std::fprintf(stderr, "client_startup: %s: client min %.1f max %.1f; baseline min %.1f max %.1f\n", figure,
                 *std::min_element(ours.begin(), ours.end()), *std::max_element(ours.begin(), ours.end()),
                 *std::min_element(floor.begin(), floor.end()), *std::max_element(floor.begin(), floor.end()));
  };
  print("client start-up to splash mapped", &Sample::ms, "ms");
  print("client resident memory at splash mapped", &Sample::rssMiB, "MiB");
  if (damageEvent) {
    print("client start-up to splash drawn", &Sample::drawnMs, "ms");
    print("client resident memory at splash drawn", &Sample::drawnRssMiB, "MiB");
  }
  return 0;
}
