// Registrations as the fleet's store holds them, read back as untrusted
// input, and the server list made from the live instances.
#include <gtest/gtest.h>

#include "fleet/store_records.hpp"
#include "server_list.hpp"

namespace {

using vossad::DecodeValue;

std::string Value(const std::string& head, const std::string& record) { return head + record; }

TEST(StoreRecords, AValueReadsBackAsWrittenWhateverBytesTheFieldsHold) {
  const std::string description("REAL=A;DESC=x\n1:y;\0z", 21);
  const std::string value = Value("42\ninst-1\n1\n", vossad::EncodeRecord("Corva", "1.1.1.1", description));
  const auto stored = DecodeValue(value);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->serial, 42u);
  EXPECT_EQ(stored->owner, "inst-1");
  EXPECT_TRUE(stored->inGame);
  EXPECT_EQ(stored->app, "Corva");
  EXPECT_EQ(stored->own, "1.1.1.1");
  EXPECT_EQ(stored->description, description);
}

TEST(StoreRecords, CorruptOrOversizedValuesAreRefused) {
  const std::string record = vossad::EncodeRecord("a", "b", "c");
  for (const std::string& bad : {
           std::string(), Value("x\ni\n0\n", record), Value("0\ni\n0\n", record), Value("1\n\n0\n", record),
           Value("1\nbad name\n0\n", record), Value("1\ni\n2\n", record), Value("1\ni\n0\n", "1:a1:b"),
           Value("1\ni\n0\n", "1:a1:b9:c"), Value("1\ni\n0\n", record + "x"),
           Value("4611686018427387904\ni\n0\n", record),  // a provisional number
           Value("1\ni\n0\n", vossad::EncodeRecord(std::string(256, 'a'), "", "")),
           Value("1\ni\n0\n", vossad::EncodeRecord("", "", std::string(1025, 'd'))),
           Value("1\ni\n0\n", "99999:a")}) {
    EXPECT_FALSE(DecodeValue(bad)) << bad;
  }
  EXPECT_TRUE(vossad::ValidPlayerId("10.1.2.3:2001"));
  for (const char* bad : {"", "10.1.2.3", "10.1.2.3:0", "10.1.2.3:65536", "host:1", "1.2.3.4.5:1", "1.2.3.4:1x"})
    EXPECT_FALSE(vossad::ValidPlayerId(bad)) << bad;
}

TEST(FleetServerList, ListsEachAddressAndItsVersionFollowsTheSet) {
  const vossad::ServerList two = vossad::FleetServerList({"10.0.0.1", "10.0.0.2"});
  EXPECT_EQ(two.lines, (std::vector<std::string>{"ServerCount=2", "Server1=10.0.0.1", "Name1=10.0.0.1",
                                                 "Server2=10.0.0.2", "Name2=10.0.0.2", "Version=" + two.version}));
  EXPECT_EQ(vossad::FleetServerList({"10.0.0.1", "10.0.0.2"}).version, two.version);
  EXPECT_NE(vossad::FleetServerList({"10.0.0.1"}).version, two.version);
  EXPECT_NE(vossad::FleetServerList({"10.0.0.1", "10.0.0.3"}).version, two.version);
}

}  // namespace
