// The real lobby program on an X display of its own, with and without a
// window manager, against a real lobby server: installed with lobby-setup,
// driven with clicks and keys at its windows' positions.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "support/x_display.hpp"

namespace fs = std::filesystem;
using xtest::Child;
using xtest::Eventually;
using xtest::Slurp;

namespace {

constexpr const char* kSplash = "QOR's Corvane Game";
constexpr const char* kMain = "QOR's Corvane Game - Entering the Vossa";
constexpr const char* kQuery = "Entering the Vossa...";
constexpr const char* kMessage = "QOR's Corvane Game - Message";
constexpr const char* kFatal = "QOR's Corvane Game v0.91b2";

class Program : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/lobby-program-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    fs::create_directories(dir_ + "/run");
    chmod((dir_ + "/run").c_str(), 0700);
    x_ = std::make_unique<xtest::XDisplay>(GetParam(), dir_);
    ASSERT_TRUE(x_->ok()) << "no X display (Xvfb" << (GetParam() ? ", openbox" : "") << ")";
    env_ = x_->env();
    env_["QT_QPA_PLATFORM"] = "xcb";
    env_["LOBBY_WIN_INI"] = dir_ + "/WIN.INI";
    env_["LOBBY_DRIVES"] = dir_ + "/drives";
    env_["XDG_RUNTIME_DIR"] = dir_ + "/run";
    env_["XDG_CONFIG_HOME"] = dir_ + "/config";
    env_["XDG_DATA_HOME"] = dir_ + "/data";
    // The documented per-user step, from the build tree.
    ASSERT_EQ(xtest::Run({LOBBY_SETUP_PATH}, env_, 10000, dir_ + "/setup.log"), 0) << Slurp(dir_ + "/setup.log");
    install_ = dir_ + "/drives/c/Corvane";
    ASSERT_TRUE(fs::exists(install_ + "/Bitmaps/Cv_first.bmp"));
  }

  void TearDown() override {
    if (HasFailure() && x_ && x_->ok()) {
      x_->Screenshot(dir_ + "/failure.png");
      std::printf("kept %s (screenshot failure.png, logs)\n", dir_.c_str());
    }
    second_.reset();
    lobby_.reset();
    server_.reset();
    x_.reset();
    if (!HasFailure()) fs::remove_all(dir_);
  }

  // A lobby server of the test's own on a loopback address, port 2424
  // unless another is given (CurrentServer then names it).
  void StartServer(int port = 2424) {
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 20; ++attempt) {
      const std::string address = "127.0.0." + std::to_string(2 + random() % 249);
      const std::string out = dir_ + "/vossad.out";
      fs::remove(out);
      auto server = std::make_unique<Child>(
          std::vector<std::string>{VOSSAD_PATH, "--bind", address, "--port", std::to_string(port)}, xtest::Env{},
          out, dir_ + "/vossad.log");
      if (Eventually([&] { return Slurp(out).find("listening on") != std::string::npos || !server->running(); },
                     10000) &&
          server->running()) {
        server_ = std::move(server);
        SetCurrentServer(port == 2424 ? address : address + ":" + std::to_string(port));
        return;
      }
    }
    FAIL() << "no loopback address with a free port " << port;
  }
  void SetCurrentServer(const std::string& server) {
    std::ofstream(install_ + "/SERVERS.INI") << "[QORServers]\nCurrentServer=" << server << "\n";
  }
  std::string ServerLog() { return Slurp(dir_ + "/vossad.log"); }

  std::unique_ptr<Child> StartLobby(const char* log) {
    return std::make_unique<Child>(std::vector<std::string>{LOBBY_PATH}, env_, dir_ + "/" + log,
                                   dir_ + "/" + log);
  }
  // The splash's OK, then the main window.
  Window PastTheSplash() {
    const Window splash = x_->WaitMapped(kSplash);
    EXPECT_NE(splash, 0u) << "the splash never showed";
    if (splash == 0) return 0;
    x_->Click(splash, 320, 420);
    const Window main = x_->WaitMapped(kMain);
    EXPECT_NE(main, 0u) << "the main window never showed";
    return main;
  }
  void TypeRealName(Window main, const std::string& name) {
    ASSERT_TRUE(x_->Click(main, 200, 98));  // tRealName
    ASSERT_TRUE(x_->Type(name));
  }
  void PressRegister(Window main) { ASSERT_TRUE(x_->Click(main, 330, 412)); }
  bool ServerSays(const std::string& text) {
    return Eventually([&] { return ServerLog().find(text) != std::string::npos; }, 10000);
  }
  // A server of its own, a lobby started and registered as "Tester": the
  // query dialog shows and the server has the registration.
  void StartAndRegister(int port = 2424) {
    StartServer(port);
    lobby_ = StartLobby("lobby.log");
    const Window main = PastTheSplash();
    ASSERT_NE(main, 0u);
    TypeRealName(main, "Tester");
    PressRegister(main);
    EXPECT_NE(x_->WaitMapped(kQuery), 0u) << "the query dialog never showed";
    EXPECT_TRUE(ServerSays("registered (APP=QORCORVA)")) << ServerLog();
  }

  std::string dir_, install_;
  std::unique_ptr<xtest::XDisplay> x_;
  xtest::Env env_;
  std::unique_ptr<Child> server_, lobby_, second_;
};

