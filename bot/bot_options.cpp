#include "bot_options.hpp"

#include <string_view>

#include "platform/option_values.hpp"

namespace lobbybot {

const char* const kHelpText =
    "Usage: lobbybot [OPTION]...\n"
    "A console player: registers with a lobby server, answers offers of a game\n"
    "(or offers games itself), and plays them with the computer opponent. It\n"
    "registers again after every game and after a lost server, and runs until\n"
    "SIGINT or SIGTERM. One line on standard output for each thing it does.\n"
    "\n"
    "Server:\n"
    "  --server HOST        lobby server address (default 127.0.0.1)\n"
    "  --port N             lobby server port (default 2424)\n"
    "  --servers-ini FILE   server list file for the agent (default: a scratch file)\n"
    "Profile:\n"
    "  --name NAME          real name shown to others (default Lobbybot)\n"
    "  --desc TEXT          description\n"
    "  --city TEXT          city\n"
    "  --country TEXT       country\n"
    "  --age TEXT           age\n"
    "  --sex male|female    (default male)\n"
    "  --email TEXT         e-mail address\n"
    "Behaviour:\n"
    "  --accept             accept every offer (the default)\n"
    "  --refuse REASON      refuse every offer with this reason\n"
    "  --offer              offer a game to a player found by a query while idle\n"
    "  --offer-interval S   seconds between two such queries (default 10)\n"
    "  --offer-wait S       seconds an offer waits for an answer (default 60)\n"
    "  --games N            games per match, then it declines another; 0: no\n"
    "                       limit (default 3)\n"
    "  --think-ms N         pause before each move, in milliseconds (default 600)\n"
    "  --game-port N        game port of both engines (default: $CVENGINE_GAME_PORT,\n"
    "                       else 2430)\n"
    "  --seed N             seed of the opponent's choices (default: the clock)\n"
    "  --quiet              no line per move and per game; registrations, offers\n"
    "                       and results only\n"
    "  --help               show this text and exit\n";

ParseResult ParseCommandLine(int argc, const char* const* argv, BotOptions* o, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return ParseResult::kHelp;
    if (arg == "--quiet") {
      o->quiet = true;
      continue;
    }
    if (arg == "--accept") {
      o->refuseReason.reset();
      continue;
    }
    if (arg == "--offer") {
      o->offer = true;
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
      *error = arg + " needs a value (see --help)";
      return ParseResult::kError;
    }

    unsigned long number = 0;
    bool ok = true;
    if (arg == "--server") {
      ok = !value.empty();
      o->server = value;
    } else if (arg == "--port") {
      ok = platform::ParseCountOption(value, 65535, &number) && number > 0;
      o->port = static_cast<int>(number);
    } else if (arg == "--servers-ini") {
      ok = !value.empty();
      o->serversIni = value;
    } else if (arg == "--name") {
      ok = !value.empty();
      o->profile.name = value;
    } else if (arg == "--desc") {
      o->profile.description = value;
    } else if (arg == "--city") {
      o->profile.city = value;
    } else if (arg == "--country") {
      o->profile.country = value;
    } else if (arg == "--age") {
      o->profile.age = value;
    } else if (arg == "--sex") {
      ok = value == "male" || value == "female";
      o->profile.female = value == "female";
    } else if (arg == "--email") {
      o->profile.email = value;
    } else if (arg == "--refuse") {
      o->refuseReason = value;
    } else if (arg == "--offer-interval") {
      ok = platform::ParseSecondsOption(value, &o->offerInterval);
    } else if (arg == "--offer-wait") {
      ok = platform::ParseSecondsOption(value, &o->offerWait);
    } else if (arg == "--games") {
      ok = platform::ParseCountOption(value, 1000000, &number);
      o->games = static_cast<unsigned>(number);
    } else if (arg == "--think-ms") {
      ok = platform::ParseCountOption(value, 60000, &number);
      o->think = std::chrono::milliseconds(number);
    } else if (arg == "--game-port") {
      ok = platform::ParseCountOption(value, 65535, &number) && number > 0;
      o->gamePort = static_cast<std::uint16_t>(number);
    } else if (arg == "--seed") {
      ok = platform::ParseCountOption(value, 0xFFFFFFFFul, &number);
      o->seed = static_cast<std::uint32_t>(number);
    } else {
      *error = "unknown option " + arg + " (see --help)";
      return ParseResult::kError;
    }
    if (!ok) {
      *error = "bad value for " + arg + ": " + value;
      return ParseResult::kError;
    }
  }
  return ParseResult::kRun;
}

}  // namespace lobbybot
