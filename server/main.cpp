// vossad - the lobby server that agents register with: command line, signals,
// the loop that drives the server (lobby_server.hpp), the optional HTTP side
// (http_front.hpp) and the service manager's readiness notice.
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "http_front.hpp"
#include "lobby_server.hpp"
#include "platform/command_line.hpp"
#include "platform/option_values.hpp"
#include "platform/stop_signals.hpp"
#include "platform/timer.hpp"
#include "platform/platform.h"
#include "server_list.hpp"

namespace {

constexpr const char* kHelp =
    "Usage: vossad [OPTION]...\n"
    "The lobby server: agents register, list the players of their application\n"
    "and find partners; the server probes each of them to drop the dead ones.\n"
    "\n"
    "  -p, --port N         TCP port to listen on (default 2424; 0 picks a free one)\n"
    "  -b, --bind ADDRESS   IPv4 address to listen on (default 0.0.0.0)\n"
    "  -s, --servers FILE   server list file ([QORServers] section) sent to agents\n"
    "                       whose list has another version; without it no list is sent\n"
    "  --list-version V     version of that list, instead of the file's Version key\n"
    "  --max-players N      most connections at once; a further one is closed at\n"
    "                       once (default 10000)\n"
    "  --max-per-address N  most connections from one IPv4 address at once, and so\n"
    "                       most registrations; a further one is closed at once\n"
    "                       (default 64)\n"
    "  --line-rate N        lines a connection may send per second (default 50)\n"
    "  --line-burst N       lines it may save up for a burst (default 200); a\n"
    "                       connection that sends more is dropped\n"
    "  --ping-interval S    seconds between two probes of an agent; fractions\n"
    "                       allowed (default 30)\n"
    "  --ping-timeout S     seconds an agent has to answer a probe before it is\n"
    "                       dropped; fractions allowed (default 10)\n"
    "  --store URL          join the fleet kept in that Redis:\n"
    "                       redis://[user@]host:port[/db] (host: an IP address)\n"
    "  --store-password-file FILE  the store's password, on the file's first line;\n"
    "                       else VOSSAD_STORE_PASSWORD when set\n"
    "  --instance NAME      this instance's name in logs and in the store\n"
    "                       (default: host name and port)\n"
    "  --advertise ADDRESS  address clients of this instance use; the fleet's live\n"
    "                       instances that set it make the server list sent to\n"
    "                       agents, unless --servers is given\n"
    "  --http ADDRESS:PORT  serve /metrics (Prometheus), /healthz and a status page\n"
    "                       at / over HTTP there (default: no HTTP)\n"
    "  -q, --quiet          no log on standard error\n"
    "  -h, --help           show this text and exit\n"
    "  -V, --version        show the version and exit\n"
    "\n"
    "Once listening, the server writes one line \"listening on ADDRESS:PORT\" to\n"
    "standard output (then \"http on ADDRESS:PORT\" with --http) and tells a\n"
    "service manager that it is ready. The log (one line per registration,\n"
    "query and removal) goes to standard error; lines of one kind about one\n"
    "address beyond a burst of 50 (then 5 a second) are counted into one\n"
    "summary line. A frame over 4 KiB, or not complete within the ping timeout,\n"
    "drops its connection. SIGINT or SIGTERM stops the server.\n";

struct CommandLine {
  vossad::ServerOptions options;
  std::optional<std::string> store;
  std::optional<std::string> storePasswordFile;
  std::optional<std::string> instance;
  std::optional<std::string> advertise;
  std::optional<std::string> serversFile;
  std::optional<std::string> listVersion;
  std::optional<std::string> httpAddress;
};

enum OptionId {
  kPort = 256,
  kBind,
  kServers,
  kListVersion,
  kMaxPlayers,
  kMaxPerAddress,
  kLineRate,
  kLineBurst,
  kPingInterval,
  kPingTimeout,
  kQuiet,
  kHttp,
  kStore,
  kStorePasswordFile,
  kInstance,
  kAdvertise,
};

constexpr platform::CommandOption kOptions[] = {
    {"port", 'p', true, kPort},
    {"bind", 'b', true, kBind},
    {"servers", 's', true, kServers},
    {"list-version", 0, true, kListVersion},
    {"max-players", 0, true, kMaxPlayers},
    {"max-per-address", 0, true, kMaxPerAddress},
    {"line-rate", 0, true, kLineRate},
    {"line-burst", 0, true, kLineBurst},
    {"ping-interval", 0, true, kPingInterval},
    {"ping-timeout", 0, true, kPingTimeout},
    {"quiet", 'q', false, kQuiet},
    {"http", 0, true, kHttp},
    {"store", 0, true, kStore},
    {"store-password-file", 0, true, kStorePasswordFile},
    {"instance", 0, true, kInstance},
    {"advertise", 0, true, kAdvertise},
};

// A count option above 0 and at most max.
bool PositiveCount(const std::string& value, unsigned long max, std::size_t* out) {
  unsigned long count = 0;
  if (!platform::ParseCountOption(value, max, &count) || count == 0) return false;
  *out = count;
  return true;
}

// One option into *cl; false for a value it refuses.
bool TakeOption(CommandLine* cl, int id, const std::string& value) {
  vossad::ServerOptions& o = cl->options;
  unsigned long count = 0;
  std::size_t size = 0;
  switch (id) {
    case kPort:
      if (!platform::ParseCountOption(value, 65535, &count)) return false;
      o.port = static_cast<std::uint16_t>(count);
      return true;
    case kBind:
      o.bindAddress = value;
      return true;
    case kServers:
      cl->serversFile = value;
      return true;
    case kListVersion:
      cl->listVersion = value;
      return true;
    case kMaxPlayers:
      return PositiveCount(value, 1000000, &o.maxPlayers);
    case kMaxPerAddress:
      return PositiveCount(value, 1000000, &o.maxPerAddress);
    case kLineRate:
      if (!PositiveCount(value, 100000000, &size)) return false;
      o.lineRate = static_cast<double>(size);
      return true;
    case kLineBurst:
      return PositiveCount(value, 100000000, &o.lineBurst);
    case kPingInterval:
      return platform::ParseSecondsOption(value, &o.pingInterval);
    case kPingTimeout:
      return platform::ParseSecondsOption(value, &o.pingTimeout);
    case kQuiet:
      o.quiet = true;
      return true;
    case kHttp:
      cl->httpAddress = value;
      return vossad::IsHttpAddress(value);
    case kStore:
      cl->store = value;
      return true;
    case kStorePasswordFile:
      cl->storePasswordFile = value;
      return true;
    case kInstance:
      cl->instance = value;
      return vossad::ValidInstanceName(value);
    case kAdvertise:
      cl->advertise = value;
      return !value.empty() && vossad::ValidAdvertised(value);
  }
  return false;
}

// The exit status when the program stops here (help, version, a bad
// command line); -1 when it runs.
int ParseCommandLine(int argc, char** argv, CommandLine* cl) {
  std::string error;
  platform::CommandLineResult result = platform::ParseCommandLine(
      argc, argv, kOptions, [cl](int id, const std::string& value, std::string*) { return TakeOption(cl, id, value); },
      &error);
  if (result == platform::CommandLineResult::kRun && cl->listVersion && !cl->serversFile) {
    result = platform::CommandLineResult::kError;
    error = "--list-version needs --servers";
  }
  if (result == platform::CommandLineResult::kRun && !cl->store &&
      (cl->storePasswordFile || cl->instance || cl->advertise)) {
    result = platform::CommandLineResult::kError;
    error = "--store-password-file, --instance and --advertise need --store";
  }
  return platform::FinishCommandLine("vossad", result, kHelp, error);
}

std::string HostName() {
  char name[256] = "";
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "vossad";
  return name;
}

std::string Seconds(std::chrono::milliseconds ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", static_cast<double>(ms.count()) / 1000);
  return text;
}

// What the status page shows of this server: its name (host name and the
// port agents use) and the limits in force.
vossad::HttpStatus StatusOf(const vossad::ServerOptions& o, std::uint16_t port) {
  vossad::HttpStatus status;
  // A fleet's instance goes by the name it has in the store.
  status.instance = o.fleet && !o.fleet->instance.empty() ? o.fleet->instance
                                                          : HostName() + ":" + std::to_string(port);
  status.limits = {
      {"players", std::to_string(o.maxPlayers)},
      {"connections per address", std::to_string(o.maxPerAddress)},
      {"lines per second", std::to_string(static_cast<unsigned long>(o.lineRate))},
      {"line burst", std::to_string(o.lineBurst)},
      {"ping interval", Seconds(o.pingInterval)},
      {"ping timeout", Seconds(o.pingTimeout)},
      {"longest frame", std::to_string(vossad::LobbyServer::kMaxLineText) + " bytes"},
  };
  return status;
}

// What a service manager shows for the server (a no-op without one).
void NotifyStatus(const vossad::LobbyServer& server, const char* state) {
  sd_notifyf(0, "%sSTATUS=%zu players, %zu connections", state, server.playerCount(), server.connectionCount());
}

// The fleet's settings from the command line, the password from its file or
// the environment (never from the command line, where any user sees it).
bool FleetFromCommandLine(const CommandLine& cl, vossad::FleetOptions* fleet, std::string* error) {
  if (!vossad::ParseRedisUrl(*cl.store, &fleet->store, error)) return false;
  if (cl.storePasswordFile) {
    std::FILE* file = std::fopen(cl.storePasswordFile->c_str(), "r");
    if (file == nullptr) {
      *error = "cannot read " + *cl.storePasswordFile + ": " + std::strerror(errno);
      return false;
    }
    char line[512] = "";
    const bool read = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    std::string password = read ? line : "";
    while (!password.empty() && (password.back() == '\n' || password.back() == '\r')) password.pop_back();
    if (password.empty()) {
      *error = "no password in " + *cl.storePasswordFile;
      return false;
    }
    fleet->store.password = std::move(password);
  } else if (const char* env = std::getenv("VOSSAD_STORE_PASSWORD"); env != nullptr && *env != '\0') {
    fleet->store.password = env;
  }
  fleet->instance = cl.instance.value_or("");  // empty: named once the port is bound
  fleet->advertise = cl.advertise.value_or("");
  return true;
}

// Every agent holds a descriptor; the usual soft limit of 1024 would cap the
// server far below --max-players.
void RaiseDescriptorLimit(std::size_t players) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  const rlim_t wanted = static_cast<rlim_t>(players) + 64;
  if (limit.rlim_cur >= wanted) return;
  limit.rlim_cur = std::min(wanted, limit.rlim_max);
  setrlimit(RLIMIT_NOFILE, &limit);
}