TEST_P(Program, RegistersThroughTheAgentAndReachesTheQueryDialog) {
  ASSERT_NO_FATAL_FAILURE(StartAndRegister());
  EXPECT_TRUE(x_->WaitUnmapped(kSplash)) << "the splash stayed";
  EXPECT_TRUE(x_->Mapped(kMain).empty());
  EXPECT_NE(Slurp(install_ + "/VOSSA.INI").find("RealName=Tester\n"), std::string::npos);
  EXPECT_TRUE(lobby_->running());
}

TEST_P(Program, TheMessageBoxStaysAboveAndHandsTheActivationBack) {
  StartServer();
  lobby_ = StartLobby("lobby.log");
  const Window main = PastTheSplash();
  ASSERT_NE(main, 0u);
  PressRegister(main);  // no name: refused with a message
  const Window box = x_->WaitMapped(kMessage);
  ASSERT_NE(box, 0u);
  EXPECT_GT(x_->StackIndex(box), x_->StackIndex(main)) << "the box is below the main window";
  // The main window reads the profile again when the box gives it back the
  // activation: the name written meanwhile is what registers.
  std::ofstream(install_ + "/VOSSA.INI") << "[Vossa]\nRealName=From the file\n";
  ASSERT_TRUE(x_->Click(box, 141, 140));  // bOkMess
  ASSERT_TRUE(x_->WaitUnmapped(kMessage));
  PressRegister(main);
  EXPECT_NE(x_->WaitMapped(kQuery), 0u) << "the main window was not activated again";
  EXPECT_TRUE(x_->Mapped(kMessage).empty());
}

TEST_P(Program, ACurrentServerWithAPortIsJoinedOnThatPort) {
  ASSERT_NO_FATAL_FAILURE(StartAndRegister(27100));
}

TEST_P(Program, RegisteringWithNoServerSaysSoAboveTheMainWindow) {
  SetCurrentServer("127.0.0.1:1");  // nothing listens there
  lobby_ = StartLobby("lobby.log");
  const Window main = PastTheSplash();
  ASSERT_NE(main, 0u);
  TypeRealName(main, "Tester");
  PressRegister(main);
  const Window box = x_->WaitMapped(kMessage);
  ASSERT_NE(box, 0u) << "no message";
  ASSERT_EQ(x_->WaitMapped(kMain), main) << "the main window did not come back";
  EXPECT_TRUE(Eventually([&] { return x_->StackIndex(box) > x_->StackIndex(main); }, 5000))
      << "the box is below the main window";
  EXPECT_EQ(x_->TransientFor(box), main);
}

TEST_P(Program, WithoutItsInstallationItSaysSoAndHowToMakeIt) {
  fs::remove(dir_ + "/WIN.INI");  // no installation directory recorded: C:\ has none of the files
  lobby_ = StartLobby("lobby.log");
  const Window box = x_->WaitMapped(kFatal);
  ASSERT_NE(box, 0u) << Slurp(dir_ + "/lobby.log");
  EXPECT_TRUE(x_->Mapped(kSplash).empty());
  EXPECT_NE(Slurp(dir_ + "/lobby.log").find("lobby: The game is not installed for you: " + dir_ +
                                            "/drives/c/ holds no Bitmaps/Cv_first.bmp.\nRun lobby-setup"),
            std::string::npos)
      << Slurp(dir_ + "/lobby.log");
  EXPECT_TRUE(x_->FocusAndKey(box, "Return"));
  const std::optional<int> code = lobby_->Wait(15000);
  ASSERT_TRUE(code.has_value()) << "still running";
  EXPECT_EQ(*code, 1);
}

