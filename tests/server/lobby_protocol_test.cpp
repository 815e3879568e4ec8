// The parsers of the lobby server's command lines.
#include <gtest/gtest.h>

#include "lobby_protocol.hpp"

namespace {

using vossad::Param;
using vossad::Params;

// A key counts at the text's start or after a ";" or a blank (even one
// inside a value), followed by "="; its first such place wins, and its
// value runs to the next ";". Several keys in one pass find what each
// would alone.
TEST(LobbyProtocol, ParamsFindTheFirstKeyAtABoundary) {
  const auto join = Params<3>("JOIN ID=2001;APP=x;OWN=1.1.1.1;", {"ID", "APP", "OWN"});
  EXPECT_EQ(join[0], "2001");
  EXPECT_EQ(join[1], "x");
  EXPECT_EQ(join[2], "1.1.1.1");

  const std::string_view tricky = "JOIN XID=5;APP=a ID=7;ID=9;OWN";
  const auto found = Params<3>(tricky, {"ID", "APP", "OWN"});
  EXPECT_EQ(found[0], "7");
  EXPECT_EQ(found[1], "a ID=7");
  EXPECT_EQ(found[2], std::nullopt);
  EXPECT_EQ(Param(tricky, "ID"), found[0]);
  EXPECT_EQ(Param(tricky, "APP"), found[1]);

  EXPECT_EQ(Param("JOIN ID;ID=3=4", "ID"), "3=4");
  EXPECT_EQ(Param("JOIN ID=", "ID"), "");
  EXPECT_EQ(Param("JOIN IDS=1", "ID"), std::nullopt);
}

}  // namespace
