// Profile files: reading and writing keys of real INI files in a temporary
// folder, the per-user WIN.INI, and the line model underneath.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ini_document.hpp"
#include "platform/platform.h"
#include "temp_files.hpp"

using platform::detail::IniDocument;
using test_support::ReadFile;
using test_support::ScopedEnv;
using test_support::TempDir;
using test_support::WriteFile;

namespace {

std::string Read(const std::string &file, const char *section, const char *key,
                 const char *def = "", unsigned size = 80) {
  std::string buf(size, '#');
  unsigned n = plat_get_private_profile_string(section, key, def, buf.data(),
                                               size, file.c_str());
  EXPECT_EQ(n, std::string(buf.c_str()).size()) << "return value is the length";
  return buf.c_str();
}

const char kServers[] =
    "; list of servers\n"
    "[QORServers]\n"
    "CurrentServer=10.0.0.1\n"
    "Version=3\n"
    "\n"
    "# second section\n"
    "[Other]\n"
    "Name=x\n";

}  // namespace

// ---- reading ------------------------------------------------------------

TEST(ProfileRead, SectionAndKeyMatchWithoutRegardToCase) {
  TempDir dir;
  WriteFile(dir / "SERVERS.INI", kServers);
  EXPECT_EQ(Read(dir / "SERVERS.INI", "qorservers", "CURRENTSERVER"),
            "10.0.0.1");
  EXPECT_EQ(Read(dir / "SERVERS.INI", "OTHER", "name"), "x");
}

TEST(ProfileRead, ValueIsCutToBufferSizeLessOne) {
  TempDir dir;
  const std::string longValue(100, 'v');
  WriteFile(dir / "VOSSA.INI", "[Vossa]\nRealName=" + longValue + "\n");
  std::string got = Read(dir / "VOSSA.INI", "Vossa", "RealName", "", 80);
  EXPECT_EQ(got, std::string(79, 'v'));
  EXPECT_EQ(Read(dir / "VOSSA.INI", "Vossa", "RealName", "", 1), "");
}

TEST(ProfileRead, MissingFileSectionOrKeyGivesTheDefault) {
  TempDir dir;
  WriteFile(dir / "SERVERS.INI", kServers);
  EXPECT_EQ(Read(dir / "NONE.INI", "QORServers", "CurrentServer", "d"), "d");
  EXPECT_EQ(Read(dir / "SERVERS.INI", "Nowhere", "CurrentServer", "d"), "d");
  EXPECT_EQ(Read(dir / "SERVERS.INI", "QORServers", "Nothing", "d"), "d");
  EXPECT_EQ(Read(dir / "SERVERS.INI", "QORServers", "Nothing", nullptr), "");
  // A key of another section is not found in this one.
  EXPECT_EQ(Read(dir / "SERVERS.INI", "QORServers", "Name", "d"), "d");
}

TEST(ProfileRead, BlanksAroundValueAndDefaultAreStripped) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[s]\n  key \t=  \t spaced value \t \n");
  EXPECT_EQ(Read(dir / "a.ini", "s", "key"), "spaced value");
  // The client reads with a default of one blank and expects "" back.
  EXPECT_EQ(Read(dir / "a.ini", "s", "none", " "), "");
  EXPECT_EQ(Read(dir / "a.ini", "s", "none", " \tC: "), "C:");
}

TEST(ProfileRead, NoBufferWritesNothingAndReturnsZero) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[s]\nk=v\n");
  char buf[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(plat_get_private_profile_string("s", "k", "", buf, 0,
                                            (dir / "a.ini").c_str()),
            0u);
  EXPECT_EQ(buf[0], 'x');
  EXPECT_EQ(plat_get_private_profile_string("s", "k", "", nullptr, 10,
                                            (dir / "a.ini").c_str()),
            0u);
}

