// How fast a user message travels between agents, each in its own process
// on its own platform loop, against plain TCP between processes on the same
// machine in the same run.
//
// Direct: a member sends its owner a user message (ZEPSendMsgToUser with the
// owner's id); the owner's client, woken by the agent's notification (a
// platform window callback), reads it with ZEPGetNextMessage and answers at
// once; the member's client does the same with the answer and sends the
// next message. Relay: one member sends another member, through the owner
// (PLRS, then OWNS), and that member answers the same way back. Each is
// timed round trip by round trip; the plain-TCP ping-pong of the same bytes
// (direct, and through a forwarding process for the relay) is the baseline.
//
// Processes find each other through ports passed over pipes; everything is
// on 127.0.0.1. The whole comparison is repeated (--repeat) and the better
// run of each kind is reported, since this machine is shared and noisy.
//
// All processes are pinned to one CPU unless --spread is given. On a shared
// virtual machine, a wake-up that crosses CPUs costs anywhere from a few to
// fifty microseconds depending on what the host is doing; on one CPU both
// the agents and the TCP floor pay only for their own work, which is what
// is being compared (and the ratio is the stricter one).
//
//   agent_roundtrip [--count N] [--warmup N] [--repeat N] [--message-bytes N] [--spread]
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "../tests/support/listening_ports.hpp"
#include "api_floor.hpp"
#include "platform/loop.hpp"
#include "platform/platform.h"
#include "process_counters.hpp"
#include "ring_receiver.hpp"
#include "tcp_baseline.hpp"
#include "zep/zep.h"

namespace {

using bench::Clock;

constexpr unsigned kNotify = 514;
// Bounds on every wait for another process of the benchmark.
constexpr int kSetupMs = 20000;
constexpr int kRunMs = 300000;

struct Options {
  long count = 20000;
  long warmup = 2000;
  long repeat = 3;
  long messageBytes = 64;
  std::string serverList;  // in a temporary folder; never written
};

// What the measuring member reports to the parent.
struct Report {
  int ok = 0;
  double rate = 0, median = 0, p99 = 0;
  std::uint64_t count = 0;
  std::uint64_t wireBytes = 0;  // one frame of the measured message on the wire
  bench::CountsPer counts;      // the measuring end's, per timed round trip
};

// The size of the frame the agent writes for a line (close marker included).
std::size_t AgentFrameSize(std::size_t textBytes) {
  return 8 + 1 + (textBytes <= 254 ? 1 : textBytes <= 65533 ? 3 : 7) + textBytes;
}

// The port of the one listening socket of this process: the session's
// listener (the agent picks the first free port of its range).
unsigned OwnListeningPort() {
  const std::set<unsigned> ports = testsupport::OwnListeningPorts();
  return ports.empty() ? 0 : *ports.begin();
}

// One agent of the benchmark: a session, its notification window, and a
// descriptor whose closing (by the parent) ends the process.
class Agent {
 public:
  Agent(const Options& options, int stopFd, const char* name) : options_(options), name_(name) {
    window_ = plat_window_create(&Agent::OnNotify, this);
    stopWatch_ = platform::WatchFd(stopFd, EPOLLIN, [this](std::uint32_t) {
      stopped_ = true;
      plat_quit();
    });
    const std::string description = std::string("VERSION=1;REAL=") + name + ";";
    if (ZEPOpenSession(&handle_, 0, "QORCORVA", description.c_str(), "version.dll", window_, kNotify,
                       options.serverList.c_str()) != ZEP_RET_OK) {
      Fail("cannot open a session");
    }
    port_ = OwnListeningPort();
  }
  virtual ~Agent() {
    platform::UnwatchFd(stopWatch_);
    if (handle_ >= 0) ZEPLeaveSession(handle_);
    plat_window_destroy(window_);
  }

  unsigned port() const { return port_; }
  bool failed() const { return failed_; }

  // Runs the loop until `done` holds, the parent stops us, or the bound.
  // The clock is read every few hundred turns only: the plain-TCP ends
  // read none per message either.
  template <typename Done>
  bool PumpUntil(Done done, int boundMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(boundMs);
    for (unsigned turn = 1; !done() && !stopped_ && !failed_; ++turn) {
      if (turn % 256 == 0 && Clock::now() >= deadline) break;
      plat_pump(1000);
    }
    return done();
  }
  void WaitForStop() { PumpUntil([this] { return stopped_; }, kRunMs); }

