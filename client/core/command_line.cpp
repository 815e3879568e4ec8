#include "command_line.hpp"

#include <getopt.h>

#include <cstdio>

namespace lobby {
namespace {

constexpr const char* kUsage =
    "Usage: lobby [--help] [--version]\n"
    "The windowed client of the lobby for two-player games. It takes no other\n"
    "argument: it finds its installation directory through WIN.INI, which\n"
    "lobby-setup (or lobby-launch, the desktop menu's entry) makes, and reads\n"
    "everything else from the files there. See lobby(6).\n"
    "\n"
    "  -h, --help     print this help and exit\n"
    "      --version  print the version and exit\n";

}  // namespace

std::optional<int> HandleCommandLine(int argc, char** argv) {
  enum { kVersion = 1000 };
  static const option kOptions[] = {
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, kVersion},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;  // the messages below say it the same way for every case
  optind = 1;
  int option = 0;
  while ((option = getopt_long(argc, argv, "+h", kOptions, nullptr)) != -1) {
    switch (option) {
      case 'h':
        std::fputs(kUsage, stdout);
        return 0;
      case kVersion:
        std::printf("lobby %s\n", LOBBY_VERSION);
        return 0;
      default:
        std::fprintf(stderr, "lobby: unknown option %s (see lobby --help)\n", argv[optind - 1]);
        return 2;
    }
  }
  if (optind < argc) {
    std::fprintf(stderr, "lobby: takes no argument: %s (see lobby --help)\n", argv[optind]);
    return 2;
  }
  return std::nullopt;
}

}  // namespace lobby