TEST(ProfileRead, CommentsAndKeysBeforeAnySectionAreIgnored) {
  TempDir dir;
  WriteFile(dir / "a.ini",
            "k=outside\n"
            "[s]\n"
            ";k=commented\n"
            "  # k=also commented\n"
            "not a key line\n"
            "k=inside\n");
  EXPECT_EQ(Read(dir / "a.ini", "s", "k"), "inside");
  EXPECT_EQ(Read(dir / "a.ini", "", "k", "d"), "d");
}

TEST(ProfileRead, HeaderMayHaveBlanksAroundIt) {
  TempDir dir;
  WriteFile(dir / "a.ini", "  [ Vossa ]  \nAGE=33\n");
  EXPECT_EQ(Read(dir / "a.ini", "Vossa", "AGE"), "33");
}

TEST(ProfileRead, CrlfFileReadsWithoutCarriageReturns) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[QORServers]\r\nCurrentServer=host\r\nVersion=2\r\n");
  EXPECT_EQ(Read(dir / "a.ini", "QORServers", "CurrentServer"), "host");
  EXPECT_EQ(Read(dir / "a.ini", "QORServers", "Version"), "2");
}

TEST(ProfileRead, FirstMatchingSectionAndKeyWin) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[s]\nk=first\nK=second\n[S]\nk=third\nonly=later\n");
  EXPECT_EQ(Read(dir / "a.ini", "s", "k"), "first");
  EXPECT_EQ(Read(dir / "a.ini", "s", "only", "d"), "d");
}

TEST(ProfileRead, WindowsStylePathIsTranslated) {
  TempDir dir;
  ScopedEnv drives("LOBBY_DRIVES", dir.path());
  WriteFile(dir / "c/x/vossa.ini", "[Vossa]\nCITY=Graz\n");
  EXPECT_EQ(Read("C:\\x\\VOSSA.INI", "Vossa", "CITY"), "Graz");
}

// ---- writing ------------------------------------------------------------

TEST(ProfileWrite, ReplacingAKeyChangesExactlyItsLine) {
  TempDir dir;
  WriteFile(dir / "SERVERS.INI", kServers);
  ASSERT_TRUE(plat_write_private_profile_string(
      "qorservers", "currentserver", "192.168.1.9",
      (dir / "SERVERS.INI").c_str()));
  std::string expected = kServers;
  expected.replace(expected.find("10.0.0.1"), 8, "192.168.1.9");
  EXPECT_EQ(ReadFile(dir / "SERVERS.INI"), expected);
}

TEST(ProfileWrite, CreatesTheFileWithItsSection) {
  TempDir dir;
  ASSERT_TRUE(plat_write_private_profile_string("QORServers", "CurrentServer",
                                                "h", (dir / "S.INI").c_str()));
  EXPECT_EQ(ReadFile(dir / "S.INI"), "[QORServers]\nCurrentServer=h\n");
}

TEST(ProfileWrite, NewSectionIsAppendedAfterABlankLine) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[s]\nk=v\n");
  ASSERT_TRUE(
      plat_write_private_profile_string("t", "n", "1", (dir / "a.ini").c_str()));
  EXPECT_EQ(ReadFile(dir / "a.ini"), "[s]\nk=v\n\n[t]\nn=1\n");
}

TEST(ProfileWrite, NewKeyFollowsTheLastLineOfItsSection) {
  TempDir dir;
  WriteFile(dir / "SERVERS.INI", kServers);
  ASSERT_TRUE(plat_write_private_profile_string("QORServers", "Server1", "a",
                                                (dir / "SERVERS.INI").c_str()));
  std::string expected = kServers;
  expected.insert(expected.find("\n\n# second") + 1, "Server1=a\n");
  EXPECT_EQ(ReadFile(dir / "SERVERS.INI"), expected);
}

TEST(ProfileWrite, KeyAddedToAFileWithoutFinalLineBreakGetsItsOwnLine) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[s]\nk=v");
  ASSERT_TRUE(
      plat_write_private_profile_string("s", "n", "1", (dir / "a.ini").c_str()));
  EXPECT_EQ(ReadFile(dir / "a.ini"), "[s]\nk=v\nn=1\n");
}

