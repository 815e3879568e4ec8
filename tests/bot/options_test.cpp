// The console player's command line and the user record it registers with.
#include <gtest/gtest.h>

#include <vector>

#include "bot_options.hpp"
#include "user_record.hpp"

namespace {

using namespace lobbybot;

ParseResult Parse(std::vector<const char*> args, BotOptions* o, std::string* error) {
  args.insert(args.begin(), "lobbybot");
  return ParseCommandLine(static_cast<int>(args.size()), args.data(), o, error);
}

TEST(BotOptions, EveryOptionLandsWhereItBelongs) {
  BotOptions o;
  std::string error;
  ASSERT_EQ(Parse({"--server", "10.0.0.7", "--port=2500", "--servers-ini", "/tmp/S.INI", "--name",
                   "Robo", "--desc", "Plays fair", "--city", "Oslo", "--country", "Norway", "--age",
                   "3", "--sex", "female", "--email", "robo@example.org", "--refuse", "Not today",
                   "--offer", "--offer-interval", "0.5", "--offer-wait", "20", "--games", "0",
                   "--think-ms", "0", "--game-port", "40000", "--seed", "9", "--quiet"},
                  &o, &error),
            ParseResult::kRun)
      << error;
  EXPECT_EQ(o.server, "10.0.0.7");
  EXPECT_EQ(o.port, 2500);
  EXPECT_EQ(o.serversIni, "/tmp/S.INI");
  EXPECT_EQ(o.profile.name, "Robo");
  EXPECT_EQ(o.profile.description, "Plays fair");
  EXPECT_EQ(o.profile.city, "Oslo");
  EXPECT_EQ(o.profile.country, "Norway");
  EXPECT_EQ(o.profile.age, "3");
  EXPECT_TRUE(o.profile.female);
  EXPECT_EQ(o.profile.email, "robo@example.org");
  EXPECT_EQ(o.refuseReason, "Not today");
  EXPECT_TRUE(o.offer);
  EXPECT_EQ(o.offerInterval, std::chrono::milliseconds(500));
  EXPECT_EQ(o.offerWait, std::chrono::seconds(20));
  EXPECT_EQ(o.games, 0u);
  EXPECT_EQ(o.think, std::chrono::milliseconds(0));
  EXPECT_EQ(o.gamePort, 40000);
  EXPECT_EQ(o.seed, 9u);
  EXPECT_TRUE(o.quiet);

  BotOptions d;
  ASSERT_EQ(Parse({"--refuse", "x", "--accept"}, &d, &error), ParseResult::kRun);
  EXPECT_FALSE(d.refuseReason) << "the last of --refuse and --accept counts";
  EXPECT_EQ(d.server, "127.0.0.1");
  EXPECT_EQ(d.port, 2424);
  EXPECT_EQ(d.games, 3u);
}

TEST(BotOptions, BadValuesAndUnknownOptionsAreRefusedWithAReason) {
  for (std::vector<const char*> bad : std::vector<std::vector<const char*>>{
           {"--port", "0"}, {"--port", "65536"}, {"--port", "24x"}, {"--sex", "other"},
           {"--games", "-1"}, {"--think-ms", "fast"}, {"--offer-interval", "0"},
           {"--offer-wait", "nan"}, {"--game-port", "0"}, {"--name", ""}, {"--server", ""},
           {"--name"}, {"--bogus", "1"}}) {
    BotOptions o;
    std::string error;
    EXPECT_EQ(Parse(bad, &o, &error), ParseResult::kError) << bad[0];
    EXPECT_FALSE(error.empty());
  }
  BotOptions o;
  std::string error;
  EXPECT_EQ(Parse({"--name", "A", "--help"}, &o, &error), ParseResult::kHelp);
  EXPECT_NE(std::string(kHelpText).find("--refuse REASON"), std::string::npos);
}

TEST(UserRecord, IsBuiltLikeTheClientsWithDashesForEmptyFields) {
  Profile p{"Robo", "", "", "", "", false, ""};
  EXPECT_EQ(BuildUserRecord(p),
            "VERSION=0.90b1;REAL=Robo;DESC=-;CITY=-;COUNTRY=-;AGE=-;SEX=0;EMAIL=-;");
  p = {"Ann Lee", "Likes puzzles", "Oslo", "Norway", "31", true, "ann@example.org"};
  EXPECT_EQ(BuildUserRecord(p),
            "VERSION=0.90b1;REAL=Ann Lee;DESC=Likes puzzles;CITY=Oslo;COUNTRY=Norway;AGE=31;SEX=1;"
            "EMAIL=ann@example.org;");
}

TEST(UserRecord, FieldsAndAddressesAreReadFromOtherPlayersTexts) {
  const std::string user = "ID=10.0.0.5:2003;OWN=1.1.1.1;VERSION=0.90b1;REAL=Bo;DESC=-;";
  EXPECT_EQ(RecordField(user, "REAL="), "Bo");
  EXPECT_EQ(RecordField(user, "ID="), "10.0.0.5:2003");
  EXPECT_EQ(RecordField(user, "CITY="), "");
  EXPECT_EQ(RecordField("REAL=" + std::string(300, 'x'), "REAL=").size(), 200u);
  EXPECT_EQ(RecordField("REAL=Cy", "REAL="), "Cy") << "the last pair may lack its ';'";
  EXPECT_EQ(AddressOfPlayer("10.0.0.5:40112"), "10.0.0.5");
  EXPECT_EQ(AddressOfPlayer("10.0.0.5"), "10.0.0.5");
}

}  // namespace