TEST_P(Program, TheExitButtonEndsTheProgram) {
  lobby_ = StartLobby("lobby.log");
  const Window main = PastTheSplash();
  ASSERT_NE(main, 0u);
  ASSERT_TRUE(x_->Click(main, 580, 24));  // bExit
  const std::optional<int> code = lobby_->Wait(15000);
  ASSERT_TRUE(code.has_value()) << "still running";
  EXPECT_EQ(*code, 0);
}

TEST_P(Program, AStopSignalLeavesTheServerAndTheSessionAndEndsTheProgram) {
  // As the desktop session ends, or Ctrl+C in a terminal: the exit
  // sequence, not a process killed under its agent.
  ASSERT_NO_FATAL_FAILURE(StartAndRegister());
  ASSERT_FALSE(HasFailure());
  kill(lobby_->pid(), SIGTERM);
  const std::optional<int> code = lobby_->Wait(15000);
  ASSERT_TRUE(code.has_value()) << "still running";
  EXPECT_EQ(*code, 0);
  EXPECT_TRUE(ServerSays("removed: left")) << ServerLog();

  // On the splash, before any session.
  second_ = StartLobby("second.log");
  ASSERT_NE(x_->WaitMapped(kSplash), 0u);
  kill(second_->pid(), SIGINT);
  const std::optional<int> second = second_->Wait(15000);
  ASSERT_TRUE(second.has_value()) << "still running";
  EXPECT_EQ(*second, 0);
}

TEST_P(Program, ASecondCopyIsRefusedAndTheFirstKeepsItsTitle) {
  lobby_ = StartLobby("lobby.log");
  ASSERT_NE(x_->WaitMapped(kSplash), 0u);
  second_ = StartLobby("second.log");
  const Window fatal = x_->WaitMapped(kFatal);
  ASSERT_NE(fatal, 0u) << "no \"already running\" box";
  // The search met the second copy's own (hidden) splash first and renamed
  // it; the first copy's splash is what the second search found.
  EXPECT_EQ(x_->Existing("zzzzzzz2").size(), 1u);
  EXPECT_TRUE(x_->Mapped("zzzzzzz2").empty());
  EXPECT_TRUE(x_->FocusAndKey(fatal, "Return"));
  const std::optional<int> code = second_->Wait(15000);
  ASSERT_TRUE(code.has_value()) << "the second copy still runs";
  EXPECT_EQ(*code, 1);
  EXPECT_EQ(x_->Mapped(kSplash).size(), 1u);
  EXPECT_TRUE(lobby_->running());
}

TEST_P(Program, AHeldSemaphoreWithoutAWindowLetsTheCopyStart) {
  // Some process holds the semaphore but shows no window of that title.
  const std::string lock = dir_ + "/run/lobby-SemaphoreName2.lock";
  const int fd = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  lobby_ = StartLobby("lobby.log");
  // The search retitled the copy's own splash, found nothing else, went on.
  EXPECT_NE(x_->WaitMapped("zzzzzzz2"), 0u);
  EXPECT_TRUE(x_->Mapped(kSplash).empty());
  EXPECT_TRUE(lobby_->running());
  close(fd);
}

TEST(ProgramCommandLine, HelpAndVersionNeedNoDisplayAndAnythingElseIsRefused) {
  const std::string out = ::testing::TempDir() + "lobby-command-line.log";
  const xtest::Env noDisplay{{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt},
                             {"QT_QPA_PLATFORM", std::nullopt}};
  const struct {
    std::vector<std::string> args;
    int status;
    std::string says;
  } cases[] = {
      {{"--help"}, 0, "Usage: lobby [--help] [--version]\n"},
      {{"-h"}, 0, "Usage: lobby"},
      {{"--version"}, 0, "lobby 0."},
      {{"--play"}, 2, "lobby: unknown option --play (see lobby --help)\n"},
      {{"C:\\Corvane"}, 2, "lobby: takes no argument: C:\\Corvane"},
  };
  for (const auto& c : cases) {
    fs::remove(out);
    std::vector<std::string> argv{LOBBY_PATH};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(xtest::Run(argv, noDisplay, 10000, out), c.status) << c.args[0];
    EXPECT_EQ(Slurp(out).rfind(c.says, 0), 0u) << c.args[0] << ": " << Slurp(out);
  }
}

INSTANTIATE_TEST_SUITE_P(Display, Program, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "WithWindowManager" : "BareX";
                         });

}  // namespace
