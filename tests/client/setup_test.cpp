// lobby-setup: the per-user installation directory and its WIN.INI entry.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/temp_files.hpp"

using test_support::ReadFile;
using test_support::TempDir;
using test_support::WriteFile;

namespace {

class Setup : public ::testing::Test {
 protected:
  int Run(const std::string& arguments) {
    const std::string command = "LOBBY_WIN_INI='" + (dir_ / "WIN.INI") + "' LOBBY_DRIVES='" + (dir_ / "drives") +
                                "' '" LOBBY_SETUP_PATH "' " + arguments + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  TempDir dir_;
};

TEST_F(Setup, TheDefaultIsAFolderOfDriveCRecordedWindowsStyle) {
  ASSERT_EQ(Run(""), 0);
  EXPECT_EQ(ReadFile(dir_ / "WIN.INI"), "[QORGames]\nCorvanePath=C:\\Corvane\n");
  for (const char* file : {"Bitmaps/Cv_first.bmp", "Bitmaps/Cv_sec.bmp", "Zudeduzu.wav", "BUSY.WAV", "DIAL.WAV",
                           "TONE.WAV", "REMOTE.WAV", "Corva.hlp", "SERVERS.INI", "DATA"})
    EXPECT_TRUE(std::filesystem::exists(dir_ / ("drives/c/Corvane/" + std::string(file)))) << file;
  EXPECT_NE(ReadFile(dir_ / "drives/c/Corvane/SERVERS.INI").find("CurrentServer=127.0.0.1"), std::string::npos);
}

TEST_F(Setup, APlayersFilesSurviveASecondRunEvenWhenForced) {
  const std::string install = dir_ / "Install";
  ASSERT_EQ(Run("--dir '" + install + "'"), 0);
  EXPECT_EQ(ReadFile(dir_ / "WIN.INI"), "[QORGames]\nCorvanePath=" + install + "\n");
  WriteFile(install + "/SERVERS.INI", "[QORServers]\nCurrentServer=10.1.1.1\n");
  WriteFile(install + "/VOSSA.INI", "[Vossa]\nRealName=Ann\n");
  WriteFile(install + "/TONE.WAV", "damaged");
  ASSERT_EQ(Run("--dir '" + install + "'"), 0);
  EXPECT_EQ(ReadFile(install + "/TONE.WAV"), "damaged") << "kept without --force";
  ASSERT_EQ(Run("--force --dir '" + install + "'"), 0);
  EXPECT_NE(ReadFile(install + "/TONE.WAV"), "damaged");
  EXPECT_EQ(ReadFile(install + "/SERVERS.INI"), "[QORServers]\nCurrentServer=10.1.1.1\n");
  EXPECT_EQ(ReadFile(install + "/VOSSA.INI"), "[Vossa]\nRealName=Ann\n");
}

TEST_F(Setup, DirectoriesTheClientCouldNotUseAreRefused) {
  EXPECT_EQ(Run("--dir relative/place"), 1);
  EXPECT_EQ(Run("--dir 'C:\\" + std::string(80, 'x') + "'"), 1) << "longer than the client reads";
  EXPECT_FALSE(std::filesystem::exists(dir_ / "WIN.INI"));
}

}  // namespace
