// The owner's player table and the member's membership record, with the
// player agents as real CAgents listening on loopback in this process: what
// each player hears, which connections are opened and closed, and how player
// ids are read from request texts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "membership_record.hpp"
#include "msg.hpp"
#include "player_id.hpp"
#include "player_object.hpp"
#include "player_table.hpp"
#include "runtime_class.hpp"
#include "../support/raw_peer.hpp"
#include "zep/agent.hpp"

namespace zep {
namespace {

using testsupport::PumpUntil;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

const char kLoopback[] = "127.0.0.1";

// A loopback port with nothing listening on it.
unsigned FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  unsigned port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(fd);
  return port;
}

std::string RequestText(const std::string& playerId, const std::string& name) {
  return "ID=" + playerId + ";APP=GAME;" + std::string(1, '\x18') + name;
}

struct Event {
  std::uint32_t code;
  std::uint32_t id;
  std::string text;
};

// One agent of this process and every event its callback was given.
class TestAgent {
 public:
  TestAgent() {
    Agents()[&agent] = this;
    EXPECT_EQ(agent.Init(&Record), 1);
  }
  ~TestAgent() { Agents().erase(&agent); }
  TestAgent(const TestAgent&) = delete;
  TestAgent& operator=(const TestAgent&) = delete;

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const Event& e : events)
      if (e.code == TE_PEER_MESSAGE) lines.push_back(e.text);
    return lines;
  }
  std::vector<std::uint32_t> Codes() const {
    std::vector<std::uint32_t> codes;
    for (const Event& e : events) codes.push_back(e.code);
    return codes;
  }
  std::vector<std::uint32_t> Ids(std::uint32_t code) const {
    std::vector<std::uint32_t> ids;
    for (const Event& e : events)
      if (e.code == code) ids.push_back(e.id);
    return ids;
  }

  CAgent agent;
  std::vector<Event> events;

 private:
  static std::map<const void*, TestAgent*>& Agents() {
    static std::map<const void*, TestAgent*> agents;
    return agents;
  }
  static int Record(void* context, std::uint32_t code, std::uint32_t id, std::string text) {
    auto it = Agents().find(context);
    if (it != Agents().end()) it->second->events.push_back({code, id, std::move(text)});
    return 1;
  }
};

// Another player: an agent listening for the owner's connections.
class Player : public TestAgent {
 public:
  explicit Player(const std::string& name) {
    port = agent.AAListnerCreate(FreePort());
    EXPECT_NE(port, 0u);
    id = FormatPlayerId(kLoopback, port);
    request = RequestText(id, name);
  }

  unsigned port = 0;
  std::string id;
  std::string request;
  std::size_t heard = 0;  // lines already looked at by Heard()
};

class PlayerTableTest : public ::testing::Test {
 protected:
  // The owner's connection to p, as accepting p's request opens it.
  std::uint32_t Connect(Player& p) {
    const std::size_t accepted = p.Ids(TE_PEER_ACCEPTED).size();
    std::uint32_t connection = 0;
    EXPECT_EQ(owner.agent.AAConnectCreate(&connection, kLoopback, p.port), 1);
    EXPECT_TRUE(PumpUntil([&] { return p.Ids(TE_PEER_ACCEPTED).size() > accepted; }));
    return connection;
  }

  std::vector<std::string> PendingTexts() const {
    std::vector<std::string> texts;
    for (const zep::PendingRequest& request : table.pending) texts.push_back(request.text);
    return texts;
  }

  // Accepts p into the subgroup the way the session does.
  std::uint32_t Admit(Player& p) {
    const std::uint32_t connection = Connect(p);
    EXPECT_NE(table.AddPlayer(connection, p.request), nullptr);
    table.RemoveFailedPlayers();
    return connection;
  }

