// session_support.hpp - helpers for tests of game sessions: an observer that
// records what a session reports, options with short bounds, and a free TCP
// port.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "../support/free_port.hpp"
#include "game_session.hpp"

namespace testsupport {

// Bounds short enough for tests; the idle bound stays generous so that a
// loaded machine does not end a healthy match.
inline cvgame::SessionOptions FastOptions(std::uint16_t port = 0) {
  cvgame::SessionOptions o;
  o.port = port;
  o.connectBound = std::chrono::milliseconds(3000);
  o.connectRetry = std::chrono::milliseconds(20);
  o.listenBound = std::chrono::milliseconds(5000);
  o.idleTimeout = std::chrono::milliseconds(3000);
  o.keepAlive = std::chrono::milliseconds(100);
  return o;
}

class Recorder : public cvgame::GameSessionObserver {
 public:
  void OnConnected() override { log.push_back("connected"); }
  void OnGameStarted() override { log.push_back("started"); }
  void OnMove(cvgame::Side who, cvgame::Cell cell) override {
    log.push_back(std::string(who == cvgame::Side::kLocal ? "me " : "partner ") +
                  std::to_string(cell.column + 1));
  }
  void OnGameOver() override { log.push_back("over"); }
  void OnPartnerAskedAgain() override { log.push_back("asked"); }
  void OnEnded(cvgame::EndCode code) override { ended = code; }

  bool Saw(const std::string& event) const {
    for (const auto& e : log)
      if (e == event) return true;
    return false;
  }

  std::vector<std::string> log;
  std::optional<cvgame::EndCode> ended;
};

}  // namespace testsupport
