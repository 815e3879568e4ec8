// Lines made up at random, sent by a scripted server and by scripted agents:
// whatever they say, a session never crashes, keeps answering its client, and
// only ever queues messages that fit the client's buffers.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "session_client.hpp"
#include "../support/listening_ports.hpp"

namespace {

using namespace testsupport;

std::string Frame(const std::string& text, bool withMarker) {
  std::string frame = "mR&2s7qV";
  if (withMarker) frame.push_back('\0');
  const std::size_t n = text.size();
  if (n <= 254) {
    frame.push_back(static_cast<char>(n));
  } else {  // the lines here stay under 65534 bytes
    frame += '\xFF';
    frame.push_back(static_cast<char>(n & 0xFF));
    frame.push_back(static_cast<char>(n >> 8));
  }
  return frame + text;
}

// A line that starts like a real one (or not) and goes on at random: short,
// cut off, blank-ridden, with colons, semicolons and the 0x18 separator.
std::string RandomLine(std::mt19937& rng, const std::vector<std::string>& commands) {
  static const std::string kPieces[] = {" ",  "  ", ":", ";", "ID=", "127.0.0.1:", "2001", "\x18",
                                        "START", "END", "x", "99999999999", "=", "\r\n", ""};
  std::string line = commands[rng() % commands.size()];
  for (int i = 0, n = static_cast<int>(rng() % 8); i < n; ++i)
    line += kPieces[rng() % (sizeof kPieces / sizeof kPieces[0])];
  if (rng() % 10 == 0) line += std::string(rng() % 2000, static_cast<char>('a' + rng() % 26));
  if (rng() % 4 == 0) line.resize(rng() % (line.size() + 1));
  return line;
}

void CheckFits(const std::vector<Message>& messages) {
  for (const Message& m : messages) {
    ASSERT_LE(m.playerId.size(), 99u);
    ASSERT_LE(m.text.size(), 499u);
    ASSERT_LE(m.moreInfo.size(), 499u);
    ASSERT_GE(m.type, ZEP_MT_NODELIVERY);
    ASSERT_LE(m.type, ZEP_MT_USERMSG);
  }
}

TEST(HostileLines, RandomServerLinesLeaveTheSessionWorking) {
  TempDir dir;
  SessionClient client;
  ASSERT_EQ(client.Open(dir.File("SERVERS.INI")), ZEP_RET_OK);
  std::mt19937 rng(1);
  const std::vector<std::string> commands = {"USER", "QROK", "QRFL", "CINI", "CINI ", "CINI START",
                                             "CINI END", "JSOK", "BUSY", "PING", "PIN", "", "XXXX"};
  for (int round = 0; round < 20; ++round) {
    RawPeer server;
    const unsigned port = server.Listen();
    ASSERT_EQ(ZEPJoinServer(client.handle, "127.0.0.1", static_cast<int>(port)), ZEP_RET_OK);
    ASSERT_TRUE(server.Accept());
    ZEPQueryUsers(client.handle, " ", 10, nullptr, nullptr);
    std::string burst;
    for (int i = 0; i < 50; ++i) burst += Frame(RandomLine(rng, commands), false);
    ASSERT_TRUE(server.Send(burst));
    PumpAWhile(5);
    CheckFits(client.Drain());
    server.Close();
    PumpAWhile(5);
    CheckFits(client.Drain());
    // Usually the session saw the server go. After an unasked JSOK or BUSY
    // it has left that server itself, silently, and is told to leave here.
    int status = 0;
    ASSERT_EQ(ZEPGetSessionServerStatus(client.handle, &status), ZEP_RET_OK);
    if (status != ZEP_SS_NOSRV) ZEPLeaveServer(client.handle);
    ASSERT_EQ(client.ServerStatus(), ZEP_SS_NOSRV);
    client.Drain();
  }
}

TEST(HostileLines, RandomAgentLinesLeaveTheSessionWorking) {
  TempDir dir;
  SessionClient target;
  // The target's listener: the port this process listens on once the
  // session is open (another test's agent may hold a port of 2001-2100).
  const std::set<unsigned> before = OwnListeningPorts();
  ASSERT_EQ(target.Open(dir.File("SERVERS.INI")), ZEP_RET_OK);
  unsigned port = 0;
  for (unsigned p : OwnListeningPorts())
    if (!before.count(p)) port = p;
  ASSERT_NE(port, 0u);
  PumpAWhile();
  std::mt19937 rng(2);
  const std::vector<std::string> commands = {"JOIN", "JOIN ID=", "TERM", "TERM ID=", "NAKJ", "AKNJ",
                                             "ADDP", "ADDP ID=", "REMP", "PLRS", "OWNS", "DLVF",
                                             "", "XXXX"};
  for (int round = 0; round < 100; ++round) {
    RawPeer agent;
    ASSERT_TRUE(agent.Connect(port));
    std::string burst;
    for (int i = 0, n = 1 + static_cast<int>(rng() % 5); i < n; ++i)
      burst += Frame(RandomLine(rng, commands), true);
    ASSERT_TRUE(agent.Send(burst));
    PumpAWhile(2);
    CheckFits(target.Drain());
    // Now and then the client answers what it was offered, whatever it was.
    if (round % 10 == 0) ZEPSetResponseStatus(target.handle, round % 20 == 0 ? 0 : 1, 1, "GAME");
  }
  int status = 0;
  EXPECT_EQ(ZEPGetSessionSubGroupStatus(target.handle, &status), ZEP_RET_OK);
}

}  // namespace
