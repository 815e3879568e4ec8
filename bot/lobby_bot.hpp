// lobby_bot.hpp - the console player's behaviour (internal to lobbybot),
// built only on the agent's C API, the platform's C API and the game core.
//
// It registers with the lobby server, answers offers (accepts and plays, or
// refuses with the reason it was given), offers games itself when told to,
// and plays every match with the core's computer opponent. After a match,
// and after a lost or refused registration, it registers again; failures
// wait 1 s, 2 s, 4 s ... up to 30 s between attempts, and the wait starts
// over once the server has kept a registration (it was lost later, not
// refused) and after every match. Everything runs on the
// platform loop; the host pumps it.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "auto_player.hpp"
#include "bot_options.hpp"
#include "platform/platform.h"
#include "platform/timer.hpp"

namespace lobbybot {

class LobbyBot {
 public:
  static constexpr std::chrono::milliseconds kFirstRetry{1000};
  static constexpr std::chrono::milliseconds kLongestRetry{30000};

  // say: one line for each thing the bot does.
  LobbyBot(BotOptions options, std::function<void(const std::string&)> say);
  ~LobbyBot();
  LobbyBot(const LobbyBot&) = delete;
  LobbyBot& operator=(const LobbyBot&) = delete;

  // Opens the agent session and registers. False, with *error set, when the
  // session cannot be opened.
  bool Start(std::string* error);
  // Leaves the game (the partner hears Exit), the server and the session.
  void Stop();

 private:
  enum class State { kWaiting, kRegistering, kRegistered, kQuerying, kOffering, kPlaying, kStopped };

  struct Message {
    std::string playerId;
    int type = 0;
    std::string text;
    std::string moreInfo;
  };

  static void OnNotify(plat_hwnd, unsigned message, uintptr_t, intptr_t, void* user);
  void Drain();
  void Handle(const Message& m);

  void Register();
  void RegisterLater();
  void OnRegistration(const Message& m);
  void OnServerLost();

  void OnOffer(const Message& m);
  void Refuse(const std::string& request, const std::string& who, const std::string& reason);
  void Query();
  void OnQueryEnd();
  void OnJoinResponse(const Message& m);
  void OnOfferUndeliverable();
  void OnOfferTimeout();
  void BackToLobby();

  bool StartMatch(const std::string& partner);
  void OnMatchEnded(cvgame::EndCode code);
  void AfterMatch();

  void Say(const std::string& line) { say_(line); }

  BotOptions options_;
  std::function<void(const std::string&)> say_;
  State state_ = State::kWaiting;
  int handle_ = -1;
  plat_hwnd window_ = 0;
  std::chrono::milliseconds retry_ = kFirstRetry;
  bool serverLostMeanwhile_ = false;
  std::string partnerName_;
  std::vector<std::string> candidates_;
  std::mt19937 rng_;
  std::unique_ptr<cvgame::AutoPlayer> player_;
  platform::Timer registerTimer_;
  platform::Timer offerTimer_;
  platform::Timer offerWaitTimer_;
  platform::Timer afterMatchTimer_;
};

}  // namespace lobbybot