  // The lines p heard since the last call. A marker line is sent on
  // `connection` behind them and waited for, so whatever the table sent
  // before has arrived: an empty result really means nothing was sent.
  std::vector<std::string> Heard(Player& p, std::uint32_t connection) {
    EXPECT_EQ(owner.agent.AASend(connection, "MARK", 0), 1);
    std::size_t mark = 0;
    EXPECT_TRUE(PumpUntil([&] {
      const auto lines = p.Lines();
      for (mark = p.heard; mark < lines.size(); ++mark)
        if (lines[mark] == "MARK") return true;
      return false;
    }));
    const auto lines = p.Lines();
    if (mark >= lines.size()) return {"(marker lost)"};
    std::vector<std::string> fresh(lines.begin() + static_cast<long>(p.heard),
                                   lines.begin() + static_cast<long>(mark));
    p.heard = mark + 1;
    return fresh;
  }

  TestAgent owner;
  PlayerTable table{owner.agent};
};

// ---- reading player ids -------------------------------------------------

TEST(ParsePlayerIdTest, ReadsAddressAndPortUpToTheFirstNonDigit) {
  const std::string text = "ID=10.0.0.5:2003;APP=GAME";
  std::string address;
  unsigned port = 0;
  ASSERT_TRUE(ParsePlayerId(text.c_str() + 3, address, port));
  EXPECT_EQ(FormatPlayerId(address, port), "10.0.0.5:2003");
  ASSERT_TRUE(ParsePlayerText("ID=10.0.0.6:2004 and more", address, port));
  EXPECT_EQ(FormatPlayerId(address, port), "10.0.0.6:2004");
  ASSERT_TRUE(ParsePlayerId("10.0.0.7:2005", address, port));  // no ";": read whole
  EXPECT_EQ(FormatPlayerId(address, port), "10.0.0.7:2005");
}

TEST(ParsePlayerIdTest, TextsWithoutAPlayerIdLeaveBothOutputsAlone) {
  for (const char* text : {"10.0.0.5", "10.0.0.5;APP=x:2003", "10.0.0.5:;", "10.0.0.5:x1",
                           "10.0.0.5:65536;", "10.0.0.5:99999999999999999999;", ""}) {
    std::string address = "before";
    unsigned port = 7;
    EXPECT_FALSE(ParsePlayerId(text, address, port)) << text;
    EXPECT_EQ(address, "before") << text;
    EXPECT_EQ(port, 7u) << text;
  }
  std::string address = "before";
  unsigned port = 7;
  EXPECT_FALSE(ParsePlayerId(nullptr, address, port));
  EXPECT_FALSE(ParsePlayerText("ID", address, port));
  EXPECT_EQ(address, "before");
}

TEST(ParsePlayerIdTest, LooksAtNoMoreThan499Characters) {
  std::string address;
  unsigned port = 0;
  const std::string host(497, 'h');
  ASSERT_TRUE(ParsePlayerId((host + ":1234;").c_str(), address, port));
  EXPECT_EQ(address, host);
  EXPECT_EQ(port, 1u);  // ":1" are characters 498 and 499
  EXPECT_FALSE(ParsePlayerId((std::string(499, 'h') + ":1;").c_str(), address, port));
}

// ---- records ------------------------------------------------------------

TEST(PlayerObjectTest, IsCreatableByItsClassName) {
  std::unique_ptr<CObject> object = RuntimeClass::CreateByName("CPlayerObject");
  ASSERT_NE(object, nullptr);
  EXPECT_TRUE(object->IsKindOf(CPlayerObject::kRuntimeClass));
  auto* record = static_cast<CPlayerObject*>(object.get());
  EXPECT_EQ(record->connectionId, 0u);
  EXPECT_THAT(record->playerId, IsEmpty());
}