// Grows the process's descriptor table to hold `descriptors` at once, while
// the process has one thread. The kernel doubles the table as descriptors
// are taken; once other threads share it (the HTTP side's), every doubling
// waits for an RCU grace period, 10 to 20 ms here, in the middle of an
// accept: nine of them stalled the first 10,000 registrations for about a
// third of their time. The table is never shrunk, so this is paid once,
// now: a descriptor is placed at the top and closed again.
void GrowDescriptorTable(std::size_t descriptors) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur < 2) return;
  const auto top = static_cast<int>(
      std::min<rlim_t>({static_cast<rlim_t>(descriptors), limit.rlim_cur, rlim_t{1} << 24}) - 1);
  const int probe = eventfd(0, EFD_CLOEXEC);
  if (probe < 0) return;
  const int placed = top > probe ? fcntl(probe, F_DUPFD_CLOEXEC, top) : -1;
  if (placed >= 0) close(placed);
  close(probe);
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine cl;
  if (const int status = ParseCommandLine(argc, argv, &cl); status >= 0) return status;

  if (cl.store) {
    std::string error;
    vossad::FleetOptions fleet;
    if (!FleetFromCommandLine(cl, &fleet, &error)) {
      std::fprintf(stderr, "vossad: %s\n", error.c_str());
      return 2;
    }
    cl.options.fleet = std::move(fleet);
  }
  if (cl.serversFile) {
    std::string error;
    cl.options.serverList = vossad::LoadServerList(*cl.serversFile, cl.listVersion, &error);
    if (!cl.options.serverList) {
      std::fprintf(stderr, "vossad: %s\n", error.c_str());
      return 1;
    }
  }

  // The log is written in batches, one per loop turn, not one write per line.
  static char logBuffer[1 << 16];
  std::setvbuf(stderr, logBuffer, _IOFBF, sizeof logBuffer);
  std::signal(SIGPIPE, SIG_IGN);
  RaiseDescriptorLimit(cl.options.maxPlayers);
  // Before any thread is started.
  GrowDescriptorTable(cl.options.maxPlayers + 64);

  platform::StopSignals stopSignals;

  vossad::LobbyServer server(cl.options);
  std::string error;
  if (!stopSignals.ok() || !server.Start(&error)) {
    std::fprintf(stderr, "vossad: %s\n", !stopSignals.ok() ? stopSignals.error().c_str() : error.c_str());
    return 1;
  }
  std::unique_ptr<vossad::HttpFront> http;
  if (cl.httpAddress) {
    http = std::make_unique<vossad::HttpFront>(server.metrics(), StatusOf(cl.options, server.port()));
    if (!http->Start(*cl.httpAddress, &error)) {
      std::fprintf(stderr, "vossad: %s\n", error.c_str());
      return 1;
    }
  }
  std::fflush(stderr);
  std::printf("listening on %s:%u\n", cl.options.bindAddress.c_str(), server.port());
  if (http) std::printf("http on %s:%u\n", cl.httpAddress->substr(0, cl.httpAddress->rfind(':')).c_str(), http->port());
  std::fflush(stdout);
  NotifyStatus(server, "READY=1\n");
  platform::Timer statusTimer([&server] { NotifyStatus(server, ""); });
  statusTimer.Start(std::chrono::seconds(5), std::chrono::seconds(5));

  while (!plat_quit_requested()) {
    plat_pump(-1);
    std::fflush(stderr);
  }
  sd_notify(0, "STOPPING=1");
  statusTimer.Stop();
  http.reset();
  server.Stop();
  std::fflush(stderr);
  return 0;
}
