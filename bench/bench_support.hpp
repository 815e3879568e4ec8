// bench_support.hpp - what the benchmark programs share: the one-line figure
// format that scripts/bench.sh collects, latency summaries, and the plumbing
// between the processes of a benchmark (pipes with bounded waits, blocking
// loopback sockets with a receive timeout). Internal to bench/.
//
// Every benchmark prints its figures on standard output, one line each:
//   <figure>: <value> <unit> | baseline <name>: <value> <unit> | ratio <x>
// or, where nothing on this machine is a natural baseline,
//   <figure>: <value> <unit> | target <condition> | ratio <x>
// optionally followed by "| target ...: met" or "missed". The ratio is the
// figure divided by its baseline (or target), so it reads in the figure's
// own direction: for a latency above 1 is slower, for a rate below 1 is.
// Everything else (progress, details) goes to standard error.
#pragma once

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double MicrosSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}
inline double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Round trips (or requests) timed one by one.
struct Latencies {
  double rate = 0;    // per second of wall time over the whole timed run
  double median = 0;  // microseconds
  double p99 = 0;
  std::size_t count = 0;
  std::size_t overOneMs = 0;  // how many took longer than a millisecond
};

// Keeps the best of repeated runs of one kind: the lowest median (with its
// run's rate) and, on its own, the lowest p99. A p99 of 20,000 round trips
// is set by its slowest 200, so one burst of the host's work during a run of
// a tenth of a second decides it; every kind is kept the same way, so a
// ratio compares the runs of each that the host left alone.
template <typename Run>
void KeepBest(Run& best, const Run& run, bool first) {
  if (first || run.median < best.median) {
    const double p99 = best.p99;
    best = run;
    if (!first && p99 < run.p99) best.p99 = p99;
  } else if (run.p99 < best.p99) {
    best.p99 = run.p99;
  }
}

inline Latencies Summarize(std::vector<double> micros, double seconds) {
  Latencies out;
  out.count = micros.size();
  if (micros.empty()) return out;
  std::sort(micros.begin(), micros.end());
  out.overOneMs = static_cast<std::size_t>(micros.end() - std::upper_bound(micros.begin(), micros.end(), 1000.0));
  out.median = micros[micros.size() / 2];
  // Nearest rank: the smallest sample with at least 99 % of them at or below.
  const std::size_t rank = static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(micros.size())));
  out.p99 = micros[std::max<std::size_t>(rank, 1) - 1];
  out.rate = seconds > 0 ? static_cast<double>(micros.size()) / seconds : 0;
  return out;
}

// A number with three significant digits or so, never in exponent form.
inline std::string Num(double v) {
  char text[64];
  const double a = std::fabs(v);
  if (a >= 100 || a == 0)
    std::snprintf(text, sizeof text, "%.0f", v);
  else if (a >= 10)
    std::snprintf(text, sizeof text, "%.1f", v);
  else if (a >= 1)
    std::snprintf(text, sizeof text, "%.2f", v);
  else
    std::snprintf(text, sizeof text, "%.3g", v);
  return text;
}

inline std::string Ratio(double figure, double reference) {
  if (reference == 0) return "n/a";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", figure / reference);
  return text;
}

// One figure against a baseline measured in the same run.
inline void PrintFigure(const std::string& figure, double value, const std::string& unit,
                        const std::string& baseline, double baseValue, const std::string& baseUnit,
                        const std::string& note = "") {
  std::printf("%s: %s %s | baseline %s: %s %s | ratio %s%s\n", figure.c_str(), Num(value).c_str(),
              unit.c_str(), baseline.c_str(), Num(baseValue).c_str(), baseUnit.c_str(),
              Ratio(value, baseValue).c_str(), note.empty() ? "" : (" | " + note).c_str());
  std::fflush(stdout);
}