TEST(ProfileWrite, CrlfLineEndingsAreKept) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[s]\r\nk=v\r\n");
  ASSERT_TRUE(
      plat_write_private_profile_string("s", "k", "w", (dir / "a.ini").c_str()));
  ASSERT_TRUE(
      plat_write_private_profile_string("s", "n", "1", (dir / "a.ini").c_str()));
  ASSERT_TRUE(
      plat_write_private_profile_string("t", "m", "2", (dir / "a.ini").c_str()));
  EXPECT_EQ(ReadFile(dir / "a.ini"), "[s]\r\nk=w\r\nn=1\r\n\r\n[t]\r\nm=2\r\n");
}

TEST(ProfileWrite, NullValueDeletesTheKeyAndNullKeyTheSection) {
  TempDir dir;
  WriteFile(dir / "SERVERS.INI", kServers);
  const std::string file = dir / "SERVERS.INI";
  ASSERT_TRUE(plat_write_private_profile_string("QORServers", "version",
                                                nullptr, file.c_str()));
  std::string expected = kServers;
  expected.erase(expected.find("Version=3\n"), 10);
  EXPECT_EQ(ReadFile(file), expected);

  ASSERT_TRUE(
      plat_write_private_profile_string("other", nullptr, nullptr, file.c_str()));
  EXPECT_EQ(ReadFile(file),
            "; list of servers\n[QORServers]\nCurrentServer=10.0.0.1\n\n"
            "# second section\n");
}

TEST(ProfileWrite, DeletingFromAMissingFileCreatesNothing) {
  TempDir dir;
  EXPECT_TRUE(plat_write_private_profile_string("s", "k", nullptr,
                                                (dir / "a.ini").c_str()));
  EXPECT_FALSE(std::filesystem::exists(dir / "a.ini"));
}

