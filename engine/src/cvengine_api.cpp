// The two C functions of the engine library. Everything runs on the host's
// loop thread (the lobby client's GUI thread), so the state below needs no
// lock.
#include "cvengine/cvengine.h"

#include <QApplication>
#include <QPointer>
#include <cstring>

#include "end_message.hpp"
#include "engine_api.hpp"
#include "engine_game.hpp"
#include "platform/platform.h"

namespace cvengine {
namespace {

struct EngineState {
  QPointer<EngineGame> game;
  std::optional<cvgame::SessionOptions> testOptions;
  char message[CV_MSG_SIZE] = "";
  bool messageWaiting = false;
};

EngineState& State() {
  static EngineState* state = new EngineState();
  return *state;
}

static_assert(CV_MSG_SIZE == cvgame::kEndMessageSize);

// Keeps the closing message and tells the host. A message the host has not
// fetched yet is replaced: only the last game's end matters to it.
void Report(CV_HWND window, unsigned message, cvgame::EndCode code, std::uint32_t local,
            std::uint32_t remote) {
  EngineState& s = State();
  cvgame::FormatEndMessage(code, local, remote, s.message, sizeof s.message);
  s.messageWaiting = true;
  plat_post_message(window, message, 0, 0);
}

int RunGame(const char* partner, const char* soundFile, const char* title, CV_HWND window,
            unsigned message) {
  EngineState& s = State();
  // One game at a time; a second call leaves the running one alone and
  // reports nothing, so the host's wait for the first game's end stays true.
  if (s.game && s.game->running()) return 2;
  // Without an application object there can be no window.
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    Report(window, message, cvgame::EndCode::kNoConnection, 0, 0);
    return 1;
  }
  auto game = std::make_unique<EngineGame>(
      CurrentSessionOptions(), QString::fromLocal8Bit(title ? title : ""), soundFile,
      [window, message](cvgame::EndCode code, std::uint32_t local, std::uint32_t remote) {
        Report(window, message, code, local, remote);
      });
  if (!game->Start(partner ? partner : "")) {
    // The port is taken by another game on this host, or the address is no
    // address: said at once rather than after a wait.
    Report(window, message, cvgame::EndCode::kNoConnection, 0, 0);
    return 1;
  }
  s.game = game.release();  // deletes itself when the match is over
  return 0;
}

}  // namespace

cvgame::SessionOptions CurrentSessionOptions() {
  if (State().testOptions) return *State().testOptions;
  cvgame::SessionOptions options;
  options.port = cvgame::GamePortFromEnvironment();
  return options;
}

void SetSessionOptionsForTests(std::optional<cvgame::SessionOptions> options) {
  State().testOptions = options;
}

EngineGame* RunningGame() {
  EngineState& s = State();
  return s.game && s.game->running() ? s.game.data() : nullptr;
}

}  // namespace cvengine

extern "C" {

CV_API int CVRunGame(const char* partnerAddress, const char* dataDir, const char* soundFile,
                     const char* windowTitle, int reserved, CV_HWND notifyWindow,
                     unsigned int notifyMessage) {
  // The board is drawn in code and needs no data files; the directory and
  // the reserved number are accepted as the host passes them.
  (void)dataDir;
  (void)reserved;
  try {
    return cvengine::RunGame(partnerAddress, soundFile, windowTitle, notifyWindow, notifyMessage);
  } catch (...) {
    return -1;
  }
}

CV_API int CVGetMsg(char* buffer) {
  if (buffer == nullptr) return 1;
  cvengine::EngineState& s = cvengine::State();
  if (!s.messageWaiting) {
    buffer[0] = '\0';
    return 0;
  }
  std::memcpy(buffer, s.message, sizeof s.message);
  buffer[CV_MSG_SIZE - 1] = '\0';
  s.messageWaiting = false;
  return 0;
}

}  // extern "C"
