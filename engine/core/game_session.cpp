#include "game_session.hpp"

#include <unistd.h>

#include <cstdlib>

namespace cvgame {

std::uint16_t GamePortFromEnvironment() {
  const char* text = std::getenv(kGamePortVariable);
  if (text == nullptr) return kDefaultGamePort;
  char* end = nullptr;
  const long port = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || port <= 0 || port > 65535) return kDefaultGamePort;
  return static_cast<std::uint16_t>(port);
}

GameSession::GameSession(SessionOptions options, GameSessionObserver& observer)
    : options_(options),
      observer_(observer),
      waitTimer_([this] { End(EndCode::kNoConnection); }),
      idleTimer_([this] { End(EndCode::kDisconnected); }),
      keepAliveTimer_([this] { SendMessage({wire::Kind::kPing}); }) {}

GameSession::~GameSession() { *alive_ = false; }

bool GameSession::Start(std::string_view partner) {
  if (state_ != State::kNew) return false;
  if (partner == "l") {
    listening_ = true;
    // The side that offered the game begins the first one.
    match_ = Match(Side::kRemote);
    listener_ = std::make_unique<GameListener>();
    if (!listener_->Listen(options_.port, [this](int fd) { OnConnection(fd); })) {
      listener_.reset();
      state_ = State::kEnded;
      return false;
    }
    state_ = State::kWaiting;
    waitTimer_.Start(options_.listenBound);
    return true;
  }
  const std::optional<in_addr> address = ParsePartnerAddress(partner);
  if (!address) {
    state_ = State::kEnded;
    return false;
  }
  match_ = Match(Side::kLocal);
  state_ = State::kWaiting;
  connector_ = std::make_unique<GameConnector>();
  connector_->Start(*address, options_.port, options_.connectBound, options_.connectRetry,
                    [this](int fd) {
                      if (fd < 0)
                        End(EndCode::kNoConnection);
                      else
                        OnConnection(fd);
                    });
  return true;
}

void GameSession::OnConnection(int fd) {
  if (state_ != State::kWaiting) {
    close(fd);
    return;
  }
  waitTimer_.Stop();
  state_ = State::kHandshake;
  channel_ = std::make_unique<LineChannel>(
      fd, LineChannel::Handlers{[this](std::string_view line) { OnLine(line); },
                                [this](LineChannel::Failure) { End(EndCode::kDisconnected); }});
  if (!channel_->open()) return End(EndCode::kDisconnected);
  if (!SendMessage({wire::Kind::kHello})) return;
  idleTimer_.Start(options_.idleTimeout);
  keepAliveTimer_.Start(options_.keepAlive, options_.keepAlive);
}

void GameSession::OnLine(std::string_view line) {
  if (state_ != State::kHandshake && state_ != State::kPlaying) return;
  // Any line at all shows that the partner is still there.
  idleTimer_.Start(options_.idleTimeout);
  const std::optional<wire::Message> message = wire::Parse(line);
  if (!message) return End(EndCode::kDisconnected);
  if (state_ == State::kHandshake) {
    if (message->kind != wire::Kind::kHello) return End(EndCode::kDisconnected);
    return OnHello();
  }
  OnMatchMessage(*message);
}

void GameSession::OnHello() {
  state_ = State::kPlaying;
  const std::shared_ptr<bool> alive = alive_;
  observer_.OnConnected();
  if (!*alive || state_ != State::kPlaying) return;
  observer_.OnGameStarted();
}

void GameSession::OnMatchMessage(const wire::Message& message) {
  switch (message.kind) {
    case wire::Kind::kPing:
      return;
    case wire::Kind::kHello:
      return End(EndCode::kDisconnected);
    case wire::Kind::kMove:
      if (match_.phase() != Phase::kPlaying || match_.toMove() != Side::kRemote ||
          !match_.board().CanDrop(message.column))
        return End(EndCode::kDisconnected);
      return ApplyMove(Side::kRemote, message.column);
    case wire::Kind::kAgain:
      if (!match_.AskAgain(Side::kRemote)) return End(EndCode::kDisconnected);
      if (match_.phase() == Phase::kPlaying)
        observer_.OnGameStarted();
      else
        observer_.OnPartnerAskedAgain();
      return;
    case wire::Kind::kDone:
      if (match_.phase() != Phase::kBetweenGames) return End(EndCode::kDisconnected);
      return End(EndCode::kOneTime, true);
    case wire::Kind::kQuit:
      return End(EndCode::kPartnerExit, true);
  }
}

void GameSession::ApplyMove(Side who, int column) {
  const std::optional<Cell> cell = match_.Play(who, column);
  if (!cell) return;
  const std::shared_ptr<bool> alive = alive_;
  observer_.OnMove(who, *cell);
  if (!*alive || state_ != State::kPlaying) return;
  if (match_.phase() == Phase::kBetweenGames) observer_.OnGameOver();
}

bool GameSession::Play(int column) {
  if (state_ != State::kPlaying || match_.phase() != Phase::kPlaying ||
      match_.toMove() != Side::kLocal || !match_.board().CanDrop(column))
    return false;
  if (!SendMessage({wire::Kind::kMove, column})) return true;
  ApplyMove(Side::kLocal, column);
  return true;
}

bool GameSession::PlayAgain() {
  if (state_ != State::kPlaying || !match_.AskAgain(Side::kLocal)) return false;
  if (!SendMessage({wire::Kind::kAgain})) return true;
  if (match_.phase() == Phase::kPlaying) observer_.OnGameStarted();
  return true;
}

bool GameSession::Decline() {
  if (state_ != State::kPlaying || match_.phase() != Phase::kBetweenGames) return false;
  if (SendMessage({wire::Kind::kDone})) End(EndCode::kOneTime, true);
  return true;
}

void GameSession::Exit() {
  if (state_ == State::kEnded) return;
  // Best effort: if the line cannot go, the partner sees the connection end.
  if (channel_) channel_->Send(wire::Encode({wire::Kind::kQuit}));
  End(EndCode::kExit, true);
}

bool GameSession::SendMessage(const wire::Message& message) {
  if (channel_ && channel_->Send(wire::Encode(message))) return true;
  End(EndCode::kDisconnected);
  return false;
}

void GameSession::End(EndCode code, bool graceful) {
  if (state_ == State::kEnded) return;
  state_ = State::kEnded;
  endCode_ = code;
  waitTimer_.Stop();
  idleTimer_.Stop();
  keepAliveTimer_.Stop();
  if (channel_ && graceful) channel_->CloseGracefully();
  // These may be the objects whose callback is running; each of them checks
  // that it is still alive once the callback returns.
  channel_.reset();
  listener_.reset();
  connector_.reset();
  observer_.OnEnded(code);
}

}  // namespace cvgame
