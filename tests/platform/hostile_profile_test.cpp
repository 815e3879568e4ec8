// Profile files as a user (or a broken disk) may leave them: binary bytes,
// lines of 100 000 characters, files far larger than any profile. Reading
// never crashes and keeps the 79-character cut of an 80-byte buffer; a write
// changes exactly its line or, where that cannot be done safely, nothing.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/platform.h"
#include "temp_files.hpp"

using test_support::ReadFile;
using test_support::ScopedEnv;
using test_support::TempDir;
using test_support::WriteFile;

namespace {

std::string Read80(const std::string &file, const char *section, const char *key) {
  char buf[80];
  std::fill(std::begin(buf), std::end(buf), '#');
  plat_get_private_profile_string(section, key, " ", buf, sizeof buf, file.c_str());
  return buf;
}

// Random bytes of every value, NUL, CR and '[' included, in lines of all
// lengths up to 100 000 characters.
std::string BinaryNoise(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string out;
  while (out.size() < size) {
    const std::size_t line = rng() % 3 == 0 ? 100000 : rng() % 200;
    for (std::size_t i = 0; i < line && out.size() < size; ++i) out.push_back(static_cast<char>(rng()));
    out.push_back('\n');
  }
  return out;
}

}  // namespace

TEST(HostileProfile, BinaryFileWithHugeLinesReadsCutAndWritesOnlyItsLine) {
  TempDir dir;
  const std::string noise = BinaryNoise(300000, 1);
  const std::string longValue(100000, 'v');
  const std::string before = noise + "[QORServers]\nVersion=" + longValue + "\nCurrentServer=old\n";
  // A second copy of the section only ever counts as text.
  const std::string after = "\n[QORServers]\nCurrentServer=" + longValue + "\n" + noise;
  WriteFile(dir / "SERVERS.INI", before + after);
  ASSERT_LT(before.size() + after.size(), std::size_t{1} << 20) << "still a profile by size";

  EXPECT_EQ(Read80(dir / "SERVERS.INI", "QORServers", "Version"), std::string(79, 'v'));
  EXPECT_EQ(Read80(dir / "SERVERS.INI", "QORServers", "CurrentServer"), "old");
  ASSERT_EQ(plat_write_private_profile_string("QORServers", "CurrentServer", "lobby.example",
                                              (dir / "SERVERS.INI").c_str()),
            1);
  EXPECT_EQ(ReadFile(dir / "SERVERS.INI"),
            noise + "[QORServers]\nVersion=" + longValue + "\nCurrentServer=lobby.example\n" + after)
      << "every other byte is kept";
}

TEST(HostileProfile, AValueOfAHundredThousandCharactersInWinIniReadsAsItsFirst79) {
  TempDir dir;
  WriteFile(dir / "WIN.INI", "[QORGames]\r\nCorvanePath=" + std::string(100000, 'p') + "\r\n");
  ScopedEnv env("LOBBY_WIN_INI", dir / "WIN.INI");
  char buf[80];
  EXPECT_EQ(plat_get_profile_string("QORGames", "CorvanePath", "C:", buf, sizeof buf), 79u);
  EXPECT_EQ(std::string(buf), std::string(79, 'p'));
}

TEST(HostileProfile, AFileFarLargerThanAnyProfileReadsAsMissingAndIsNeverRewritten) {
  TempDir dir;
  const std::string huge = "[Vossa]\nRealName=Ann\n" + BinaryNoise(3 << 20, 2);
  WriteFile(dir / "VOSSA.INI", huge);
  EXPECT_EQ(Read80(dir / "VOSSA.INI", "Vossa", "RealName"), "");
  EXPECT_EQ(plat_write_private_profile_string("Vossa", "RealName", "Bo", (dir / "VOSSA.INI").c_str()), 0);
  EXPECT_EQ(ReadFile(dir / "VOSSA.INI"), huge) << "nothing of it is lost";
}

TEST(HostileProfile, SomethingThatIsNotAFileIsNoProfile) {
  TempDir dir;
  std::filesystem::create_directory(dir / "SERVERS.INI");
  EXPECT_EQ(Read80(dir / "SERVERS.INI", "QORServers", "CurrentServer"), "");
  EXPECT_EQ(plat_write_private_profile_string("QORServers", "CurrentServer", "x", (dir / "SERVERS.INI").c_str()),
            0);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "SERVERS.INI"));
}
