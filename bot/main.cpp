// lobbybot - the console player: command line, signals, a scratch folder for
// the agent's server list, and the loop that drives the bot (lobby_bot.hpp).
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "bot_options.hpp"
#include "lobby_bot.hpp"
#include "platform/platform.h"
#include "platform/stop_signals.hpp"
#include "platform/stream_channel.hpp"

namespace {

void SayLine(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// A folder of its own for the server list the agent may rewrite, removed on
// the way out.
class ScratchDir {
 public:
  ScratchDir() {
    std::string base = std::filesystem::temp_directory_path().string() + "/lobbybot-XXXXXX";
    if (mkdtemp(base.data()) != nullptr) path_ = base;
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

int main(int argc, char** argv) {
  lobbybot::BotOptions options;
  std::string error;
  if (const int status = platform::FinishCommandLine(
          "lobbybot", lobbybot::ParseCommandLine(argc, argv, &options, &error), lobbybot::kHelpText, error);
      status >= 0) {
    return status;
  }
  if (options.seed == 0) options.seed = static_cast<std::uint32_t>(std::time(nullptr) ^ getpid());

  ScratchDir scratch;
  if (options.serversIni.empty()) {
    if (scratch.path().empty()) {
      std::fprintf(stderr, "lobbybot: cannot make a scratch folder: %s\n", std::strerror(errno));
      return 1;
    }
    options.serversIni = scratch.path() + "/SERVERS.INI";
  }

  std::signal(SIGPIPE, SIG_IGN);
  platform::StopSignals stopSignals;
  if (!stopSignals.ok()) {
    std::fprintf(stderr, "lobbybot: %s\n", stopSignals.error().c_str());
    return 1;
  }

  int status = 0;
  {
    lobbybot::LobbyBot bot(options, &SayLine);
    if (!bot.Start(&error)) {
      std::fprintf(stderr, "lobbybot: %s\n", error.c_str());
      status = 1;
    } else {
      while (!plat_quit_requested()) plat_pump(-1);
      bot.Stop();
    }
  }
  // A last QUIT to a partner is still on its way; give it a moment.
  plat_reset_quit();
  for (int i = 0; i < 200 && platform::StreamChannel::LingeringCloses() > 0; ++i) plat_pump(10);
  return status;
}