 protected:
  virtual void OnMessage(const char* id, int type, const char* text, const char* more) = 0;

  void Fail(const char* what) {
    if (!failed_) std::fprintf(stderr, "agent_roundtrip: %s: %s\n", name_, what);
    failed_ = true;
  }

  const Options& options_;
  int handle_ = -1;

 private:
  // The client's side of the notification: read until the queue is empty.
  static void OnNotify(plat_hwnd, unsigned msg, uintptr_t, intptr_t, void* user) {
    if (msg != kNotify) return;
    auto* self = static_cast<Agent*>(user);
    char id[ZEP_PLAYERID_SIZE], text[ZEP_TEXT_SIZE], more[ZEP_TEXT_SIZE];
    int type = 0;
    while (ZEPGetNextMessage(self->handle_, id, &type, text, more) == ZEP_RET_OK)
      self->OnMessage(id, type, text, more);
  }

  const char* name_;
  plat_hwnd window_ = 0;
  platform::WatchId stopWatch_ = 0;
  unsigned port_ = 0;
  bool stopped_ = false;
  bool failed_ = false;
};

// Accepts every join request (after a short pause, so the requester has
// seen its request connection close before it becomes a member) and answers
// every user message at once with the same text.
class Owner : public Agent {
 public:
  // With a report descriptor, counts what it asks of the kernel and the heap
  // from the first timed user message to the last and writes the figure per
  // round trip there (direct runs only: in a relay it handles two a trip).
  Owner(const Options& options, int stopFd, int countsReport)
      : Agent(options, stopFd, "Owen"), countsReport_(countsReport) {}

  void Serve() {
    PumpUntil(
        [this] {
          if (requests_.empty()) return false;
          const auto now = Clock::now();
          while (!requests_.empty() && now - requests_.front().second > std::chrono::milliseconds(30)) {
            if (ZEPAcceptSubGroupJoinRequest(handle_, requests_.front().first.c_str(), 1, "") != ZEP_RET_OK)
              Fail("cannot accept a join request");
            requests_.erase(requests_.begin());
            if (++accepted_ == 2) relayStart_ = bench::CurrentCounts();
          }
          return false;
        },
        kRunMs);
  }

  // Relay: what the owner asked of the kernel and the heap from the second
  // member's joining to now, per round trip of the run (two relayed
  // messages each; the joins' and leaves' few are spread over them).
  bench::CountsPer RelayCounts() const {
    return bench::Per(relayStart_, bench::CurrentCounts(),
                      static_cast<std::uint64_t>(options_.warmup + options_.count));
  }

 private:
  void OnMessage(const char* id, int type, const char* text, const char* more) override {
    if (type != ZEP_MT_USERMSG) return;
    if (std::strcmp(more, "JOIN") == 0) {
      requests_.emplace_back(text, Clock::now());
    } else if (std::strcmp(more, "TERM") != 0) {
      CountMessage();
      if (ZEPSendMsgToUser(handle_, id, text) != ZEP_RET_OK) Fail("cannot answer");
    }
  }

  void CountMessage() {
    if (countsReport_ < 0) return;
    ++received_;
    if (received_ == options_.warmup + 1) first_ = bench::CurrentCounts();
    if (received_ == options_.warmup + options_.count) {
      const bench::CountsPer per =
          bench::Per(first_, bench::CurrentCounts(), static_cast<std::uint64_t>(options_.count - 1));
      bench::SendValue(countsReport_, per);
    }
  }

  std::vector<std::pair<std::string, Clock::time_point>> requests_;
  int countsReport_;
  long received_ = 0;
  bench::ProcessCounts first_;
  int accepted_ = 0;
  bench::ProcessCounts relayStart_;
};

// A member. As the measuring end it sends, waits for the answer and sends
// again from inside the notification; as an echo it answers whoever wrote.
class Member : public Agent {
 public:
  Member(const Options& options, int stopFd, const char* name, bool echo)
      : Agent(options, stopFd, name), echo_(echo), message_(static_cast<std::size_t>(options.messageBytes), 'm') {
    for (std::size_t i = 0; i < message_.size(); ++i) message_[i] = static_cast<char>('a' + i % 26);
  }