TEST(MembershipRecordTest, EntersAnnouncedPlayersUnderTheirIdWithoutAConnection) {
  MembershipRecord record;
  CPlayerObject* added = record.AddMember("ID=10.0.0.5:2003;APP=GAME;\x18" "desc");
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->playerId, "10.0.0.5:2003");
  EXPECT_EQ(added->connectionId, 0u);
  EXPECT_EQ(record.FindMember("10.0.0.5:2003"), added);
  EXPECT_EQ(record.FindMember("10.0.0.5:200"), nullptr);

  EXPECT_EQ(record.AddMember("ID=10.0.0.5;APP=GAME;"), nullptr);
  EXPECT_EQ(record.MemberCount(), 1u);

  ASSERT_NE(record.AddMember("ID=10.0.0.6:2003;"), nullptr);
  EXPECT_TRUE(record.RemoveMember("10.0.0.5:2003"));
  EXPECT_FALSE(record.RemoveMember("10.0.0.5:2003"));
  EXPECT_EQ(record.MemberCount(), 1u);
  EXPECT_EQ(record.RemoveAllMembers(), 1);
  EXPECT_EQ(record.MemberCount(), 0u);
}

// Lookups are remembered: ids that differ only before their last character,
// one found after the other, a removal, a replacement and a clear must never
// return a wrong record or one already freed.
TEST(MembershipRecordTest, RemembersLookupsButNeverAnEntryGoneSince) {
  MembershipRecord record;
  CPlayerObject* a = record.AddMember("ID=10.0.0.5:2003;");
  CPlayerObject* b = record.AddMember("ID=10.0.0.6:2003;");
  CPlayerObject* c = record.AddMember("ID=10.0.0.7:2003;");
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(record.FindMember("10.0.0.5:2003"), a);
    EXPECT_EQ(record.FindMember("10.0.0.6:2003"), b);
    EXPECT_EQ(record.FindMember("10.0.0.7:2003"), c);
    EXPECT_EQ(record.FindMember("10.0.0.8:2003"), nullptr);
    EXPECT_EQ(record.FindMember("10.0.0.5:200"), nullptr);
  }
  EXPECT_EQ(record.FindMember("10.0.0.6:2003"), b);
  ASSERT_TRUE(record.RemoveMember("10.0.0.7:2003"));
  EXPECT_EQ(record.FindMember("10.0.0.7:2003"), nullptr);
  EXPECT_EQ(record.FindMember("10.0.0.6:2003"), b);

  CPlayerObject* again = record.AddMember("ID=10.0.0.6:2003;ANEW");
  EXPECT_EQ(record.FindMember("10.0.0.6:2003"), again) << "the replacing record, not the replaced";
  record.RemoveAllMembers();
  EXPECT_EQ(record.FindMember("10.0.0.6:2003"), nullptr);
  EXPECT_EQ(record.FindMember("10.0.0.5:2003"), nullptr);
}

// ---- pending requests ---------------------------------------------------

TEST_F(PlayerTableTest, RemovingAPendingRequestTakesOnlyTheOldestEqualOne) {
  table.AddPendingRequest("ID=10.0.0.5:2003;A");
  table.AddPendingRequest("ID=10.0.0.6:2003;B");
  table.AddPendingRequest("ID=10.0.0.5:2003;A");
  EXPECT_FALSE(table.IsPendingRequest("ID=10.0.0.5:2003;a"));

  table.RemovePendingRequest("ID=10.0.0.5:2003;A");
  EXPECT_THAT(PendingTexts(), ElementsAre("ID=10.0.0.6:2003;B", "ID=10.0.0.5:2003;A"));
  EXPECT_TRUE(table.IsPendingRequest("ID=10.0.0.5:2003;A"));

  table.RemovePendingRequest("ID=10.0.0.7:2003;C");
  table.RemovePendingRequest("ID=10.0.0.5:2003;A");
  EXPECT_THAT(PendingTexts(), ElementsAre("ID=10.0.0.6:2003;B"));
  EXPECT_FALSE(table.IsPendingRequest("ID=10.0.0.5:2003;A"));
}

