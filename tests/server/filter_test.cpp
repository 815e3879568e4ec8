// The pure parts of the lobby server: the query filter rule, registration
// order with cursors, finding players by id, and which lines of the list
// file agents are sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "filter.hpp"
#include "id_index.hpp"
#include "line_aligned.hpp"
#include "player_registry.hpp"
#include "server_list.hpp"

namespace vossad {
namespace {

const Description kAnn("VERSION=0.90b1;REAL=Ann Lee;DESC=likes chess;CITY=Oslo;COUNTRY=Norway;"
                       "AGE=31;SEX=1;EMAIL=a@b.c;");

bool Matches(const char* filter, const Description& who = kAnn) {
  return Filter::Parse(filter).Matches(who);
}

TEST(FilterMatching, BlankOrEmptyFilterMatchesEveryone) {
  EXPECT_TRUE(Filter::Parse(" ").MatchesEveryone());
  EXPECT_TRUE(Filter::Parse("").MatchesEveryone());
  EXPECT_TRUE(Matches(" ", Description("")));
}

TEST(FilterMatching, ValuesMatchAsCaseInsensitiveSubstrings) {
  EXPECT_TRUE(Matches("CITY=Oslo;"));
  EXPECT_TRUE(Matches("CITY=sl;"));
  EXPECT_TRUE(Matches("REAL=ann LEE;"));
  EXPECT_TRUE(Matches("city=OSLO;"));  // keys ignore case too
  EXPECT_FALSE(Matches("CITY=Bergen;"));
  EXPECT_FALSE(Matches("CITY=Oslo2;"));
}

TEST(FilterMatching, SexAndAgeMustBeEqual) {
  EXPECT_TRUE(Matches("SEX=1;"));
  EXPECT_FALSE(Matches("SEX=0;"));
  EXPECT_TRUE(Matches("AGE=31;"));
  EXPECT_FALSE(Matches("AGE=3;"));
  EXPECT_FALSE(Matches("SEX=1;", Description("SEX=10;")));
}

TEST(FilterMatching, EveryPairMustMatch) {
  EXPECT_TRUE(Matches("CITY=Oslo;SEX=1;"));
  EXPECT_FALSE(Matches("CITY=Oslo;SEX=0;"));
  EXPECT_FALSE(Matches("CITY=Oslo;CITY=Bergen;"));
}

TEST(FilterMatching, KeyThePlayerLacksFailsButAnEmptyValueAsksNothing) {
  EXPECT_FALSE(Matches("HOBBY=go;"));
  EXPECT_TRUE(Matches("HOBBY=;CITY=Oslo;"));
}

TEST(FilterMatching, FilterWithoutTrailingSemicolonStillCounts) {
  EXPECT_TRUE(Matches("CITY=Oslo"));
  EXPECT_FALSE(Matches("CITY=Rome"));
}

TEST(FilterMatching, TypedSemicolonStaysPartOfTheValueOnBothSides) {
  const Description typed("REAL=a;b;CITY=x=y;");
  EXPECT_EQ(typed.Find("REAL"), "a;b");
  EXPECT_EQ(typed.Find("CITY"), "x=y");
  EXPECT_TRUE(Matches("REAL=a;b;", typed));
  EXPECT_TRUE(Matches("CITY=x=y;", typed));
}

TEST(FilterMatching, FirstPairWithTheKeyIsTheOneCompared) {
  const Description twice("AGE=9;AGE=30;");
  EXPECT_TRUE(Matches("AGE=9;", twice));
  EXPECT_FALSE(Matches("AGE=30;", twice));
}

TEST(FilterMatching, KeysLongerThanTheirTagAreComparedWhole) {
  const Description d("COUNTRY=Norway;COUNTY=Viken;CITYX=1;city=Oslo;EMAIL_ADDRESS_1=a@b;EMAIL_ADDRESS_2=c@d;");
  EXPECT_EQ(d.Find("country"), "Norway");
  EXPECT_EQ(d.Find("COUNTY"), "Viken");
  EXPECT_EQ(d.Find("CITY"), "Oslo");  // same first bytes, other length
  EXPECT_EQ(d.Find("Email_Address_2"), "c@d");
  EXPECT_EQ(d.Find("COUNTRX"), std::nullopt);
  EXPECT_EQ(d.Find("COUN"), std::nullopt);
  EXPECT_TRUE(Matches("COUNTRY=nor;EMAIL_ADDRESS_1=A@B;", d));
  EXPECT_FALSE(Matches("COUNTRZ=nor;", d));
  // Copies keep their own text and pairs.
  Description copy(d);
  Description assigned;
  assigned = d;
  EXPECT_EQ(copy.text(), d.text());
  EXPECT_EQ(assigned.Find("CITY"), "Oslo");
  EXPECT_EQ(Description("").pairCount(), 0u);
  EXPECT_EQ(Description("").Find("CITY"), std::nullopt);
}

// The splitting rule as the header states it, piece by piece.
std::vector<PairSpan> SplitByTheRule(std::string_view text) {
  std::vector<PairSpan> pairs;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t end = text.find(';', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view piece = text.substr(pos, end - pos);
    const std::size_t keyStart = std::min(piece.find_first_not_of(' '), piece.size());
    const std::size_t eq = piece.find('=');
    const bool startsPair = eq != std::string_view::npos && eq > keyStart &&
                            piece.substr(keyStart, eq - keyStart).find_first_not_of(
                                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_") == std::string_view::npos;
    if (keyStart == piece.size()) {
    } else if (startsPair) {
      pairs.push_back(PairSpan{static_cast<std::uint16_t>(pos + keyStart), static_cast<std::uint16_t>(eq - keyStart),
                               static_cast<std::uint16_t>(pos + eq + 1), static_cast<std::uint16_t>(piece.size() - eq - 1)});
    } else if (!pairs.empty()) {
      pairs.back().valueLen = static_cast<std::uint16_t>(end - pairs.back().valuePos);
    }
    pos = end + 1;
  }
  return pairs;
}

TEST(FilterMatching, SplittingAndLookupFollowTheRuleForEveryShortText) {
  // " " is not a key character inside a key, as "-" would not be.
  const std::string alphabet = "aA_ =;";
  std::string text;
  std::size_t checked = 0;
  const auto same = [](const PairSpan& a, const PairSpan& b) {
    return a.keyPos == b.keyPos && a.keyLen == b.keyLen && a.valuePos == b.valuePos && a.valueLen == b.valueLen;
  };
  for (std::size_t length = 0; length <= 7; ++length) {
    std::vector<std::size_t> digits(length, 0);
    for (;;) {
      text.clear();
      for (const std::size_t d : digits) text += alphabet[d];
      const std::vector<PairSpan> got = SplitPairs(text);
      const std::vector<PairSpan> want = SplitByTheRule(text);
      ASSERT_TRUE(std::equal(got.begin(), got.end(), want.begin(), want.end(), same)) << '"' << text << '"';
      // Each key finds the first pair with that key, case ignored.
      const Description description(text);
      for (const PairSpan& pair : want) {
        const std::string_view key = std::string_view(text).substr(pair.keyPos, pair.keyLen);
        const auto first = std::find_if(want.begin(), want.end(), [&](const PairSpan& p) {
          return EqualsIgnoreCase(std::string_view(text).substr(p.keyPos, p.keyLen), key);
        });
        ASSERT_EQ(description.Find(key), std::string_view(text).substr(first->valuePos, first->valueLen)) << text;
      }
      ++checked;
      std::size_t i = 0;
      while (i < length && ++digits[i] == alphabet.size()) digits[i++] = 0;
      if (i == length) break;
    }
  }
  EXPECT_GT(checked, 300000u);
}

TEST(FilterMatching, ManyPairsAreAllKept) {
  std::string text;
  for (int i = 0; i < 40; ++i) {
    const std::string n = std::to_string(i);
    text.append("K").append(n).append("=v").append(n).append(";");
  }
  const Description many(text);
  EXPECT_EQ(many.pairCount(), 40u);
  EXPECT_EQ(many.text(), text);
  EXPECT_EQ(many.Find("K0"), "v0");
  EXPECT_EQ(many.Find("k39"), "v39");
}

TEST(SameBytes, AgreesWithEqualityAtEveryLengthAndPosition) {
  for (std::size_t n = 0; n <= 20; ++n) {
    const std::string a(n, 'q');
    EXPECT_TRUE(SameBytes(a, std::string(n, 'q')));
    EXPECT_FALSE(SameBytes(a, std::string(n + 1, 'q')));
    for (std::size_t i = 0; i < n; ++i) {
      std::string b = a;
      b[i] = 'Q';
      EXPECT_FALSE(SameBytes(a, b)) << n << " " << i;
    }
  }
}

TEST(LineAligned, MemoryStartsACacheLineAndHoldsWhatWasAsked) {
  for (const std::size_t bytes : {1, 63, 64, 65, 300}) {
    void* memory = AllocateLineAligned(bytes);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(memory) % kCacheLine, 0u);
    std::memset(memory, 0xAB, bytes);
    FreeLineAligned(memory);
  }
  const auto player = std::make_unique<Player>();
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(player.get()) % kCacheLine, 0u);
}

Player Named(const std::string& id, int connection) {
  Player p;
  p.id = id;
  p.connection = ConnectionRef{connection, 1};
  return p;
}

// The ids from *cursor on, as a query's slices meet them, at most stopAfter.
std::vector<std::string> ScanAll(const PlayerRegistry& registry, std::uint64_t* cursor,
                                 std::size_t stopAfter = 1000) {
  std::vector<std::string> ids;
  const Player* batch[7];
  for (std::size_t found = std::size(batch); found == std::size(batch) && ids.size() < stopAfter;) {
    found = registry.ScanFrom(*cursor, batch);
    for (std::size_t i = 0; i < found && ids.size() < stopAfter; ++i) {
      ids.push_back(batch[i]->id);
      *cursor = batch[i]->serial + 1;
    }
  }
  return ids;
}

TEST(PlayerRegistry, ScanFollowsRegistrationOrderAndResumesAfterRemovals) {
  PlayerRegistry registry;
  std::vector<const Player*> players;
  for (int i = 0; i < 300; ++i) players.push_back(registry.Add(Named(std::string(1, 'p').append(std::to_string(i)), i)));
  std::uint64_t cursor = 0;
  EXPECT_EQ(ScanAll(registry, &cursor, 2), (std::vector<std::string>{"p0", "p1"}));
  // Enough removals to compact the order: the cursor still holds its place.
  for (int i = 0; i < 250; ++i) registry.Remove(players[i]);
  registry.Add(Named("late", 999));
  const std::vector<std::string> rest = ScanAll(registry, &cursor);
  ASSERT_EQ(rest.size(), 51u);
  EXPECT_EQ(rest.front(), "p250");
  EXPECT_EQ(rest.back(), "late");
  EXPECT_TRUE(ScanAll(registry, &cursor).empty());
}

TEST(PlayerRegistry, SameIdTakesOverAndReportsTheOlderConnection) {
  PlayerRegistry registry;
  registry.Add(Named("10.0.0.1:2001", 5));
  ConnectionRef displaced;
  const Player* newer = registry.Add(Named("10.0.0.1:2001", 9), &displaced);
  EXPECT_EQ(displaced.descriptor, 5);
  EXPECT_EQ(registry.size(), 1u);
  EXPECT_EQ(registry.Find("10.0.0.1:2001"), newer);
  registry.Remove(newer);
  EXPECT_EQ(registry.Find("10.0.0.1:2001"), nullptr);
}

std::string_view RecordId(const std::string& record) { return record; }

TEST(IdIndex, FindsWhatIsLeftAfterRemovalsInAnyOrder) {
  // Enough ids for the table to grow several times and its runs of
  // neighbours to be shifted back over by removals.
  std::vector<std::string> ids;
  for (int i = 0; i < 3000; ++i) {
    ids.push_back("10.0." + std::to_string(i % 7) + "." + std::to_string(i) + ":" + std::to_string(i % 97));
  }
  IdIndex<std::string, &RecordId> index;
  for (std::string& id : ids) index.Insert(&id);
  for (std::size_t i = 0; i < ids.size(); i += 3) EXPECT_TRUE(index.Erase(ids[i]));
  for (std::size_t i = ids.size(); i-- > 0;) {
    if (i % 3 == 1) {
      EXPECT_TRUE(index.Erase(ids[i]));
    }
  }
  EXPECT_FALSE(index.Erase(ids[0])) << "taken out already";
  EXPECT_EQ(index.size(), ids.size() / 3);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    EXPECT_EQ(index.Find(ids[i]), i % 3 == 2 ? &ids[i] : nullptr) << ids[i];
  }
  index.Insert(&ids[0]);
  EXPECT_EQ(index.Find(std::string(ids[0])), &ids[0]);
  EXPECT_EQ(index.Find("10.0.0.0"), nullptr);
}