  bool Join(unsigned ownerPort) {
    const std::string text = "ID=127.0.0.1:" + std::to_string(ownerPort) + ";OWN=1.1.1.1;";
    if (ZEPJoinSubGroup(handle_, text.c_str()) != ZEP_RET_OK) return false;
    return PumpUntil([this] { return !ownerId_.empty(); }, kSetupMs);
  }
  // Relay: waits until the owner has told us of the other member.
  bool WaitForPeer() {
    return PumpUntil([this] { return !peerId_.empty(); }, kSetupMs);
  }

  // Round trips to `target` (the owner's id, or the other member's).
  Report Measure(bool toPeer) {
    target_ = toPeer ? peerId_ : ownerId_;
    micros_.reserve(static_cast<std::size_t>(options_.count));
    left_ = options_.warmup + options_.count;
    SendNext();
    Report r;
    if (!PumpUntil([this] { return left_ == 0; }, kRunMs)) return r;
    const bench::Latencies l = bench::Summarize(std::move(micros_), bench::SecondsSince(timedStart_));
    r.ok = 1;
    r.rate = l.rate;
    r.median = l.median;
    r.p99 = l.p99;
    r.count = l.count;
    r.wireBytes = AgentFrameSize(5 + target_.size() + 1 + message_.size());
    r.counts = bench::Per(timedCounts_, endCounts_, static_cast<std::uint64_t>(options_.count));
    return r;
  }

 private:
  void SendNext() {
    if (left_ == options_.count) {
      timedCounts_ = bench::CurrentCounts();
      timedStart_ = Clock::now();
    }
    sent_ = Clock::now();
    if (ZEPSendMsgToUser(handle_, target_.c_str(), message_.c_str()) != ZEP_RET_OK) Fail("cannot send");
  }

  void OnMessage(const char* id, int type, const char* text, const char* more) override {
    switch (type) {
      case ZEP_MT_JOINRESPONSE:
        if (std::strcmp(text, "AKNJ") == 0)
          ownerId_ = id;
        else
          Fail("join refused");
        break;
      case ZEP_MT_ADDPLAYER:
        peerId_ = id;
        break;
      case ZEP_MT_USERMSG:
        if (echo_) {
          if (ZEPSendMsgToUser(handle_, id, text) != ZEP_RET_OK) Fail("cannot answer");
          break;
        }
        if (left_ == 0 || target_ != id) break;
        if (message_ != text) Fail("the answer differs from the message");
        if (left_ <= options_.count) micros_.push_back(bench::MicrosSince(sent_));
        if (--left_ > 0)
          SendNext();
        else
          endCounts_ = bench::CurrentCounts();
        break;
      case ZEP_MT_LOSTOWNER:
      case ZEP_MT_NODELIVERY:
        Fail(more[0] ? more : "lost the owner");
        break;
      default:
        break;
    }
  }