TEST_F(PlayerTableTest, RefusingAllPendingAnswersEachRequesterOnANewConnection) {
  Player first("first"), second("second");
  table.AddPendingRequest(first.request);
  table.AddPendingRequest(second.request);

  EXPECT_EQ(table.RefuseAllPending(), 1);
  EXPECT_THAT(table.pending, IsEmpty());
  for (Player* p : {&first, &second}) {
    ASSERT_TRUE(PumpUntil([&] { return !p->Ids(TE_PEER_CLOSED).empty(); })) << p->id;
    EXPECT_THAT(p->Codes(), ElementsAre(TE_PEER_ACCEPTED, TE_PEER_MESSAGE, TE_PEER_CLOSED));
    EXPECT_THAT(p->Lines(), ElementsAre("NAKJ LEAV"));
  }
}

TEST_F(PlayerTableTest, RefusingAllPendingTriesRequestersInArrivalOrderPastUnreachableOnes) {
  // The transport reports each requester it cannot reach to the server, so
  // the server's lines show the order of the attempts.
  testsupport::RawPeer server;
  const unsigned serverPort = server.Listen();
  ASSERT_NE(serverPort, 0u);
  ASSERT_EQ(owner.agent.ASConnectCreate(kLoopback, serverPort), 1);
  ASSERT_TRUE(server.Accept());

  const std::string gone1 = FormatPlayerId(kLoopback, FreePort());
  const std::string gone2 = FormatPlayerId(kLoopback, FreePort());
  Player reachable("reachable");
  table.AddPendingRequest(RequestText(gone1, "gone1"));
  table.AddPendingRequest(reachable.request);
  table.AddPendingRequest(RequestText(gone2, "gone2"));
  table.RefuseAllPending();

  ByteBuffer expected;
  AppendFrame(expected, "CPIN ID=" + gone1 + ";", false);
  AppendFrame(expected, "CPIN ID=" + gone2 + ";", false);
  ASSERT_TRUE(server.WaitForBytes(expected.ReadableBytes()));
  EXPECT_EQ(server.received(), expected.Readable());

  ASSERT_TRUE(PumpUntil([&] { return !reachable.Ids(TE_PEER_CLOSED).empty(); }));
  EXPECT_THAT(reachable.Lines(), ElementsAre("NAKJ LEAV"));
  EXPECT_THAT(table.pending, IsEmpty());
}

// ---- members joining ----------------------------------------------------

TEST_F(PlayerTableTest, FirstMemberIsEnteredWithoutAnyAnnouncement) {
  Player a("a");
  const std::uint32_t connection = Connect(a);
  CPlayerObject* record = table.AddPlayer(connection, a.request);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->playerId, a.id);
  EXPECT_EQ(record->connectionId, connection);
  EXPECT_EQ(record->description, a.request);
  EXPECT_EQ(table.FindPlayer(a.id), record);
  EXPECT_EQ(table.FindPlayerByConnection(connection), record);
  EXPECT_EQ(table.PlayerCount(), 1u);
  EXPECT_THAT(table.failedIds, IsEmpty());
  EXPECT_THAT(Heard(a, connection), IsEmpty());
}

TEST_F(PlayerTableTest, NewMemberIsAnnouncedToEveryoneAndTheyToIt) {
  Player a("a"), b("b"), c("c");
  const std::uint32_t toA = Admit(a);
  const std::uint32_t toB = Admit(b);
  EXPECT_THAT(Heard(a, toA), ElementsAre("ADDP " + b.request));
  EXPECT_THAT(Heard(b, toB), ElementsAre("ADDP " + a.request));

  const std::uint32_t toC = Connect(c);
  ASSERT_NE(table.AddPlayer(toC, c.request), nullptr);
  EXPECT_THAT(table.failedIds, IsEmpty());
  EXPECT_EQ(table.PlayerCount(), 3u);
  EXPECT_THAT(Heard(a, toA), ElementsAre("ADDP " + c.request));
  EXPECT_THAT(Heard(b, toB), ElementsAre("ADDP " + c.request));
  EXPECT_THAT(Heard(c, toC), UnorderedElementsAre("ADDP " + a.request, "ADDP " + b.request));
}