TEST(ServerListFile, AgentsGetTheSectionButNotTheLinesTheyWriteThemselves) {
  const ServerList list = ParseServerList(
      "; comment\r\n[QORServers]\r\nCurrentServer=1.2.3.4\r\nVersion=7\r\n\r\nServerCount=1\r\n"
      "Server1=10.0.0.1\r\n[Other]\r\nKey=v\r\n",
      std::nullopt);
  EXPECT_EQ(list.version, "7");
  EXPECT_EQ(list.lines, (std::vector<std::string>{"Version=7", "ServerCount=1", "Server1=10.0.0.1"}));
}

TEST(ServerListFile, OverriddenOrMissingVersionIsTheOneTheListCarries) {
  const ServerList overridden = ParseServerList("[qorservers]\nversion=7\nServerCount=0\n", "9");
  EXPECT_EQ(overridden.version, "9");
  EXPECT_EQ(overridden.lines, (std::vector<std::string>{"Version=9", "ServerCount=0"}));
  const ServerList missing = ParseServerList("[QORServers]\nServerCount=0\n", std::nullopt);
  EXPECT_EQ(missing.version, "1");
  EXPECT_EQ(missing.lines, (std::vector<std::string>{"ServerCount=0", "Version=1"}));
}

}  // namespace
}  // namespace vossad