// One figure against a target only; `atMost` says which side of it is good.
inline void PrintAgainstTarget(const std::string& figure, double value, const std::string& unit,
                               double target, bool atMost, const std::string& note = "") {
  const bool met = atMost ? value < target : value >= target;
  std::printf("%s: %s %s | target %s %s %s | ratio %s | %s%s\n", figure.c_str(), Num(value).c_str(),
              unit.c_str(), atMost ? "<" : ">=", Num(target).c_str(), unit.c_str(),
              Ratio(value, target).c_str(), met ? "met" : "missed",
              note.empty() ? "" : (" | " + note).c_str());
  std::fflush(stdout);
}

// Resident memory of a process in bytes (VmRSS of /proc/<pid>/status); 0
// when it cannot be read.
inline long ResidentBytes(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  long kb = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> kb;
      return kb * 1024;
    }
    status.ignore(1 << 16, '\n');
  }
  return 0;
}

// CPU time of a process's main thread in seconds, user and system:
// nanoseconds from schedstat when the kernel keeps it, else utime + stime
// of /proc/<pid>/stat (in ticks).
inline double CpuSeconds(int pid) {
  std::ifstream schedstat("/proc/" + std::to_string(pid) + "/schedstat");
  unsigned long long ns = 0;
  if (schedstat >> ns && ns > 0) return static_cast<double>(ns) / 1e9;
  std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
  const std::size_t end = stat.rfind(')');
  if (end == std::string::npos) return 0;
  unsigned long long utime = 0, stime = 0;
  if (std::sscanf(stat.c_str() + end + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime,
                  &stime) != 2)
    return 0;
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

inline std::string TargetNote(const std::string& what, bool met) {
  return "target " + what + ": " + (met ? "met" : "missed");
}

// Pins this process, and the children it starts afterwards, to the last CPU
// it may run on. On a shared virtual machine a wake-up that crosses CPUs
// costs from a few to fifty microseconds depending on the host; on one CPU
// each side of a comparison pays only for its own work.
// The set of one CPU, the last in `allowed`; false when it is empty.
inline bool LastCpuOf(const cpu_set_t& allowed, cpu_set_t* one, int* cpu) {
  for (int c = CPU_SETSIZE - 1; c >= 0; --c) {
    if (!CPU_ISSET(c, &allowed)) continue;
    CPU_ZERO(one);
    CPU_SET(c, one);
    *cpu = c;
    return true;
  }
  return false;
}

inline void PinToOneCpu() {
  cpu_set_t allowed, one;
  int cpu = -1;
  if (sched_getaffinity(0, sizeof allowed, &allowed) != 0 || !LastCpuOf(allowed, &one, &cpu)) return;
  if (sched_setaffinity(0, sizeof one, &one) == 0) std::fprintf(stderr, "all processes on CPU %d\n", cpu);
}

// Sets the CPUs that every thread of process `pid` (0: this one) may run
// on; false if a thread could not be moved.
inline bool SetProcessAffinity(pid_t pid, const cpu_set_t& cpus) {
  const std::string dir = "/proc/" + (pid == 0 ? std::string("self") : std::to_string(pid)) + "/task";
  DIR* tasks = opendir(dir.c_str());
  if (tasks == nullptr) return false;
  bool ok = true;
  while (const dirent* entry = readdir(tasks)) {
    const pid_t tid = static_cast<pid_t>(std::atoi(entry->d_name));
    if (tid > 0) ok = sched_setaffinity(tid, sizeof cpus, &cpus) == 0 && ok;
  }
  closedir(tasks);
  return ok;
}

// For its lifetime, this process and `other` run on one CPU, the last this
// process may use; then both may use what this process could before.
class SharedCpu {
 public:
  explicit SharedCpu(pid_t other) : other_(other) {
    cpu_set_t one;
    int cpu = -1;
    if (sched_getaffinity(0, sizeof before_, &before_) != 0 || !LastCpuOf(before_, &one, &cpu)) return;
    pinned_ = SetProcessAffinity(0, one) && SetProcessAffinity(other_, one);
  }
  ~SharedCpu() {
    SetProcessAffinity(other_, before_);
    SetProcessAffinity(0, before_);
  }
  SharedCpu(const SharedCpu&) = delete;
  SharedCpu& operator=(const SharedCpu&) = delete;
  bool pinned() const { return pinned_; }

 private:
  pid_t other_;
  cpu_set_t before_{};
  bool pinned_ = false;
};

// ---- pipes between the processes of one benchmark ------------------------

// Waits at most timeoutMs for the whole of n bytes; false on timeout, end or
// error, so a child that died never hangs its parent.
inline bool ReadFull(int fd, void* data, std::size_t n, int timeoutMs) {
  auto* p = static_cast<char*>(data);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (n > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd pfd{fd, POLLIN, 0};
    const int r = poll(&pfd, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    const ssize_t got = read(fd, p, n);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

inline bool WriteFull(int fd, const void* data, std::size_t n) {
  auto* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t put = write(fd, p, n);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    n -= static_cast<std::size_t>(put);
  }
  return true;
}

template <typename T>
bool SendValue(int fd, const T& value) {
  return WriteFull(fd, &value, sizeof value);
}
template <typename T>
bool ReceiveValue(int fd, T& value, int timeoutMs) {
  return ReadFull(fd, &value, sizeof value, timeoutMs);
}

// ---- blocking loopback sockets for the plain-TCP baselines ----------------

// A peer that stops answering makes a receive fail after this long instead
// of hanging the benchmark.
constexpr int kSocketTimeoutSeconds = 10;

inline void TuneBlockingSocket(int fd) {
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  timeval tv{kSocketTimeoutSeconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// Listens on 127.0.0.1 at a free port; returns the descriptor and the port.
inline int ListenLoopback(unsigned* port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 16) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    close(fd);
    return -1;
  }
  *port = ntohs(a.sin_port);
  return fd;
}

// Accepts one connection, waiting at most timeoutMs.
inline int AcceptOne(int listenFd, int timeoutMs) {
  pollfd pfd{listenFd, POLLIN, 0};
  if (poll(&pfd, 1, timeoutMs) <= 0) return -1;
  const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd >= 0) TuneBlockingSocket(fd);
  return fd;
}

// For a forked end: listens on loopback, tells the parent the port through
// `report` and accepts one connection within timeoutMs; -1 on failure.
inline int AcceptOneReported(int report, int timeoutMs) {
  unsigned port = 0;
  const int listener = ListenLoopback(&port);
  if (listener < 0) return -1;
  const int fd = SendValue(report, port) ? AcceptOne(listener, timeoutMs) : -1;
  close(listener);
  return fd;
}

inline int ConnectLoopback(unsigned port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  TuneBlockingSocket(fd);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Blocking, bounded by the socket's timeouts.
inline bool RecvFull(int fd, char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t got = recv(fd, p, n, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

inline bool SendFull(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t put = send(fd, p, n, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    p += put;
    n -= static_cast<std::size_t>(put);
  }
  return true;
}

// ---- child processes -------------------------------------------------------

// Forks a child (named `name`) that runs body(pipeWriteEnd) and exits; returns its pid and
// the read end of its pipe.
template <typename Body>
pid_t SpawnChild(const char* name, int* readEnd, Body body) {
  int p[2];
  if (pipe2(p, O_CLOEXEC) != 0) return -1;
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(p[0]);
    prctl(PR_SET_NAME, name);
    body(p[1]);
    _exit(0);
  }
  close(p[1]);
  if (pid < 0) {
    close(p[0]);
    return -1;
  }
  *readEnd = p[0];
  return pid;
}

// Waits for a child this benchmark started, killing it if it has not ended
// within timeoutMs.
inline void ReapChild(pid_t pid, int timeoutMs = 5000) {
  if (pid <= 0) return;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Reads "--name value" style options; anything unknown is an error.
inline bool ParseCountOption(int argc, char** argv, int* i, const char* name, long* out) {
  if (std::strcmp(argv[*i], name) != 0) return false;
  if (*i + 1 >= argc) {
    std::fprintf(stderr, "%s needs a value\n", name);
    std::exit(2);
  }
  char* end = nullptr;
  const long v = std::strtol(argv[++*i], &end, 10);
  if (*end != '\0' || v <= 0) {
    std::fprintf(stderr, "bad value for %s: %s\n", name, argv[*i]);
    std::exit(2);
  }
  *out = v;
  return true;
}

}  // namespace bench
