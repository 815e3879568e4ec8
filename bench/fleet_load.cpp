// The fleet on Redis against one in-memory server: one vossad without a
// store, then 1, 2 and 4 instances on one redis-server, all on this machine.
//
// Loader processes (forked, at most 2,500 connections each, far below the
// 20,000 descriptors a process may hold here) register the players over
// loopback, spread evenly over the instances, all loaders at once; a
// registration is connect, JOIN and a query on the same connection whose
// QROK says the JOIN was taken, 64 of them in flight per loader.
//
// Figures per set-up: registrations per second for the whole fleet (players
// / wall time of the slowest loader); query p99 at the first instance among
// all the players (a filter matching one in sixteen, MAX=100, and a full
// scan), the asker and that instance on one CPU meanwhile; replication
// lag, with two or more instances, from a JOIN at the first instance to its
// listing in a query at the second (the asker polls; p50 and p99); resident
// memory per player of each instance (VmRSS after minus before, over every
// player its replica holds) and of Redis (used_memory, after minus before).
//
//   fleet_load [--players N] [--queries N] [--lags N]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "../tests/support/redis_process.hpp"
#include "../tests/support/vossad_process.hpp"
#include "bench_support.hpp"
#include "platform/byte_buffer.hpp"
#include "platform/frame_codec.hpp"

namespace {

using bench::Clock;

constexpr const char* kApp = "QORCORVA";
constexpr std::size_t kLoaders = 4;
constexpr std::size_t kBatch = 64;

struct Options {
  long players = 10000;
  long queries = 1000;
  long lags = 300;
};

// One agent's blocking connection, in frames.
class Line {
 public:
  explicit Line(unsigned port) : fd_(bench::ConnectLoopback(port)) {}
  ~Line() {
    if (fd_ >= 0) close(fd_);
  }
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;
  bool ok() const { return fd_ >= 0; }

  void Queue(const std::string& text) { platform::AppendFrame(out_, text, false); }
  bool Flush() {
    const std::string_view bytes = out_.Readable();
    const bool sent = bench::SendFull(fd_, bytes.data(), bytes.size());
    out_.RetrieveAll();
    return sent;
  }
  // The next frame's text, PINGs skipped; empty on a failure.
  std::string Next() {
    std::string text;
    std::uint8_t marker = 0;
    for (;;) {
      if (platform::TakeFrame(in_, false, text, marker, 1 << 20) == platform::FrameStatus::kOk) {
        if (text == "PING") continue;
        return text;
      }
      char chunk[65536];
      const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return {};
      in_.Append(std::string_view(chunk, static_cast<std::size_t>(n)));
    }
  }
  // Reads a query's answer; the number of USER lines, -1 on a failure.
  long Answer() {
    long users = 0;
    for (;;) {
      const std::string line = Next();
      if (line.empty() || line == "QRFL") return -1;
      if (line == "QROK") return users;
      ++users;
    }
  }

