// Windows-style paths: drive folders and names resolved without regard to
// case against real files in a temporary folder.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "temp_files.hpp"

using test_support::ScopedEnv;
using test_support::TempDir;
using test_support::WriteFile;

namespace {

std::string Native(const std::string &path) {
  char buf[4096];
  unsigned n = plat_native_path(path.c_str(), buf, sizeof buf);
  EXPECT_EQ(n, std::string(buf).size());
  return buf;
}

}  // namespace

TEST(NativePath, DriveLetterMapsToItsFolderUnderLobbyDrives) {
  TempDir dir;
  ScopedEnv drives("LOBBY_DRIVES", dir.path());
  EXPECT_EQ(Native("C:\\"), dir / "c/");
  EXPECT_EQ(Native("c:"), dir / "c");
  EXPECT_EQ(Native("D:/games\\x.ini"), dir / "d/games/x.ini");
}

TEST(NativePath, DriveFolderFallsBackToDataHomeThenHome) {
  ScopedEnv drives("LOBBY_DRIVES", nullptr);
  {
    ScopedEnv data("XDG_DATA_HOME", "/data");
    EXPECT_EQ(Native("C:\\VOSSA.INI"), "/data/lobby/drive_c/VOSSA.INI");
  }
  ScopedEnv data("XDG_DATA_HOME", nullptr);
  ScopedEnv home("HOME", "/nohome");
  EXPECT_EQ(Native("E:\\f"), "/nohome/.local/share/lobby/drive_e/f");
}

TEST(NativePath, ExistingComponentsAreFoundWithoutRegardToCase) {
  TempDir dir;
  ScopedEnv drives("LOBBY_DRIVES", dir.path());
  WriteFile(dir / "c/bitmaps/CV_FIRST.BMP", "BM");
  EXPECT_EQ(Native("C:\\Bitmaps\\Cv_first.bmp"), dir / "c/bitmaps/CV_FIRST.BMP");
  EXPECT_EQ(Native(dir.path() + "/C/BITMAPS/cv_first.bmp"),
            dir / "c/bitmaps/CV_FIRST.BMP");
}

TEST(NativePath, MissingComponentsKeepTheCallersSpelling) {
  TempDir dir;
  ScopedEnv drives("LOBBY_DRIVES", dir.path());
  WriteFile(dir / "c/bitmaps/a.bmp", "");
  EXPECT_EQ(Native("C:\\BITMAPS\\New\\File.TXT"), dir / "c/bitmaps/New/File.TXT");
  EXPECT_EQ(Native("C:\\SERVERS.INI"), dir / "c/SERVERS.INI");
}

TEST(NativePath, SeveralMatchesPreferTheExactSpellingThenSortedOrder) {
  TempDir dir;
  WriteFile(dir / "abc", "");
  WriteFile(dir / "Abc", "");
  WriteFile(dir / "ABC", "");
  EXPECT_EQ(Native(dir / "Abc"), dir / "Abc");
  EXPECT_EQ(Native(dir / "aBC"), dir / "ABC");
}

TEST(NativePath, NativeAndRelativePathsStayAsTheyAre) {
  EXPECT_EQ(Native("/no//such///path/"), "/no/such/path/");
  EXPECT_EQ(Native("/"), "/");
  EXPECT_EQ(Native("no-such-dir\\\\f.ini"), "no-such-dir/f.ini");
  // Relative to a drive's current folder: not a drive path.
  EXPECT_EQ(Native("C:f.ini"), "C:f.ini");
}

TEST(NativePath, TooSmallBufferGivesZeroAndAnEmptyString) {
  char buf[8];
  EXPECT_EQ(plat_native_path("/abcdefg", buf, 8), 0u);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(plat_native_path("/abcdef", buf, 8), 7u);
  EXPECT_STREQ(buf, "/abcdef");
  EXPECT_EQ(plat_native_path("/a", nullptr, 8), 0u);
}
