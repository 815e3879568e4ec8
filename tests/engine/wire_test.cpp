// The game's line protocol on its own: every form it sends is read back, and
// everything else, however close, is refused; the splitter cuts a stream at
// any point into whole lines and refuses an overlong one.
#include <gtest/gtest.h>

#include <string>

#include "end_message.hpp"
#include "wire.hpp"

namespace {

using namespace cvgame;
using namespace cvgame::wire;

TEST(Wire, EveryMessageReadsBackAsItself) {
  std::vector<Message> all = {{Kind::kHello}, {Kind::kAgain}, {Kind::kDone}, {Kind::kQuit},
                              {Kind::kPing}};
  for (int c = 0; c < 7; ++c) all.push_back({Kind::kMove, c});
  for (const Message& m : all) {
    const std::string line = Encode(m);
    ASSERT_FALSE(line.empty());
    ASSERT_EQ(line.back(), '\n');
    EXPECT_LE(line.size() - 1, kMaxLine);
    EXPECT_EQ(Parse(std::string_view(line).substr(0, line.size() - 1)), m) << line;
  }
  EXPECT_EQ(Encode({Kind::kMove, 3}), "MOVE 4\n") << "columns are 1-7 on the wire";
  EXPECT_EQ(Encode({Kind::kHello}), "HELLO CV4 1\n");
  EXPECT_TRUE(Encode({Kind::kMove, 7}).empty());
  EXPECT_TRUE(Encode({Kind::kMove, -1}).empty());
}

TEST(Wire, AnythingButTheExactFormsIsRefused) {
  for (const char* bad : {"", "MOVE", "MOVE ", "MOVE 0", "MOVE 8", "MOVE 44", "MOVE  4", "move 4",
                          "MOVE 4 ", " MOVE 4", "MOVE\t4", "MOVE 4\r", "AGAIN ", "again", "DONE!",
                          "QUI", "QUITS", "PINGPING", "HELLO", "HELLO CV4 2", "HELLO CV4 1 ",
                          "HELLO cv4 1", "JOIN ID=1.2.3.4:2001;", "\x01\x02\x03"}) {
    EXPECT_FALSE(Parse(bad)) << '"' << bad << '"';
  }
  EXPECT_FALSE(Parse(std::string_view("PING\0", 5)));
}

TEST(LineSplitter, ReassemblesLinesFedOneByteAtATime) {
  LineSplitter s;
  const std::string stream = "HELLO CV4 1\nMOVE 3\n\nPING\nMO";
  std::vector<std::string> lines;
  std::string line;
  for (char c : stream) {
    s.Feed(std::string_view(&c, 1));
    while (s.Next(&line) == LineSplitter::Status::kLine) lines.push_back(line);
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"HELLO CV4 1", "MOVE 3", "", "PING"}));
  EXPECT_EQ(s.pending(), 2u) << "the unfinished line waits";
  s.Feed("VE 5\n");
  ASSERT_EQ(s.Next(&line), LineSplitter::Status::kLine);
  EXPECT_EQ(line, "MOVE 5");
  EXPECT_EQ(s.Next(&line), LineSplitter::Status::kNeedMore);
}

TEST(LineSplitter, ALineLongerThanTheBoundIsRefusedWithOrWithoutItsEnd) {
  {
    LineSplitter s;
    std::string line;
    s.Feed(std::string(kMaxLine, 'A') + "\n");
    EXPECT_EQ(s.Next(&line), LineSplitter::Status::kLine) << "exactly the bound is fine";
  }
  {
    LineSplitter s;
    std::string line;
    s.Feed(std::string(kMaxLine + 1, 'A') + "\n");
    EXPECT_EQ(s.Next(&line), LineSplitter::Status::kTooLong);
  }
  {
    // No end in sight: refused as soon as the bound is passed, not when the
    // partner finally sends a '\n'.
    LineSplitter s;
    std::string line;
    s.Feed(std::string(kMaxLine, 'A'));
    EXPECT_EQ(s.Next(&line), LineSplitter::Status::kNeedMore);
    s.Feed("A");
    EXPECT_EQ(s.Next(&line), LineSplitter::Status::kTooLong);
  }
}

TEST(EndMessage, HasTheExactFormAndNeverPassesFortyNineCharacters) {
  char buf[kEndMessageSize];
  EXPECT_EQ(FormatEndMessage(EndCode::kOneTime, 2, 1, buf, sizeof buf), 21u);
  EXPECT_STREQ(buf, "MES=onet;LOC=2;REM=1;");
  FormatEndMessage(EndCode::kExit, 0, 0, buf, sizeof buf);
  EXPECT_STREQ(buf, "MES=exit;LOC=0;REM=0;");
  FormatEndMessage(EndCode::kPartnerExit, 10, 3, buf, sizeof buf);
  EXPECT_STREQ(buf, "MES=uexi;LOC=10;REM=3;");
  FormatEndMessage(EndCode::kDisconnected, 1, 0, buf, sizeof buf);
  EXPECT_STREQ(buf, "MES=disc;LOC=1;REM=0;");
  FormatEndMessage(EndCode::kNoConnection, 0, 0, buf, sizeof buf);
  EXPECT_STREQ(buf, "MES=note;LOC=0;REM=0;");

  std::string guarded(kEndMessageSize + 8, '#');
  const std::size_t n = FormatEndMessage(EndCode::kDisconnected, UINT32_MAX, UINT32_MAX,
                                         guarded.data(), kEndMessageSize);
  EXPECT_STREQ(guarded.c_str(), "MES=disc;LOC=4294967295;REM=4294967295;");
  EXPECT_EQ(n, 39u);
  EXPECT_LE(n, kEndMessageSize - 1);
  EXPECT_EQ(guarded.substr(kEndMessageSize), std::string(8, '#')) << "nothing written past 50";

  // A smaller buffer is cut, and still terminated.
  char tiny[8];
  EXPECT_EQ(FormatEndMessage(EndCode::kOneTime, 1, 1, tiny, sizeof tiny), 7u);
  EXPECT_STREQ(tiny, "MES=one");
}

}  // namespace
