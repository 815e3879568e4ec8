// bot_options.hpp - the console player's command line (internal to
// lobbybot): where to register, the profile it registers with, and how it
// behaves with offers and games.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/command_line.hpp"
#include "user_record.hpp"

namespace lobbybot {

struct BotOptions {
  std::string server = "127.0.0.1";
  int port = 2424;
  // Server list file handed to the agent; empty: a scratch file of its own.
  std::string serversIni;
  Profile profile{"Lobbybot", "", "", "", "", false, ""};
  // Set: every offer is refused with this reason.
  std::optional<std::string> refuseReason;
  // Offers games itself to players a query finds, while it has nothing to do.
  bool offer = false;
  std::chrono::milliseconds offerInterval{10000};
  // How long an offer waits for the partner's answer before it is withdrawn.
  std::chrono::milliseconds offerWait{60000};
  // Games per match; after this many it declines another. 0: no limit.
  unsigned games = 3;
  std::chrono::milliseconds think{600};
  std::uint16_t gamePort = 0;  // 0: the engine's game port
  std::uint32_t seed = 0;      // 0: from the clock
  bool quiet = false;
};

extern const char* const kHelpText;

using ParseResult = platform::CommandLineResult;

// Parses argv into *options; on kError *error says what was wrong.
ParseResult ParseCommandLine(int argc, const char* const* argv, BotOptions* options,
                             std::string* error);

}  // namespace lobbybot