TEST(ProfileWrite, MissingFolderFailsAndLeavesNothingBehind) {
  TempDir dir;
  EXPECT_FALSE(plat_write_private_profile_string(
      "s", "k", "v", (dir / "no/such/a.ini").c_str()));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(ProfileWrite, LeavesOnlyTheFileInItsFolder) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[s]\nk=v\n");
  ASSERT_TRUE(
      plat_write_private_profile_string("s", "k", "w", (dir / "a.ini").c_str()));
  int entries = 0;
  for (const auto &e : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_EQ(e.path().filename(), "a.ini");
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST(ProfileWrite, WrittenValueReadsBack) {
  TempDir dir;
  const std::string file = dir / "VOSSA.INI";
  for (const char *key : {"RealName", "Description", "CITY", "COUNTRY"})
    ASSERT_TRUE(plat_write_private_profile_string("Vossa", key, "-",
                                                  file.c_str()));
  ASSERT_TRUE(plat_write_private_profile_string("Vossa", "city", " Linz ",
                                                file.c_str()));
  EXPECT_EQ(Read(file, "VOSSA", "CITY"), "Linz");
  EXPECT_EQ(ReadFile(file),
            "[Vossa]\nRealName=-\nDescription=-\nCITY= Linz \nCOUNTRY=-\n");
}

TEST(ProfileWrite, KeyThatCouldNotBeReadBackIsRefused) {
  TempDir dir;
  const std::string file = dir / "a.ini";
  EXPECT_FALSE(plat_write_private_profile_string("s", "a=b", "v", file.c_str()));
  EXPECT_FALSE(plat_write_private_profile_string("s", "  ", "v", file.c_str()));
  EXPECT_FALSE(plat_write_private_profile_string("s]", "k", "v", file.c_str()));
  EXPECT_FALSE(std::filesystem::exists(file));
}

// ---- WIN.INI ------------------------------------------------------------

TEST(WinIni, PathComesFromTheEnvironment) {
  char buf[512];
  {
    ScopedEnv ini("LOBBY_WIN_INI", "/some/where/WIN.INI");
    EXPECT_EQ(plat_win_ini_path(buf, sizeof buf), 19u);
    EXPECT_STREQ(buf, "/some/where/WIN.INI");
    EXPECT_EQ(plat_win_ini_path(buf, 19), 0u) << "no room for the NUL";
    EXPECT_STREQ(buf, "");
  }
  ScopedEnv noIni("LOBBY_WIN_INI", nullptr);
  {
    ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
    plat_win_ini_path(buf, sizeof buf);
    EXPECT_STREQ(buf, "/cfg/lobby/WIN.INI");
  }
  ScopedEnv noConfig("XDG_CONFIG_HOME", "");  // empty counts as unset
  ScopedEnv home("HOME", "/home/player");
  plat_win_ini_path(buf, sizeof buf);
  EXPECT_STREQ(buf, "/home/player/.config/lobby/WIN.INI");
}

TEST(WinIni, WriteCreatesTheFolderAndReadsBack) {
  TempDir dir;
  ScopedEnv noIni("LOBBY_WIN_INI", nullptr);
  ScopedEnv config("XDG_CONFIG_HOME", dir / "config");
  char buf[80];
  EXPECT_EQ(plat_get_profile_string("QORGames", "CorvanePath", "C:", buf,
                                    sizeof buf),
            2u);
  EXPECT_STREQ(buf, "C:");
  ASSERT_TRUE(plat_write_profile_string("QORGames", "CorvanePath", "C:\\QOR"));
  EXPECT_EQ(ReadFile(dir / "config/lobby/WIN.INI"),
            "[QORGames]\nCorvanePath=C:\\QOR\n");
  EXPECT_EQ(plat_get_profile_string("qorgames", "corvanepath", "C:", buf,
                                    sizeof buf),
            6u);
  EXPECT_STREQ(buf, "C:\\QOR");
}

// ---- the line model -------------------------------------------------------

TEST(IniDocument, SerializeGivesBackEveryByteParsed) {
  for (const char *text :
       {"", "\n", "[s]\nk=v", "[s]\r\nk=v\n\r\n", "  junk\n[unclosed\n=\n",
        "\r\r\n;c\n[a]b]\nk = v ; not a comment\n", "no newline at all"}) {
    EXPECT_EQ(IniDocument::Parse(text).Serialize(), text);
  }
}

TEST(IniDocument, ValueWithALineBreakCannotAddLines) {
  IniDocument doc = IniDocument::Parse("[s]\nk=v\n");
  ASSERT_TRUE(doc.Set("s", "k", "new\r\n[evil]\nx=1"));
  EXPECT_EQ(doc.Serialize(), "[s]\nk=new\n");
}

TEST(IniDocument, KeyLayoutBeforeTheEqualsSignIsKept) {
  IniDocument doc = IniDocument::Parse("[s]\n  Key  = old\n");
  ASSERT_TRUE(doc.Set("S", "key", "new"));
  EXPECT_EQ(doc.Serialize(), "[s]\n  Key  =new\n");
  EXPECT_EQ(doc.Find("s", " KEY "), "new");
}

TEST(IniDocument, AKeyAddedAfterAnUnterminatedLineEndingInCarriageReturnKeepsThatByte) {
  // Found by the fuzzer: the added ending made "\r" + "\n" one CRLF, and
  // the value above lost its last byte.
  IniDocument doc = IniDocument::Parse("[s]\nversion = 1 7 ]\r");
  ASSERT_TRUE(doc.Set("s", "CurrentServer", "x"));
  const IniDocument reread = IniDocument::Parse(doc.Serialize());
  EXPECT_EQ(reread.Find("s", "version"), std::optional<std::string_view>("1 7 ]\r"));
  EXPECT_EQ(reread.Find("s", "CurrentServer"), std::optional<std::string_view>("x"));
}

TEST(IniDocument, HeaderWithoutClosingBracketStartsNoSection) {
  IniDocument doc = IniDocument::Parse("[s]\n[t\nk=v\n");
  EXPECT_EQ(doc.Find("s", "k"), "v");
  EXPECT_EQ(doc.Find("t", "k"), std::nullopt);
}