  bool echo_;
  std::string message_;
  std::string ownerId_, peerId_, target_;
  long left_ = 0;
  Clock::time_point sent_, timedStart_;
  bench::ProcessCounts timedCounts_, endCounts_;
  std::vector<double> micros_;
};

// A process of the benchmark. Each agent runs in a program of its own
// (this one, started again with --role): the agent library sets up its
// process's loop when it is loaded, so a forked copy of a process that has
// loaded it would share that loop's epoll set with its parent.
struct Child {
  pid_t pid = -1;
  int report = -1;  // read end: what the child reports
  int stop = -1;    // write end: closing it ends the child
};

// This program's own file, read before any fork. Exec'ing it by name rather
// than through /proc/self/exe lets tools that follow exec (valgrind's
// --trace-children) follow the children too.
const std::string& OwnProgram() {
  static const std::string path = [] {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string("/proc/self/exe");
  }();
  return path;
}

Child Spawn(const Options& o, const std::string& role, unsigned ownerPort = 0) {
  Child c;
  const std::string& program = OwnProgram();
  int r[2], s[2];
  if (pipe2(r, O_CLOEXEC) != 0) return c;
  if (pipe2(s, O_CLOEXEC) != 0) {
    close(r[0]);
    close(r[1]);
    return c;
  }
  std::vector<std::string> args = {"agent_roundtrip", "--role", role,
                                    "--report-fd", std::to_string(r[1]),
                                    "--stop-fd", std::to_string(s[0]),
                                    "--owner-port", std::to_string(ownerPort),
                                    "--count", std::to_string(o.count),
                                    "--warmup", std::to_string(o.warmup),
                                    "--message-bytes", std::to_string(o.messageBytes),
                                    "--server-list", o.serverList};
  std::fflush(stdout);
  std::fflush(stderr);
  c.pid = fork();
  if (c.pid == 0) {
    // Only these two of the pipes survive the exec.
    fcntl(r[1], F_SETFD, 0);
    fcntl(s[0], F_SETFD, 0);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(r[1]);
  close(s[0]);
  c.report = r[0];
  c.stop = s[1];
  return c;
}

void Finish(Child& c) {
  if (c.stop >= 0) close(c.stop);
  if (c.report >= 0) close(c.report);
  bench::ReapChild(c.pid);
  c = Child{};
}

// ---- the child processes ------------------------------------------------

int RunRole(const Options& o, const std::string& role, int report, int stop, unsigned ownerPort) {
  // Named after the role, so that a profile tells the processes apart.
  prctl(PR_SET_NAME, ("agent-" + role).substr(0, 15).c_str());
  if (role == "owner" || role == "relay-owner") {
    Owner agent(o, stop, role == "owner" ? report : -1);
    if (!bench::SendValue(report, agent.port()) || agent.failed()) return 1;
    agent.Serve();
    if (role == "relay-owner") bench::SendValue(report, agent.RelayCounts());
    return 0;
  }
  if (role == "echo") {
    Member agent(o, stop, "Bob", true);
    const int joined = agent.Join(ownerPort) ? 1 : 0;
    bench::SendValue(report, joined);
    if (joined) agent.WaitForStop();
    return 0;
  }
  if (role == "member" || role == "relay-member") {
    const bool relay = role == "relay-member";
    Member agent(o, stop, relay ? "Ada" : "Mia", false);
    Report mine;
    if (agent.Join(ownerPort) && (!relay || agent.WaitForPeer())) mine = agent.Measure(relay);
    bench::SendValue(report, mine);
    agent.WaitForStop();
    return 0;
  }
  std::fprintf(stderr, "agent_roundtrip: unknown role %s\n", role.c_str());
  return 2;
}

// ---- the parent -----------------------------------------------------------

Child StartOwner(const Options& o, unsigned* port, bool counting) {
  Child owner = Spawn(o, counting ? "owner" : "relay-owner");
  if (owner.pid <= 0 || !bench::ReceiveValue(owner.report, *port, kSetupMs) || *port == 0) {
    std::fprintf(stderr, "agent_roundtrip: the owner did not start\n");
    Finish(owner);
  }
  return owner;
}

// Direct: one member measuring against its owner, whose counts per round
// trip go to *ownerCounts.
Report RunDirect(const Options& o, bench::CountsPer* ownerCounts) {
  unsigned ownerPort = 0;
  Child owner = StartOwner(o, &ownerPort, true);
  Report r;
  if (owner.pid <= 0) return r;
  Child member = Spawn(o, "member", ownerPort);
  if (member.pid <= 0 || !bench::ReceiveValue(member.report, r, kRunMs) || !r.ok ||
      !bench::ReceiveValue(owner.report, *ownerCounts, kSetupMs))
    r = Report{};
  Finish(member);
  Finish(owner);
  return r;
}

// Relay: an echoing member joins first, then the measuring one. The owner
// reports its counts per round trip once stopped.
Report RunRelay(const Options& o, bench::CountsPer* ownerCounts) {
  unsigned ownerPort = 0;
  Child owner = StartOwner(o, &ownerPort, false);
  Report r;
  if (owner.pid <= 0) return r;
  Child echo = Spawn(o, "echo", ownerPort);
  int echoJoined = 0;
  if (echo.pid > 0 && bench::ReceiveValue(echo.report, echoJoined, kSetupMs) && echoJoined) {
    Child member = Spawn(o, "relay-member", ownerPort);
    if (member.pid <= 0 || !bench::ReceiveValue(member.report, r, kRunMs)) r = Report{};
    Finish(member);
  }
  Finish(echo);
  close(owner.stop);
  owner.stop = -1;
  if (r.ok && !bench::ReceiveValue(owner.report, *ownerCounts, kSetupMs)) r = Report{};
  Finish(owner);
  return r;
}

bench::Latencies ToLatencies(const Report& r) {
  bench::Latencies l;
  l.rate = r.rate;
  l.median = r.median;
  l.p99 = r.p99;
  l.count = r.count;
  return l;
}

// Medians within 1.2x the plain TCP's, tails within 1.3x.
void PrintComparison(const std::string& what, const std::string& detail, const bench::Latencies& agent,
                     const std::string& base, const bench::Latencies& tcp) {
  const double median = tcp.median > 0 ? agent.median / tcp.median : 0;
  const double p99 = tcp.p99 > 0 ? agent.p99 / tcp.p99 : 0;
  bench::PrintFigure(what + " latency, median (" + detail + ")", agent.median, "us", base + ", median",
                     tcp.median, "us", bench::TargetNote("ratio <= 1.2", median <= 1.2));
  bench::PrintFigure(what + " latency, p99", agent.p99, "us", base + ", p99", tcp.p99, "us",
                     bench::TargetNote("ratio <= 1.3", p99 <= 1.3));
  bench::PrintFigure(what + "s per second", agent.rate, "/s", base, tcp.rate, "/s");
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::string role;
  long report = -1, stop = -1, ownerPort = 0;
  bool spread = false;
  for (int i = 1; i < argc; ++i) {
    if (bench::ParseCountOption(argc, argv, &i, "--count", &o.count) ||
        bench::ParseCountOption(argc, argv, &i, "--warmup", &o.warmup) ||
        bench::ParseCountOption(argc, argv, &i, "--repeat", &o.repeat) ||
        bench::ParseCountOption(argc, argv, &i, "--message-bytes", &o.messageBytes))
      continue;
    // Set by the parent for its children only.
    if (i + 1 < argc && std::strcmp(argv[i], "--role") == 0) {
      role = argv[++i];
      continue;
    }
    if (i + 1 < argc && std::strcmp(argv[i], "--server-list") == 0) {
      o.serverList = argv[++i];
      continue;
    }
    if (i + 1 < argc && std::strcmp(argv[i], "--report-fd") == 0) {
      report = std::atol(argv[++i]);
      continue;
    }
    if (i + 1 < argc && std::strcmp(argv[i], "--stop-fd") == 0) {
      stop = std::atol(argv[++i]);
      continue;
    }
    if (i + 1 < argc && std::strcmp(argv[i], "--owner-port") == 0) {
      ownerPort = std::atol(argv[++i]);
      continue;
    }
    if (std::strcmp(argv[i], "--spread") == 0) {
      spread = true;
      continue;
    }
    std::fprintf(stderr,
                 "usage: agent_roundtrip [--count N] [--warmup N] [--repeat N] [--message-bytes N] [--spread]\n");
    return 2;
  }
  if (!role.empty()) {
    signal(SIGPIPE, SIG_IGN);
    return RunRole(o, role, static_cast<int>(report), static_cast<int>(stop), static_cast<unsigned>(ownerPort));
  }
  if (!spread) bench::PinToOneCpu();
  if (o.messageBytes > 400) {
    std::fprintf(stderr, "agent_roundtrip: a user message must fit the API's 499 characters with its ids\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  char dir[] = "/tmp/agent-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  o.serverList = std::string(dir) + "/SERVERS.INI";

  // Best of the repeats for each kind (the lowest median, and on its own the
  // lowest p99: bench::KeepBest), each beside the TCP run of the same bytes
  // made right after it.
  // The same ping-pong with both ends waiting in epoll_wait is the floor of
  // any end driven by an event loop. The counts are the same in every
  // round; the last round's are printed.
  // The least any agent can do per message on the same wire behind the
  // same API (api_floor.hpp) is the floor of the agent's own work.
  Report bestDirect, bestRelay;
  // The floor's third form waits in io_uring_enter with its receive posted,
  // where this kernel lets it (ring_receiver.hpp).
  std::string noRing;
  bool ringFloor = bench::RingReceiver::Available(&noRing);
  bench::Latencies tcpDirect, tcpRelay, tcpEpoll, tcpRing, apiFloor, apiFloorRelay;
  std::size_t apiFloorBytes = 0, apiFloorRelayBytes = 0;
  bench::CountsPer ownerCounts, relayOwnerCounts;
  bench::EndCounts tcpCounts, epollCounts;
  bool ok = true;
  for (long round = 0; round < o.repeat && ok; ++round) {
    const Report direct = RunDirect(o, &ownerCounts);
    bench::Latencies tcp, viaEpoll, viaRing, least;
    ok = direct.ok && bench::TcpPingPong(direct.wireBytes, o.warmup, o.count, &tcp, &tcpCounts) &&
         bench::TcpPingPong(direct.wireBytes, o.warmup, o.count, &viaEpoll, &epollCounts, bench::Wait::kEpoll) &&
         bench::ApiFloorPingPong(static_cast<std::size_t>(o.messageBytes), o.warmup, o.count, &least,
                                 &apiFloorBytes);
    if (!ok) break;
    // A kernel without multishot receives (before 6.0) fails this one run;
    // the figure is then left out rather than the benchmark.
    if (ringFloor &&
        !bench::TcpPingPong(direct.wireBytes, o.warmup, o.count, &viaRing, nullptr, bench::Wait::kRing)) {
      ringFloor = false;
      noRing = "its ping-pong failed";
    }
    bench::KeepBest(apiFloor, least, round == 0);
    bench::KeepBest(bestDirect, direct, round == 0);
    bench::KeepBest(tcpDirect, tcp, round == 0);
    bench::KeepBest(tcpEpoll, viaEpoll, round == 0);
    if (ringFloor) bench::KeepBest(tcpRing, viaRing, tcpRing.count == 0);

    const Report relay = RunRelay(o, &relayOwnerCounts);
    bench::Latencies tcp3, leastRelay;
    ok = relay.ok && bench::TcpRelayPingPong(relay.wireBytes, o.warmup, o.count, &tcp3) &&
         bench::ApiFloorRelayPingPong(static_cast<std::size_t>(o.messageBytes), o.warmup, o.count, &leastRelay,
                                      &apiFloorRelayBytes);
    if (!ok) break;
    bench::KeepBest(apiFloorRelay, leastRelay, round == 0);
    bench::KeepBest(bestRelay, relay, round == 0);
    bench::KeepBest(tcpRelay, tcp3, round == 0);
    std::fprintf(stderr,
                 "round %ld: direct agent %.2f us / tcp %.2f us / tcp via epoll %.2f us / tcp via io_uring %.2f us / "
                 "least agent %.2f us median; relay agent %.1f us / tcp %.1f us / least agent %.1f us\n",
                 round + 1, direct.median, tcp.median, viaEpoll.median, viaRing.median, least.median, relay.median,
                 tcp3.median, leastRelay.median);
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  if (!ok) {
    std::fprintf(stderr, "agent_roundtrip: a run failed\n");
    return 1;
  }
  const std::string detail = std::to_string(o.messageBytes) + "-char message";
  const std::string bytes = std::to_string(bestDirect.wireBytes) + " B";
  PrintComparison("agent round trip", detail, ToLatencies(bestDirect), "tcp ping-pong " + bytes, tcpDirect);
  PrintComparison("agent relay round trip", detail + ", member to member via owner", ToLatencies(bestRelay),
                  "tcp ping-pong via relay process " + std::to_string(bestRelay.wireBytes) + " B", tcpRelay);
  bench::PrintFigure("agent round trip latency against a loop's floor, median", bestDirect.median, "us",
                     "tcp ping-pong waiting in epoll_wait " + bytes + ", median", tcpEpoll.median, "us");
  bench::PrintFigure("agent round trip latency against a loop's floor, p99", bestDirect.p99, "us",
                     "tcp ping-pong waiting in epoll_wait " + bytes + ", p99", tcpEpoll.p99, "us");
  // What the loop's wait itself costs, in both of the kernel's ways to wait
  // for many sources at once.
  bench::PrintFigure("a loop's floor: tcp ping-pong waiting in epoll_wait, median", tcpEpoll.median, "us",
                     "tcp ping-pong " + bytes + ", median", tcpDirect.median, "us");
  if (ringFloor) {
    bench::PrintFigure("a loop's floor: tcp ping-pong waiting in io_uring_enter, receive posted, median",
                       tcpRing.median, "us", "tcp ping-pong " + bytes + ", median", tcpDirect.median, "us");
  } else {
    std::fprintf(stderr, "agent_roundtrip: no io_uring floor here (%s)\n", noRing.c_str());
  }
  const std::string least = "the least an agent can do on this wire and API, " +
                            std::to_string(apiFloorBytes) + " B";
  bench::PrintFigure(least + ", round trip median", apiFloor.median, "us", "tcp ping-pong " + bytes + ", median",
                     tcpDirect.median, "us");
  bench::PrintFigure(least + ", round trip p99", apiFloor.p99, "us", "tcp ping-pong " + bytes + ", p99",
                     tcpDirect.p99, "us");
  bench::PrintFigure("agent round trip latency against the least an agent can do, median", bestDirect.median,
                     "us", least + ", median", apiFloor.median, "us");
  bench::PrintFigure("agent round trip latency against the least an agent can do, p99", bestDirect.p99, "us",
                     least + ", p99", apiFloor.p99, "us");
  const std::string leastRelay = "the least agents can do on this wire and API, relayed, " +
                                 std::to_string(apiFloorRelayBytes) + " B";
  const std::string relayBytes = std::to_string(bestRelay.wireBytes) + " B";
  bench::PrintFigure(leastRelay + ", round trip median", apiFloorRelay.median, "us",
                     "tcp ping-pong via relay process " + relayBytes + ", median", tcpRelay.median, "us");
  bench::PrintFigure(leastRelay + ", round trip p99", apiFloorRelay.p99, "us",
                     "tcp ping-pong via relay process " + relayBytes + ", p99", tcpRelay.p99, "us");
  bench::PrintFigure("agent relay round trip latency against the least agents can do, median", bestRelay.median,
                     "us", leastRelay + ", median", apiFloorRelay.median, "us");
  bench::PrintFigure("agent relay round trip latency against the least agents can do, p99", bestRelay.p99, "us",
                     leastRelay + ", p99", apiFloorRelay.p99, "us");
  // Both ends together; a round trip is two messages, each sent by one end
  // and received by the other.
  const auto both = [](const bench::CountsPer& a, const bench::CountsPer& b) {
    return bench::CountsPer{a.syscalls + b.syscalls, a.allocations + b.allocations};
  };
  const bench::CountsPer agent = both(bestDirect.counts, ownerCounts);
  const bench::CountsPer tcp = both(tcpCounts.measuring, tcpCounts.answering);
  const bench::CountsPer epoll = both(epollCounts.measuring, epollCounts.answering);
  bench::PrintFigure("agent system calls per round trip (both ends)", agent.syscalls, "calls",
                     "tcp ping-pong " + bytes, tcp.syscalls, "calls");
  bench::PrintFigure("agent system calls per round trip (both ends), against a loop's floor", agent.syscalls,
                     "calls", "tcp ping-pong waiting in epoll_wait " + bytes, epoll.syscalls, "calls");
  bench::PrintFigure("agent allocations per message", agent.allocations / 2, "allocations",
                     "tcp ping-pong " + bytes, tcp.allocations / 2, "allocations");
  bench::PrintFigure("agent allocations per relayed message (owner)", relayOwnerCounts.allocations / 2,
                     "allocations", "tcp relay process", 0, "allocations");
  std::fprintf(stderr,
               "per round trip: member %.2f system calls, %.2f allocations; owner %.2f, %.2f; tcp %.2f + %.2f "
               "system calls; tcp via epoll %.2f + %.2f; relaying owner %.2f, %.2f\n",
               bestDirect.counts.syscalls, bestDirect.counts.allocations, ownerCounts.syscalls,
               ownerCounts.allocations, tcpCounts.measuring.syscalls, tcpCounts.answering.syscalls,
               epollCounts.measuring.syscalls, epollCounts.answering.syscalls, relayOwnerCounts.syscalls,
               relayOwnerCounts.allocations);
  return 0;
}