 private:
  int fd_;
  platform::ByteBuffer out_;
  platform::ByteBuffer in_;
};

std::string Join(long port, long n) {
  return "JOIN ID=" + std::to_string(port) + ";APP=" + kApp + ";OWN=1.1.1.1;\x18REAL=p" + std::to_string(n) +
         ";CITY=c" + std::to_string(n % 8) + ";SEX=" + std::to_string((n / 8) % 2) + ";AGE=" +
         std::to_string(20 + n % 50) + ";";
}
std::string Query(const std::string& filter, long max, const char* app = kApp) {
  return "QUER APP=" + std::string(app) + ";MAX=" + std::to_string(max) + ";\x18" + filter;
}

// A loader: registers players [first, first + count) at port, reports its
// wall time on `report`, then holds the connections until `hold` closes.
[[noreturn]] void Loader(unsigned port, long first, long count, int report, int hold) {
  std::vector<std::unique_ptr<Line>> lines;
  lines.reserve(static_cast<std::size_t>(count));
  char go = 0;
  bench::ReadFull(hold, &go, 1, 60000);  // all loaders start together
  const Clock::time_point start = Clock::now();
  bool ok = true;
  for (long done = 0; done < count && ok;) {
    const long batch = std::min<long>(kBatch, count - done);
    for (long i = 0; i < batch; ++i) {
      auto line = std::make_unique<Line>(port);
      const long n = first + done + i;
      line->Queue(Join(1 + n, n));
      line->Queue(Query(" ", 1, "sync"));
      ok = ok && line->ok() && line->Flush();
      lines.push_back(std::move(line));
    }
    for (long i = 0; i < batch && ok; ++i) ok = lines[static_cast<std::size_t>(done + i)]->Answer() == 0;
    done += batch;
  }
  const double seconds = ok ? bench::SecondsSince(start) : -1;
  bench::WriteFull(report, &seconds, sizeof seconds);
  bench::ReadFull(hold, &go, 1, 600000);
  _exit(0);
}

long RedisMemory(const testsupport::RedisServer& redis) {
  const std::string info = redis.Cli({"INFO", "memory"});
  const std::size_t at = info.find("used_memory:");
  return at == std::string::npos ? 0 : std::atol(info.c_str() + at + 12);
}

// Returns the registrations per second.
double RunSetUp(const Options& o, std::size_t instances, bool fleet, double inMemoryRate) {
  const std::string label = fleet ? std::to_string(instances) + " on Redis" : std::string("in memory");
  std::unique_ptr<testsupport::RedisServer> redis;
  if (fleet) redis = std::make_unique<testsupport::RedisServer>();
  std::vector<std::unique_ptr<testsupport::Vossad>> servers;
  for (std::size_t i = 0; i < instances; ++i) {
    std::vector<std::string> args = {"--quiet", "--max-players", "20000", "--max-per-address", "100000",
                                     "--ping-interval", "600", "--line-rate", "100000000", "--line-burst", "100000000"};
    if (fleet) {
      args.insert(args.end(), {"--store", redis->url(), "--instance", std::string("i") + std::to_string(i)});
    }
    servers.push_back(std::make_unique<testsupport::Vossad>(args));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // connected to the store
  std::vector<long> rssBefore;
  for (auto& s : servers) rssBefore.push_back(bench::ResidentBytes(s->pid()));
  const long redisBefore = fleet ? RedisMemory(*redis) : 0;
  double cpuBefore = 0;
  for (auto& s : servers) cpuBefore += bench::CpuSeconds(s->pid());
  const double redisCpuBefore = fleet ? bench::CpuSeconds(redis->pid()) : 0;

  int report[2];
  int hold[2];
  if (pipe(report) != 0 || pipe(hold) != 0) return 0;
  std::vector<pid_t> loaders;
  const long share = o.players / static_cast<long>(kLoaders);
  for (std::size_t k = 0; k < kLoaders; ++k) {
    const unsigned port = static_cast<unsigned>(servers[k % instances]->port());
    const pid_t pid = fork();
    if (pid == 0) {
      close(report[0]);
      close(hold[1]);
      Loader(port, static_cast<long>(k) * share, share, report[1], hold[0]);
    }
    loaders.push_back(pid);
  }
  close(report[1]);
  close(hold[0]);
  const std::string go(kLoaders, 'g');
  bench::WriteFull(hold[1], go.data(), go.size());
  double slowest = 0;
  bool ok = true;
  for (std::size_t k = 0; k < kLoaders; ++k) {
    double seconds = -1;
    ok = bench::ReadFull(report[0], &seconds, sizeof seconds, 120000) && seconds > 0 && ok;
    slowest = std::max(slowest, seconds);
  }
  const long players = share * static_cast<long>(kLoaders);
  double cpuAfter = 0;
  for (auto& s : servers) cpuAfter += bench::CpuSeconds(s->pid());
  const double redisCpu = fleet ? bench::CpuSeconds(redis->pid()) - redisCpuBefore : 0;
  if (!ok) std::fprintf(stderr, "%s: a loader failed\n", label.c_str());

  // Every replica holds every player before anything else is measured.
  Line asker(static_cast<unsigned>(servers[0]->port()));
  asker.Queue("JOIN ID=60001;APP=asker;OWN=1.1.1.1;\x18");
  asker.Queue(Query(" ", 1, "sync"));
  asker.Flush();
  asker.Answer();
  for (auto& s : servers) {
    Line check(static_cast<unsigned>(s->port()));
    check.Queue("JOIN ID=60002;APP=check;OWN=1.1.1.1;\x18");
    check.Flush();
    for (int i = 0; i < 2000; ++i) {
      check.Queue(Query("REAL=p", players + 10));
      check.Flush();
      if (check.Answer() >= players) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  const double rate = players / slowest;
  const std::string rateFigure = "fleet " + label + ": registrations per second, " + std::to_string(players) + " players";
  if (fleet) {
    bench::PrintFigure(rateFigure, rate, "/s", "one in-memory instance", inMemoryRate, "/s",
                       bench::TargetNote("at least the in-memory rate", rate >= inMemoryRate));
  } else {
    std::printf("%s: %s /s\n", rateFigure.c_str(), bench::Num(rate).c_str());
  }
  // CPU is what a shared machine cannot blur: the rate above depends on
  // what else runs, the work per registration does not.
  std::printf("fleet %s: CPU per registration: %s us in the instances%s\n", label.c_str(),
              bench::Num((cpuAfter - cpuBefore) * 1e6 / players).c_str(),
              fleet ? (", " + bench::Num(redisCpu * 1e6 / players) + " us in Redis").c_str() : "");
  // Queries at the first instance, which shares one CPU with the asker
  // while they run, as in server_load: the latency is the instance's work,
  // not a wake-up that crosses CPUs (docs/performance.md, Noise).
  const auto timeQueries = [&asker](const std::string& filter, long warmup, long count) {
    std::vector<double> micros;
    for (long i = 0; i < warmup + count; ++i) {
      const Clock::time_point start = Clock::now();
      asker.Queue(Query(filter, 100));
      asker.Flush();
      asker.Answer();
      if (i >= warmup) micros.push_back(bench::MicrosSince(start));
    }
    return bench::Summarize(std::move(micros), 1);
  };
  bench::Latencies some, scan;
  {
    const bench::SharedCpu shared(servers[0]->pid());
    some = timeQueries("SEX=1;CITY=c3;", 20, o.queries);
    scan = timeQueries("REAL=nobody;", 0, o.queries / 4);
  }
  bench::PrintAgainstTarget("fleet " + label + ": query p99 among " + std::to_string(players) + " players",
                            some.p99, "us", 1000, true);
  bench::PrintAgainstTarget("fleet " + label + ": full-scan query p99 among " + std::to_string(players) +
                                " players",
                            scan.p99, "us", 1000, true);

  if (instances >= 2) {
    Line far(static_cast<unsigned>(servers[1]->port()));
    far.Queue("JOIN ID=60003;APP=check;OWN=1.1.1.1;\x18");
    far.Flush();
    std::vector<double> lags;
    char name[32];
    for (long i = 0; i < o.lags; ++i) {
      std::snprintf(name, sizeof name, "REAL=lag%05ld;", i);
      Line joiner(static_cast<unsigned>(servers[0]->port()));
      joiner.Queue("JOIN ID=" + std::to_string(61000 + i) + ";APP=" + kApp + ";OWN=1.1.1.1;\x18" + name);
      const Clock::time_point start = Clock::now();
      joiner.Flush();
      for (int tries = 0; tries < 100000; ++tries) {
        far.Queue(Query(name, 1));
        far.Flush();
        if (far.Answer() == 1) break;
      }
      lags.push_back(bench::MicrosSince(start));
    }
    const bench::Latencies l = bench::Summarize(lags, 1);
    bench::PrintAgainstTarget("fleet " + label + ": replication lag p50", l.median, "us", 5000, true);
    bench::PrintAgainstTarget("fleet " + label + ": replication lag p99", l.p99, "us", 5000, true);
  }

  for (std::size_t i = 0; i < servers.size(); ++i) {
    const double perPlayer = static_cast<double>(bench::ResidentBytes(servers[i]->pid()) - rssBefore[i]) / players;
    bench::PrintAgainstTarget("fleet " + label + ": memory per player, instance " + std::to_string(i + 1),
                              perPlayer, "B", 1024, true);
  }
  if (fleet) {
    std::printf("fleet %s: memory per player in Redis: %s B (events in the stream included)\n", label.c_str(),
                bench::Num(static_cast<double>(RedisMemory(*redis) - redisBefore) / players).c_str());
  }

  close(hold[1]);
  for (const pid_t pid : loaders) waitpid(pid, nullptr, 0);
  close(report[0]);
  for (auto& s : servers) s->Stop();
  return rate;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    if (!bench::ParseCountOption(argc, argv, &i, "--players", &o.players) &&
        !bench::ParseCountOption(argc, argv, &i, "--queries", &o.queries) &&
        !bench::ParseCountOption(argc, argv, &i, "--lags", &o.lags)) {
      std::fprintf(stderr, "usage: fleet_load [--players N] [--queries N] [--lags N]\n");
      return 2;
    }
  }
  std::signal(SIGPIPE, SIG_IGN);
  const double inMemory = RunSetUp(o, 1, false, 0);
  for (const std::size_t n : {1u, 2u, 4u}) RunSetUp(o, n, true, inMemory);
  return 0;
}
