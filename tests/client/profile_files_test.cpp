// The installation directory from WIN.INI, the client's INI reads and the
// translation of the paths it builds.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "core/profile_files.hpp"
#include "platform/temp_files.hpp"

using lobby::NativePath;
using lobby::ReadIniString;
using lobby::ReadInstallDir;
using lobby::ReadSmallFile;
using test_support::ScopedEnv;
using test_support::TempDir;
using test_support::WriteFile;

namespace {

class InstallDir : public ::testing::Test {
 protected:
  TempDir dir_;
  ScopedEnv winIni_{"LOBBY_WIN_INI", dir_ / "WIN.INI"};
  ScopedEnv drives_{"LOBBY_DRIVES", dir_ / "drives"};
};

TEST_F(InstallDir, MissingKeyMeansTheRootOfDriveC) {
  EXPECT_EQ(ReadInstallDir(), "C:\\");
  WriteFile(dir_ / "drives/c/Bitmaps/CV_FIRST.BMP", "x");
  EXPECT_EQ(NativePath(ReadInstallDir() + "Bitmaps\\Cv_first.bmp"), dir_ / "drives/c/Bitmaps/CV_FIRST.BMP");
}

TEST_F(InstallDir, AnAbsolutePathGetsItsBackslashAndResolves) {
  const std::string install = dir_ / "Install";
  WriteFile(dir_ / "WIN.INI", "[QORGames]\nCorvanePath=" + install + "\n");
  WriteFile(install + "/bitmaps/cv_first.bmp", "x");
  EXPECT_EQ(ReadInstallDir(), install + "\\");
  EXPECT_EQ(NativePath(ReadInstallDir() + "Bitmaps\\Cv_first.bmp"), install + "/bitmaps/cv_first.bmp");
}

TEST_F(InstallDir, AWindowsStylePathLivesOnItsDrive) {
  WriteFile(dir_ / "WIN.INI", "[qorgames]\ncorvanepath = C:\\Corvane\n");
  EXPECT_EQ(ReadInstallDir(), "C:\\Corvane\\");
  EXPECT_EQ(NativePath(ReadInstallDir() + "SERVERS.INI"), dir_ / "drives/c/Corvane/SERVERS.INI");
}

TEST_F(InstallDir, OnlySeventyNineCharactersAreRead) {
  const std::string longPath = "C:\\" + std::string(100, 'd');
  WriteFile(dir_ / "WIN.INI", "[QORGames]\nCorvanePath=" + longPath + "\n");
  EXPECT_EQ(ReadInstallDir(), longPath.substr(0, 79) + "\\");
}

TEST(IniString, MissingMeansEmptyAndLongValuesAreCut) {
  TempDir dir;
  const std::string file = dir / "VOSSA.INI";
  EXPECT_EQ(ReadIniString("Vossa", "RealName", file), "");
  WriteFile(file, "[Vossa]\nRealName=" + std::string(90, 'n') + "\nCITY=  \n");
  EXPECT_EQ(ReadIniString("Vossa", "RealName", file), std::string(79, 'n'));
  EXPECT_EQ(ReadIniString("Vossa", "CITY", file), "");
  EXPECT_EQ(ReadIniString("Vossa", "AGE", file), "");
  EXPECT_EQ(ReadIniString("Other", "RealName", file), "");
}

TEST(IniString, AWriteReplacesOnlyItsLine) {
  TempDir dir;
  const std::string file = dir / "VOSSA.INI";
  WriteFile(file, "[Vossa]\nRealName=Ann\nCITY=Oslo\n");
  EXPECT_TRUE(lobby::WriteIniString("Vossa", "realname", "Bob", file));
  EXPECT_EQ(ReadIniString("Vossa", "RealName", file), "Bob");
  EXPECT_EQ(ReadIniString("Vossa", "CITY", file), "Oslo");
}

TEST(SmallFile, WholeUpToTheBoundAndNothingPastItOrForOtherKinds) {
  TempDir dir;
  const std::string file = dir / "SERVERS.INI";
  WriteFile(file, "a\r\nb\n");
  EXPECT_EQ(ReadSmallFile(file), "a\r\nb\n");
  WriteFile(file, std::string(lobby::kMaxIniFileBytes, 'x'));
  EXPECT_EQ(ReadSmallFile(file)->size(), lobby::kMaxIniFileBytes);
  WriteFile(file, std::string(lobby::kMaxIniFileBytes + 1, 'x'));
  EXPECT_FALSE(ReadSmallFile(file));
  EXPECT_FALSE(ReadSmallFile(dir / "missing.ini"));
  // A pipe would hold the reader until somebody writes to it.
  const std::string pipe = dir / "pipe.ini";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_FALSE(ReadSmallFile(pipe));
}

}  // namespace
