#include "lobby_bot.hpp"

#include <algorithm>

#include "zep/zep.h"

namespace lobbybot {
namespace {

constexpr const char* kBusyReason = "I am playing a game";

std::string NameIn(const std::string& record) {
  const std::string name = RecordField(record, "REAL=");
  return name.empty() ? "???" : name;
}

std::string Seconds(std::chrono::milliseconds d) {
  const long long ms = d.count();
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

}  // namespace

LobbyBot::LobbyBot(BotOptions options, std::function<void(const std::string&)> say)
    : options_(std::move(options)),
      say_(std::move(say)),
      rng_(options_.seed),
      registerTimer_([this] { Register(); }),
      offerTimer_([this] { Query(); }),
      offerWaitTimer_([this] { OnOfferTimeout(); }),
      afterMatchTimer_([this] { AfterMatch(); }) {
  if (options_.gamePort == 0) options_.gamePort = cvgame::GamePortFromEnvironment();
}

LobbyBot::~LobbyBot() { Stop(); }

bool LobbyBot::Start(std::string* error) {
  window_ = plat_window_create(&LobbyBot::OnNotify, this);
  if (window_ == 0) {
    *error = "cannot create the notification window";
    return false;
  }
  const std::string record = BuildUserRecord(options_.profile);
  const int rc = ZEPOpenSession(&handle_, 0, lobby::kApplicationName, record.c_str(), "version.dll", window_,
                                lobby::kNotifyMessage, options_.serversIni.c_str());
  if (rc != ZEP_RET_OK) {
    *error = "cannot open an agent session (result " + std::to_string(rc) + ")";
    if (handle_ >= 0) ZEPLeaveSession(handle_);
    handle_ = -1;
    return false;
  }
  Say("session open as " + options_.profile.name + " (game port " +
      std::to_string(options_.gamePort) + ")");
  Register();
  return true;
}

void LobbyBot::Stop() {
  if (state_ == State::kStopped) return;
  const State was = state_;
  state_ = State::kStopped;
  registerTimer_.Stop();
  offerTimer_.Stop();
  offerWaitTimer_.Stop();
  afterMatchTimer_.Stop();
  if (player_) {
    player_->Exit();
    player_.reset();
  }
  if (handle_ >= 0) {
    if (was == State::kOffering) ZEPAbortSubGroupJoinRequest(handle_);
    ZEPLeaveSubGroup(handle_);
    int server = 0;
    if (ZEPGetSessionServerStatus(handle_, &server) == ZEP_RET_OK && server == ZEP_SS_INSRV)
      ZEPLeaveServer(handle_);
    ZEPLeaveSession(handle_);
    handle_ = -1;
  }
  if (window_ != 0) plat_window_destroy(window_);
  window_ = 0;
  Say("stopped");
}

// ---- agent messages -------------------------------------------------------------

void LobbyBot::OnNotify(plat_hwnd, unsigned message, uintptr_t, intptr_t, void* user) {
  if (message == lobby::kNotifyMessage) static_cast<LobbyBot*>(user)->Drain();
}

void LobbyBot::Drain() {
  char id[ZEP_PLAYERID_SIZE], text[ZEP_TEXT_SIZE], more[ZEP_TEXT_SIZE];
  int type = 0;
  while (state_ != State::kStopped && handle_ >= 0 &&
         ZEPGetNextMessage(handle_, id, &type, text, more) == ZEP_RET_OK) {
    Handle({id, type, text, more});
  }
}

void LobbyBot::Handle(const Message& m) {
  switch (m.type) {
    case ZEP_MT_JOINSRVRESPONSE:
      return OnRegistration(m);
    case ZEP_MT_LOSTSERVER:
      return OnServerLost();
    case ZEP_MT_USERMSG:
      if (m.moreInfo.find("JOIN") != std::string::npos) return OnOffer(m);
      if (m.moreInfo.find("TERM") != std::string::npos)
        Say("the offer from " + NameIn(m.text) + " was withdrawn");
      return;
    case ZEP_MT_USERDESC:
      if (state_ == State::kQuerying) candidates_.push_back(m.text);
      return;
    case ZEP_MT_QUERYRESPONSE:
      if (state_ == State::kQuerying) OnQueryEnd();
      return;
    case ZEP_MT_JOINRESPONSE:
      return OnJoinResponse(m);
    case ZEP_MT_NODELIVERY:
      if (state_ == State::kOffering && m.moreInfo.find("JOINFAIL") != std::string::npos)
        OnOfferUndeliverable();
      return;
    default:
      // Subgroup bookkeeping (ADDP, REMP, the end of a subgroup): the game
      // itself runs over its own connection.
      return;
  }
}

// ---- registering --------------------------------------------------------------

void LobbyBot::Register() {
  if (state_ == State::kStopped || handle_ < 0) return;
  state_ = State::kRegistering;
  Say("registering with " + options_.server + ":" + std::to_string(options_.port) + " as " +
      options_.profile.name);
  const int rc = ZEPJoinServer(handle_, options_.server.c_str(), options_.port);
  // A connect that failed has queued "FAIL", which retries; anything else
  // would leave the bot waiting for an answer that never comes.
  if (rc != ZEP_RET_OK && rc != ZEP_RET_CONNECTFAILED) {
    Say("cannot register (result " + std::to_string(rc) + ")");
    RegisterLater();
  }
}

void LobbyBot::RegisterLater() {
  if (state_ == State::kStopped) return;
  state_ = State::kWaiting;
  offerTimer_.Stop();
  Say("registering again in " + Seconds(retry_));
  registerTimer_.Start(retry_);
  retry_ = std::min(retry_ * 2, kLongestRetry);
}

void LobbyBot::OnRegistration(const Message& m) {
  // The agent registers without waiting for the server, so a server that
  // turns the bot away says BUSY after the ACKJ. The wait does not start
  // over at an ACKJ for that reason: only a registration the server kept
  // (lost later, OnServerLost) or a match played resets it.
  const bool refused = m.text.find("BUSY") != std::string::npos;
  if (refused && (state_ == State::kRegistering || state_ == State::kRegistered || state_ == State::kQuerying)) {
    // The agent has left that server already.
    const bool noReason = m.moreInfo.find_first_not_of(' ') == std::string::npos;
    Say("registration refused by the server" + (noReason ? std::string() : " (" + m.moreInfo + ")"));
    return RegisterLater();
  }
  if (state_ != State::kRegistering) return;
  if (m.text.find("ACKJ") != std::string::npos) {
    state_ = State::kRegistered;
    Say("registered");
    if (options_.offer) offerTimer_.Start(options_.offerInterval);
    return;
  }
  Say("registration failed (" + m.text + ")");
  // A failed registration may leave the connection half made.
  ZEPLeaveServer(handle_);
  RegisterLater();
}

void LobbyBot::OnServerLost() {
  switch (state_) {
    case State::kRegistered:
    case State::kQuerying:
      // The server had kept the registration: the wait starts over.
      retry_ = kFirstRetry;
      [[fallthrough]];
    case State::kRegistering:
      Say("lost the server");
      return RegisterLater();
    case State::kOffering:
      // The offer travels between the agents; register again once it is
      // answered.
      serverLostMeanwhile_ = true;
      return;
    default:
      // kPlaying: the bot left the server itself when the game began.
      return;
  }
}

// ---- offers to the bot ------------------------------------------------------------

void LobbyBot::Refuse(const std::string& request, const std::string& who, const std::string& reason) {
  ZEPAcceptSubGroupJoinRequest(handle_, request.c_str(), 0, reason.c_str());
  Say("refused a game offered by " + who + ": " + reason);
}

void LobbyBot::OnOffer(const Message& m) {
  const std::string who = NameIn(m.text) + " (" + m.playerId + ")";
  if (options_.refuseReason) return Refuse(m.text, who, *options_.refuseReason);
  if (state_ != State::kRegistered && state_ != State::kQuerying)
    return Refuse(m.text, who, kBusyReason);
  // Listen before accepting: the partner connects as soon as it hears yes.
  partnerName_ = NameIn(m.text);
  if (!StartMatch("l")) return Refuse(m.text, who, "My game port is busy");
  // Further offers are refused by the agent itself while this game runs.
  ZEPSetResponseStatus(handle_, 0, 0, kBusyReason);
  const int rc = ZEPAcceptSubGroupJoinRequest(handle_, m.text.c_str(), 1, "None");
  if (rc != ZEP_RET_OK) {
    Say("could not accept the game offered by " + who + " (result " + std::to_string(rc) + ")");
    player_.reset();
    ZEPSetResponseStatus(handle_, 1, 0, nullptr);
    return;
  }
  Say("accepted a game offered by " + who + "; waiting on game port " +
      std::to_string(options_.gamePort));
  state_ = State::kPlaying;
  offerTimer_.Stop();
  ZEPLeaveServer(handle_);
}

// ---- offers by the bot ---------------------------------------------------------------

void LobbyBot::Query() {
  if (state_ != State::kRegistered) return;
  candidates_.clear();
  if (ZEPQueryUsers(handle_, " ", 50, nullptr, nullptr) != ZEP_RET_OK) {
    offerTimer_.Start(options_.offerInterval);
    return;
  }
  state_ = State::kQuerying;
}

void LobbyBot::OnQueryEnd() {
  state_ = State::kRegistered;
  // The server leaves the asker out; a player with the bot's own record
  // would be another copy of it, which is as good a partner as any.
  if (candidates_.empty()) {
    Say("nobody to offer a game to");
    offerTimer_.Start(options_.offerInterval);
    return;
  }
  const std::string chosen =
      candidates_[std::uniform_int_distribution<std::size_t>(0, candidates_.size() - 1)(rng_)];
  candidates_.clear();
  partnerName_ = NameIn(chosen);
  const std::string id = RecordField(chosen, "ID=");
  const int rc = ZEPJoinSubGroup(handle_, chosen.c_str());
  if (rc != ZEP_RET_OK) {
    Say("could not offer a game to " + partnerName_ + " (result " + std::to_string(rc) + ")");
    offerTimer_.Start(options_.offerInterval);
    return;
  }
  state_ = State::kOffering;
  Say("offering a game to " + partnerName_ + " (" + id + ")");
  offerWaitTimer_.Start(options_.offerWait);
}

void LobbyBot::OnJoinResponse(const Message& m) {
  if (state_ != State::kOffering) return;
  offerWaitTimer_.Stop();
  if (m.text.find("AKNJ") == std::string::npos) {
    Say(partnerName_ + " refused: " + m.moreInfo);
    return BackToLobby();
  }
  const std::string address = AddressOfPlayer(m.playerId);
  if (!StartMatch(address)) {
    Say("cannot reach " + partnerName_ + " at " + address);
    ZEPLeaveSubGroup(handle_);
    return BackToLobby();
  }
  Say(partnerName_ + " accepted; connecting to " + address + " on game port " +
      std::to_string(options_.gamePort));
  state_ = State::kPlaying;
  int server = 0;
  if (ZEPGetSessionServerStatus(handle_, &server) == ZEP_RET_OK && server == ZEP_SS_INSRV)
    ZEPLeaveServer(handle_);
}

void LobbyBot::OnOfferUndeliverable() {
  offerWaitTimer_.Stop();
  Say("could not reach " + partnerName_);
  BackToLobby();
}

void LobbyBot::OnOfferTimeout() {
  if (state_ != State::kOffering) return;
  ZEPAbortSubGroupJoinRequest(handle_);
  Say("no answer from " + partnerName_ + "; offer withdrawn");
  BackToLobby();
}

void LobbyBot::BackToLobby() {
  if (serverLostMeanwhile_) {
    serverLostMeanwhile_ = false;
    Say("lost the server");
    return RegisterLater();
  }
  state_ = State::kRegistered;
  if (options_.offer) offerTimer_.Start(options_.offerInterval);
}

// ---- matches ------------------------------------------------------------------------

bool LobbyBot::StartMatch(const std::string& partner) {
  cvgame::SessionOptions session;
  session.port = options_.gamePort;
  cvgame::AutoPlayerOptions play;
  play.think = options_.think;
  play.games = options_.games;
  play.seed = static_cast<std::uint32_t>(rng_());
  cvgame::AutoPlayer::Events events;
  if (!options_.quiet) events.say = [this](const std::string& line) { Say(line); };
  events.ended = [this](cvgame::EndCode code) { OnMatchEnded(code); };
  player_ = std::make_unique<cvgame::AutoPlayer>(session, play, std::move(events));
  if (player_->Start(partner)) return true;
  player_.reset();
  return false;
}

void LobbyBot::OnMatchEnded(cvgame::EndCode code) {
  const cvgame::Match& m = player_->session().match();
  Say("match with " + partnerName_ + " over: " + cvgame::EndCodeName(code) + ", won " +
      std::to_string(m.localWins()) + " lost " + std::to_string(m.remoteWins()) + " drawn " +
      std::to_string(m.draws()));
  // The player is still on the stack here; it goes on the next loop turn.
  if (state_ != State::kStopped) afterMatchTimer_.Start(std::chrono::milliseconds(0));
}

void LobbyBot::AfterMatch() {
  player_.reset();
  ZEPLeaveSubGroup(handle_);
  ZEPSetResponseStatus(handle_, 1, 0, nullptr);
  retry_ = kFirstRetry;
  Register();
}

}  // namespace lobbybot
