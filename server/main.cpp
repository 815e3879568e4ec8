// vossad - the lobby server that agents register with: command line, signals
// and the loop that drives the server (lobby_server.hpp).
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "lobby_server.hpp"
#include "platform/option_values.hpp"
#include "platform/stop_signals.hpp"
#include "platform/platform.h"
#include "server_list.hpp"

namespace {

constexpr const char* kHelp =
    "Usage: vossad [OPTION]...\n"
    "The lobby server: agents register, list the players of their application\n"
    "and find partners; the server probes each of them to drop the dead ones.\n"
    "\n"
    "  --port N             TCP port to listen on (default 2424; 0 picks a free one)\n"
    "  --bind ADDRESS       IPv4 address to listen on (default 0.0.0.0)\n"
    "  --servers FILE       server list file ([QORServers] section) sent to agents\n"
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
    "  --quiet              no log on standard error\n"
    "  --help               show this text and exit\n"
    "\n"
    "Once listening, the server writes one line \"listening on ADDRESS:PORT\" to\n"
    "standard output. The log (one line per registration, query and removal) goes\n"
    "to standard error; lines of one kind about one address beyond a burst of 50\n"
    "(then 5 a second) are counted into one summary line. A frame over 4 KiB, or\n"
    "not complete within the ping timeout, drops its connection. SIGINT or\n"
    "SIGTERM stops the server.\n";

struct CommandLine {
  vossad::ServerOptions options;
  std::optional<std::string> store;
  std::optional<std::string> storePasswordFile;
  std::optional<std::string> instance;
  std::optional<std::string> advertise;
  std::optional<std::string> serversFile;
  std::optional<std::string> listVersion;
};

// Returns 0 to run, 1 after --help, 2 on a usage error (message printed).
int ParseCommandLine(int argc, char** argv, CommandLine* cl) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 1;
    }
    if (arg == "--quiet") {
      cl->options.quiet = true;
      continue;
    }
    std::string value;
    const std::size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      std::fprintf(stderr, "vossad: %s needs a value (see --help)\n", arg.c_str());
      return 2;
    }

    unsigned long count = 0;
    bool ok = true;
    if (arg == "--port") {
      ok = platform::ParseCountOption(value, 65535, &count);
      cl->options.port = static_cast<std::uint16_t>(count);
    } else if (arg == "--bind") {
      cl->options.bindAddress = value;
    } else if (arg == "--servers") {
      cl->serversFile = value;
    } else if (arg == "--list-version") {
      cl->listVersion = value;
    } else if (arg == "--store") {
      cl->store = value;
    } else if (arg == "--store-password-file") {
      cl->storePasswordFile = value;
    } else if (arg == "--instance") {
      ok = vossad::ValidInstanceName(value);
      cl->instance = value;
    } else if (arg == "--advertise") {
      ok = !value.empty() && vossad::ValidAdvertised(value);
      cl->advertise = value;
    } else if (arg == "--max-players") {
      ok = platform::ParseCountOption(value, 1000000, &count) && count > 0;
      cl->options.maxPlayers = count;
    } else if (arg == "--max-per-address") {
      ok = platform::ParseCountOption(value, 1000000, &count) && count > 0;
      cl->options.maxPerAddress = count;
    } else if (arg == "--line-rate") {
      ok = platform::ParseCountOption(value, 100000000, &count) && count > 0;
      cl->options.lineRate = static_cast<double>(count);
    } else if (arg == "--line-burst") {
      ok = platform::ParseCountOption(value, 100000000, &count) && count > 0;
      cl->options.lineBurst = count;
    } else if (arg == "--ping-interval") {
      ok = platform::ParseSecondsOption(value, &cl->options.pingInterval);
    } else if (arg == "--ping-timeout") {
      ok = platform::ParseSecondsOption(value, &cl->options.pingTimeout);
    } else {
      std::fprintf(stderr, "vossad: unknown option %s (see --help)\n", arg.c_str());
      return 2;
    }
    if (!ok) {
      std::fprintf(stderr, "vossad: bad value for %s: %s\n", arg.c_str(), value.c_str());
      return 2;
    }
  }
  if (!cl->store && (cl->storePasswordFile || cl->instance || cl->advertise)) {
    std::fprintf(stderr, "vossad: --store-password-file, --instance and --advertise need --store\n");
    return 2;
  }
  if (cl->listVersion && !cl->serversFile) {
    std::fprintf(stderr, "vossad: --list-version needs --servers\n");
    return 2;
  }
  return 0;
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

}  // namespace

int main(int argc, char** argv) {
  CommandLine cl;
  if (const int rc = ParseCommandLine(argc, argv, &cl); rc != 0) return rc == 1 ? 0 : 2;

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

  platform::StopSignals stopSignals;

  vossad::LobbyServer server(cl.options);
  std::string error;
  if (!stopSignals.ok() || !server.Start(&error)) {
    std::fprintf(stderr, "vossad: %s\n", !stopSignals.ok() ? stopSignals.error().c_str() : error.c_str());
    return 1;
  }
  std::fflush(stderr);
  std::printf("listening on %s:%u\n", cl.options.bindAddress.c_str(), server.port());
  std::fflush(stdout);

  while (!plat_quit_requested()) {
    plat_pump(-1);
    std::fflush(stderr);
  }
  server.Stop();
  std::fflush(stderr);
  return 0;
}
