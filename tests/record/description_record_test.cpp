// The user description record and GetField, and the console player's
// record, which must be the one the client builds for the same person.
#include <gtest/gtest.h>

#include <string>

#include "record/description_record.hpp"
#include "user_record.hpp"

using lobby::BuildDescriptionRecord;
using lobby::GetField;
using lobby::Profile;

TEST(DescriptionRecord, MalePlayerWithOnlyANameGetsDashesEverywhereElse) {
  Profile p{"N", "-", "-", "-", "-", "0", "-"};
  EXPECT_EQ(BuildDescriptionRecord(p), "VERSION=0.90b1;REAL=N;DESC=-;CITY=-;COUNTRY=-;AGE=-;SEX=0;EMAIL=-;");
}

TEST(DescriptionRecord, TheConsolePlayersRecordIsTheClientsForTheSamePerson) {
  EXPECT_EQ(lobbybot::BuildUserRecord({"Robo", "", "", "", "", false, ""}),
            BuildDescriptionRecord({"Robo", "-", "-", "-", "-", "0", "-"}));
  EXPECT_EQ(lobbybot::BuildUserRecord({"Ann", "Likes puzzles", "Oslo", "Norway", "31", true, "a@b"}),
            BuildDescriptionRecord({"Ann", "Likes puzzles", "Oslo", "Norway", "31", "1", "a@b"}));
}

TEST(DescriptionRecord, ValuesGoInUnescaped) {
  Profile p{"A;B", "x=y", "City", "Land", "30", "1", "a@b"};
  EXPECT_EQ(BuildDescriptionRecord(p), "VERSION=0.90b1;REAL=A;B;DESC=x=y;CITY=City;COUNTRY=Land;AGE=30;SEX=1;EMAIL=a@b;");
}

TEST(GetField, FindsTheFirstOccurrenceEvenInsideAnEarlierValue) {
  const std::string record = "VERSION=0.90b1;REAL=Ann;DESC=AGE=9;CITY=x;COUNTRY=y;AGE=30;SEX=1;EMAIL=e;";
  EXPECT_EQ(GetField(record, "AGE="), "9");
  EXPECT_EQ(GetField(record, "REAL="), "Ann");
  EXPECT_EQ(GetField(record, "EMAIL="), "e");
}

TEST(GetField, MissingAndEmptyValuesReadEmpty) {
  EXPECT_EQ(GetField("REAL=;DESC=d;", "REAL="), "");
  EXPECT_EQ(GetField("DESC=d;", "CITY="), "");
  EXPECT_EQ(GetField("", "CITY="), "");
}

TEST(GetField, KeyIsFoundAsTheTailOfALongerKey) {
  EXPECT_EQ(GetField("XREAL=fake;REAL=real;", "REAL="), "fake");
  EXPECT_EQ(GetField("lower real=x;", "REAL="), "") << "the search is case-sensitive";
}

TEST(GetField, ValueWithoutSemicolonIsCutAt200Characters) {
  const std::string longValue(250, 'v');
  EXPECT_EQ(GetField("DESC=" + longValue, "DESC="), std::string(200, 'v'));
  // A ";" beyond the 200 characters is not seen.
  EXPECT_EQ(GetField("DESC=" + longValue + ";", "DESC="), std::string(200, 'v'));
  EXPECT_EQ(GetField("DESC=" + std::string(199, 'v') + ";", "DESC="), std::string(199, 'v'));
  EXPECT_EQ(GetField("ID=1.2.3.4:2001", "ID="), "1.2.3.4:2001");
}