TEST_F(PlayerTableTest, MemberThatCannotBeToldIsRemovedAndItsRemovalAnnounced) {
  Player a("a"), b("b"), c("c");
  const std::uint32_t toA = Admit(a);
  const std::uint32_t toB = Admit(b);
  Heard(b, toB);
  // The connection to A is gone while A is still in the table.
  ASSERT_EQ(owner.agent.AASend(toA, "", 1), 1);

  const std::uint32_t toC = Connect(c);
  ASSERT_NE(table.AddPlayer(toC, c.request), nullptr);
  EXPECT_THAT(table.failedIds, ElementsAre(a.id));
  EXPECT_EQ(table.PlayerCount(), 3u);

  EXPECT_EQ(table.RemoveFailedPlayers(), 1);
  EXPECT_THAT(table.failedIds, IsEmpty());
  EXPECT_EQ(table.FindPlayer(a.id), nullptr);
  EXPECT_EQ(table.PlayerCount(), 2u);
  EXPECT_THAT(Heard(b, toB), ElementsAre("ADDP " + c.request, "REMP " + a.id));
  const std::vector<std::string> toldC = Heard(c, toC);
  ASSERT_EQ(toldC.size(), 3u);
  EXPECT_THAT(std::vector<std::string>(toldC.begin(), toldC.begin() + 2),
              UnorderedElementsAre("ADDP " + a.request, "ADDP " + b.request));
  EXPECT_EQ(toldC.back(), "REMP " + a.id);
}

TEST_F(PlayerTableTest, RequestTextWithoutAPlayerIdIsRefusedBeforeAnythingIsSent) {
  Player a("a"), b("b");
  const std::uint32_t toA = Admit(a);
  const std::uint32_t toB = Connect(b);
  EXPECT_EQ(table.AddPlayer(toB, "ID=127.0.0.1;APP=GAME;"), nullptr);
  EXPECT_EQ(table.AddPlayer(toB, "ID"), nullptr);
  EXPECT_EQ(table.PlayerCount(), 1u);
  EXPECT_THAT(table.failedIds, IsEmpty());
  EXPECT_THAT(Heard(a, toA), IsEmpty());
  EXPECT_THAT(Heard(b, toB), IsEmpty());
}

TEST_F(PlayerTableTest, JoiningAgainReplacesTheMemberAndClosesItsEarlierConnection) {
  Player a("a"), b("b");
  const std::uint32_t firstToA = Admit(a);
  const std::uint32_t toB = Admit(b);
  Heard(a, firstToA);
  Heard(b, toB);
  const std::uint32_t acceptedByA = a.Ids(TE_PEER_ACCEPTED).front();

  const std::uint32_t secondToA = Connect(a);
  ASSERT_NE(table.FindPlayer(a.id), nullptr);  // the first record, found before it is replaced
  CPlayerObject* record = table.AddPlayer(secondToA, a.request);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(table.PlayerCount(), 2u);
  EXPECT_EQ(table.FindPlayer(a.id), record);
  EXPECT_EQ(record->connectionId, secondToA);
  EXPECT_EQ(table.FindPlayerByConnection(firstToA), nullptr);

  ASSERT_TRUE(PumpUntil([&] { return !a.Ids(TE_PEER_CLOSED).empty(); }));
  EXPECT_THAT(a.Ids(TE_PEER_CLOSED), ElementsAre(acceptedByA));
  // A was never announced to itself, and B hears of it once more.
  EXPECT_THAT(Heard(a, secondToA), ElementsAre("ADDP " + b.request));
  EXPECT_THAT(Heard(b, toB), ElementsAre("ADDP " + a.request));
}

