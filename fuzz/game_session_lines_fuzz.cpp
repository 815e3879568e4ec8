// libFuzzer harness: a match as the partner's engine sees it. A game session
// listens on a loopback port of its own; the harness connects as the
// partner and plays the input, which is cut into lines at '\n':
//  - a line starting with '>' is this player's action, taken between the
//    partner's lines: ">1" to ">7" plays that column, ">A" asks for another
//    game, ">D" declines one, ">X" leaves;
//  - any other line is sent to the session as it stands, with its '\n'
//    (the last one without, when the input does not end with one).
// Each line sent is taken by the session before the next step. Then the
// partner hangs up. Nothing may crash, the session must end (once, with no
// report after its end), and the board must stay one the two players could
// have made in turn.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_input.hpp"
#include "game_session.hpp"
#include "platform/platform.h"

namespace {

using namespace cvgame;

class Checker : public GameSessionObserver {
 public:
  void Watch(const GameSession* session) { session_ = session; }
  void OnConnected() override { Alive(); }
  void OnGameStarted() override {
    Alive();
    if (session_->match().board().moves() != 0) __builtin_trap();
  }
  void OnMove(Side, Cell) override {
    Alive();
    const Board& board = session_->match().board();
    int mine = 0, theirs = 0;
    for (int c = 0; c < kColumns; ++c)
      for (int r = 0; r < kRows; ++r) {
        mine += board.At(c, r) == DiscOf(Side::kLocal);
        theirs += board.At(c, r) == DiscOf(Side::kRemote);
      }
    if (mine - theirs > 1 || theirs - mine > 1 || mine + theirs != board.moves()) __builtin_trap();
  }
  void OnGameOver() override {
    Alive();
    const Match& m = session_->match();
    if (!m.lastResult() || m.localWins() + m.remoteWins() + m.draws() != m.gameNumber()) __builtin_trap();
  }
  void OnPartnerAskedAgain() override { Alive(); }
  void OnEnded(EndCode) override {
    Alive();
    ended = true;
  }
  bool ended = false;

 private:
  void Alive() const {
    if (ended) __builtin_trap();
  }
  const GameSession* session_ = nullptr;
};

// Runs everything the loop has ready, so that bytes just written on the
// loopback have been read and handled.
void Settle() {
  for (int i = 0; i < 64 && plat_pump(0) > 0; ++i) {
  }
}

void Act(GameSession& session, const std::string& action) {
  if (action.size() < 2) return;
  const char what = action[1];
  if (what >= '1' && what <= '7')
    session.Play(what - '1');
  else if (what == 'A')
    session.PlayAgain();
  else if (what == 'D')
    session.Decline();
  else if (what == 'X')
    session.Exit();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input = fuzzinput::Bytes(data, size);
  SessionOptions options;
  options.port = 0;
  // No bound may end the match while the harness plays it; the partner's
  // hanging up ends it.
  options.listenBound = std::chrono::milliseconds(60000);
  options.idleTimeout = std::chrono::milliseconds(60000);
  options.keepAlive = std::chrono::milliseconds(60000);
  Checker checker;
  GameSession session(options, checker);
  checker.Watch(&session);
  if (!session.Start("l")) return 0;  // no loopback port to be had

  const int partner = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(session.listenPort());
  if (partner < 0 || connect(partner, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    // Out of descriptors or ports: says nothing about the input.
    if (partner >= 0) close(partner);
    session.Exit();
    return 0;
  }
  for (int i = 0; i < 200 && session.state() == GameSession::State::kWaiting; ++i) plat_pump(5);

  const bool endsWithNewline = !input.empty() && input.back() == '\n';
  const auto lines = fuzzinput::Lines(input);
  for (std::size_t i = 0; i < lines.size() && !checker.ended; ++i) {
    if (!lines[i].empty() && lines[i][0] == '>') {
      Act(session, lines[i]);
    } else {
      const bool last = i + 1 == lines.size();
      const std::string bytes = lines[i] + (last && !endsWithNewline ? "" : "\n");
      if (send(partner, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0) break;
    }
    Settle();
  }
  shutdown(partner, SHUT_WR);
  for (int i = 0; i < 1000 && !checker.ended; ++i) plat_pump(5);
  if (!checker.ended || session.state() != GameSession::State::kEnded) __builtin_trap();
  close(partner);
  Settle();
  return 0;
}
