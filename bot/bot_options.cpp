#include "bot_options.hpp"

#include <string_view>

#include "platform/command_line.hpp"
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
    "  -s, --server HOST    lobby server address (default 127.0.0.1)\n"
    "  -p, --port N         lobby server port (default 2424)\n"
    "  --servers-ini FILE   server list file for the agent (default: a scratch file)\n"
    "Profile:\n"
    "  -n, --name NAME      real name shown to others (default Lobbybot)\n"
    "  --desc TEXT          description\n"
    "  --city TEXT          city\n"
    "  --country TEXT       country\n"
    "  --age TEXT           age\n"
    "  --sex male|female    (default male)\n"
    "  --email TEXT         e-mail address\n"
    "Behaviour:\n"
    "  -a, --accept         accept every offer (the default)\n"
    "  -r, --refuse REASON  refuse every offer with this reason\n"
    "  -o, --offer          offer a game to a player found by a query while idle\n"
    "  --offer-interval S   seconds between two such queries (default 10)\n"
    "  --offer-wait S       seconds an offer waits for an answer (default 60)\n"
    "  -g, --games N        games per match, then it declines another; 0: no\n"
    "                       limit (default 3)\n"
    "  --think-ms N         pause before each move, in milliseconds (default 600)\n"
    "  --game-port N        game port of both engines (default: $CVENGINE_GAME_PORT,\n"
    "                       else 2430)\n"
    "  --seed N             seed of the opponent's choices (default: the clock)\n"
    "  -q, --quiet          no line per move and per game; registrations, offers\n"
    "                       and results only\n"
    "  -h, --help           show this text and exit\n"
    "  -V, --version        show the version and exit\n";

namespace {

enum OptionId {
  kServer = 256,
  kPort,
  kServersIni,
  kName,
  kDesc,
  kCity,
  kCountry,
  kAge,
  kSex,
  kEmail,
  kAccept,
  kRefuse,
  kOffer,
  kOfferInterval,
  kOfferWait,
  kGames,
  kThinkMs,
  kGamePort,
  kSeed,
  kQuiet,
};

constexpr platform::CommandOption kOptions[] = {
    {"server", 's', true, kServer},
    {"port", 'p', true, kPort},
    {"servers-ini", 0, true, kServersIni},
    {"name", 'n', true, kName},
    {"desc", 0, true, kDesc},
    {"city", 0, true, kCity},
    {"country", 0, true, kCountry},
    {"age", 0, true, kAge},
    {"sex", 0, true, kSex},
    {"email", 0, true, kEmail},
    {"accept", 'a', false, kAccept},
    {"refuse", 'r', true, kRefuse},
    {"offer", 'o', false, kOffer},
    {"offer-interval", 0, true, kOfferInterval},
    {"offer-wait", 0, true, kOfferWait},
    {"games", 'g', true, kGames},
    {"think-ms", 0, true, kThinkMs},
    {"game-port", 0, true, kGamePort},
    {"seed", 0, true, kSeed},
    {"quiet", 'q', false, kQuiet},
};

// A count up to max into *out; false (nothing stored) otherwise.
template <typename T>
bool Count(const std::string& value, unsigned long min, unsigned long max, T* out) {
  unsigned long number = 0;
  if (!platform::ParseCountOption(value, max, &number) || number < min) return false;
  *out = static_cast<T>(number);
  return true;
}

bool TakeOption(BotOptions* o, int id, const std::string& value) {
  switch (id) {
    case kServer:
      o->server = value;
      return !value.empty();
    case kPort:
      return Count(value, 1, 65535, &o->port);
    case kServersIni:
      o->serversIni = value;
      return !value.empty();
    case kName:
      o->profile.name = value;
      return !value.empty();
    case kDesc:
      o->profile.description = value;
      return true;
    case kCity:
      o->profile.city = value;
      return true;
    case kCountry:
      o->profile.country = value;
      return true;
    case kAge:
      o->profile.age = value;
      return true;
    case kSex:
      o->profile.female = value == "female";
      return value == "male" || value == "female";
    case kEmail:
      o->profile.email = value;
      return true;
    case kAccept:
      o->refuseReason.reset();
      return true;
    case kRefuse:
      o->refuseReason = value;
      return true;
    case kOffer:
      o->offer = true;
      return true;
    case kOfferInterval:
      return platform::ParseSecondsOption(value, &o->offerInterval);
    case kOfferWait:
      return platform::ParseSecondsOption(value, &o->offerWait);
    case kGames:
      return Count(value, 0, 1000000, &o->games);
    case kThinkMs: {
      unsigned long ms = 0;
      if (!Count(value, 0, 60000, &ms)) return false;
      o->think = std::chrono::milliseconds(ms);
      return true;
    }
    case kGamePort:
      return Count(value, 1, 65535, &o->gamePort);
    case kSeed:
      return Count(value, 0, 0xFFFFFFFFul, &o->seed);
    case kQuiet:
      o->quiet = true;
      return true;
  }
  return false;
}

}  // namespace

ParseResult ParseCommandLine(int argc, const char* const* argv, BotOptions* o, std::string* error) {
  return platform::ParseCommandLine(
      argc, argv, kOptions, [o](int id, const std::string& value, std::string*) { return TakeOption(o, id, value); },
      error);
}

}  // namespace lobbybot