TEST_F(PlayerTableTest, JoiningAgainOnTheSameConnectionKeepsItOpen) {
  Player a("a");
  const std::uint32_t toA = Admit(a);
  ASSERT_NE(table.AddPlayer(toA, a.request), nullptr);
  EXPECT_EQ(table.PlayerCount(), 1u);
  EXPECT_THAT(Heard(a, toA), IsEmpty());
  EXPECT_THAT(a.Ids(TE_PEER_CLOSED), IsEmpty());
}

// ---- members leaving ----------------------------------------------------

TEST_F(PlayerTableTest, RemovingTheOnlyMemberSendsNothingAndLeavesItsConnectionOpen) {
  Player a("a");
  const std::uint32_t toA = Admit(a);
  ASSERT_NE(table.FindPlayer(a.id), nullptr);
  EXPECT_TRUE(table.RemovePlayer(a.id));
  EXPECT_EQ(table.FindPlayer(a.id), nullptr) << "found just before, gone after";
  EXPECT_EQ(table.PlayerCount(), 0u);
  EXPECT_FALSE(table.RemovePlayer(a.id));
  EXPECT_THAT(Heard(a, toA), IsEmpty());  // the marker still gets through
}

TEST_F(PlayerTableTest, MembersFoundInTurnStayFoundUntilTheyLeave) {
  Player a("a"), b("b"), c("c");
  Admit(a);
  Admit(b);
  Admit(c);
  CPlayerObject* recordA = table.FindPlayer(a.id);
  CPlayerObject* recordB = table.FindPlayer(b.id);
  ASSERT_NE(recordA, nullptr);
  ASSERT_NE(recordB, nullptr);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(table.FindPlayer(a.id), recordA);
    EXPECT_EQ(table.FindPlayer(b.id), recordB);
  }
  ASSERT_TRUE(table.RemovePlayer(a.id));
  EXPECT_EQ(table.FindPlayer(a.id), nullptr);
  EXPECT_EQ(table.FindPlayer(b.id), recordB);
  EXPECT_NE(table.FindPlayer(c.id), nullptr);
  table.LeaveAll();
  EXPECT_EQ(table.FindPlayer(b.id), nullptr);
  EXPECT_EQ(table.FindPlayer(c.id), nullptr);
}

TEST_F(PlayerTableTest, LeavingClosesEveryMemberConnectionSilentlyAndRefusesThePending) {
  Player a("a"), b("b"), requester("requester");
  const std::uint32_t toA = Admit(a);
  const std::uint32_t toB = Admit(b);
  Heard(a, toA);
  Heard(b, toB);
  table.AddPendingRequest(requester.request);

  ASSERT_NE(table.FindPlayer(b.id), nullptr);
  EXPECT_EQ(table.LeaveAll(), 1);
  EXPECT_EQ(table.FindPlayer(b.id), nullptr);
  EXPECT_EQ(table.PlayerCount(), 0u);
  EXPECT_THAT(table.pending, IsEmpty());
  for (Player* p : {&a, &b}) {
    ASSERT_TRUE(PumpUntil([&] { return !p->Ids(TE_PEER_CLOSED).empty(); })) << p->id;
    EXPECT_EQ(p->Lines().size(), p->heard) << p->id;  // nothing after the last marker
    EXPECT_EQ(p->Codes().back(), TE_PEER_CLOSED);
  }
  ASSERT_TRUE(PumpUntil([&] { return !requester.Ids(TE_PEER_CLOSED).empty(); }));
  EXPECT_THAT(requester.Codes(), ElementsAre(TE_PEER_ACCEPTED, TE_PEER_MESSAGE, TE_PEER_CLOSED));
  EXPECT_THAT(requester.Lines(), ElementsAre("NAKJ LEAV"));
}

}  // namespace
}  // namespace zep
