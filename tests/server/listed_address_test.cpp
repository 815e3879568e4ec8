// The address a player on the server's own machine is listed under, without
// a network: the end-to-end test in lobby_server_test.cpp needs an address
// of this machine other than loopback, which a test machine may not have.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "listed_address.hpp"
#include "server_log.hpp"

namespace vossad {
namespace {

in_addr Address(const char* text) {
  in_addr a{};
  EXPECT_EQ(inet_pton(AF_INET, text, &a), 1) << text;
  return a;
}

std::string Listed(const std::string& id, const std::string& standIn) {
  std::string line;
  AppendListedId(line, id, standIn);
  return line;
}

TEST(ListedAddress, OnlyAnAskerOffLoopbackSeesAStandInAndNamesItBack) {
  EXPECT_EQ(LoopbackStandIn(Address("192.168.1.10")), "192.168.1.10");
  EXPECT_EQ(LoopbackStandIn(Address("127.0.0.1")), "");
  EXPECT_EQ(LoopbackStandIn(Address("127.0.0.9")), "");
  EXPECT_EQ(LoopbackStandIn(Address("0.0.0.0")), "");

  EXPECT_EQ(Listed("127.0.0.1:2001", "192.168.1.10"), "192.168.1.10:2001");
  EXPECT_EQ(Listed("10.0.0.7:2001", "192.168.1.10"), "10.0.0.7:2001");
  EXPECT_EQ(Listed("127.0.0.1:2001", ""), "127.0.0.1:2001");

  EXPECT_EQ(RegisteredIdOf("192.168.1.10:2001", "192.168.1.10"), "127.0.0.1:2001");
  // An address the stand-in is only the beginning of is another machine.
  EXPECT_EQ(RegisteredIdOf("192.168.1.100:2001", "192.168.1.10"), "");
  EXPECT_EQ(RegisteredIdOf("192.168.1.10", "192.168.1.10"), "");
  EXPECT_EQ(RegisteredIdOf("127.0.0.1:2001", ""), "");
}

// Players are named by this text (the id in every USER line), so it must be
// what the address is written as everywhere: each octet without leading
// zeros, at every digit-count boundary.
TEST(ListedAddress, AnAddressIsWrittenAsItsDottedQuad) {
  const unsigned octets[] = {0, 1, 9, 10, 99, 100, 199, 200, 255};
  for (unsigned a : octets)
    for (unsigned b : octets) {
      in_addr address{};
      address.s_addr = htonl(a << 24 | b << 16 | (a ^ b) << 8 | b);
      char expected[INET_ADDRSTRLEN];
      ASSERT_NE(inet_ntop(AF_INET, &address, expected, sizeof expected), nullptr);
      EXPECT_EQ(AddressText(address), expected);
    }
  // With a port, as a player's id is written, at its longest and shortest.
  in_addr widest{};
  widest.s_addr = htonl(0xFFFFFFFF);
  EXPECT_EQ(AddressText(widest, ':', 65535), "255.255.255.255:65535");
  EXPECT_EQ(AddressText(in_addr{}, '/', 1), "0.0.0.0/1");
}

}  // namespace
}  // namespace vossad
