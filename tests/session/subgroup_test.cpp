// Subgroups between agents: several sessions of the one library in this
// process, each an agent with its own listener and notification window, all
// on the one platform loop and talking over loopback. Where the exact bytes
// on the wire matter, a scripted raw peer stands in for an agent or for the
// lobby server.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "../support/listening_ports.hpp"
#include "session_client.hpp"

namespace {

using namespace testsupport;

const std::string kSignature = "mR&2s7qV";
const char kSeparator = '\x18';


// One frame as an agent writes it (close marker 0), or as the server does.
std::string Frame(const std::string& text, bool marker = true) {
  std::string f = kSignature;
  if (marker) f.push_back('\0');
  if (text.size() <= 254) {
    f.push_back(static_cast<char>(text.size()));
  } else {
    f.push_back('\xff');
    f.push_back(static_cast<char>(text.size() & 0xff));
    f.push_back(static_cast<char>(text.size() >> 8));
  }
  return f + text;
}

// The texts of the whole frames in `bytes` (lengths under 65534 only).
std::vector<std::string> Texts(const std::string& bytes, bool marker = true) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  for (;;) {
    std::size_t p = pos + kSignature.size() + (marker ? 1 : 0);
    if (p >= bytes.size()) break;
    std::size_t n = static_cast<unsigned char>(bytes[p++]);
    if (n == 0xff) {
      if (p + 2 > bytes.size()) break;
      n = static_cast<unsigned char>(bytes[p]) | static_cast<unsigned char>(bytes[p + 1]) << 8;
      p += 2;
    }
    if (p + n > bytes.size()) break;
    out.push_back(bytes.substr(p, n));
    pos = p + n;
  }
  return out;
}

// An agent of its own: a session, the messages it has been given so far, and
// the ids and texts other agents know it by.
class Player : public SessionClient {
 public:
  Player(const TempDir& dir, const std::string& name) : name_(name) {
    const std::set<unsigned> before = OwnListeningPorts();
    EXPECT_EQ(Open(dir.File("SERVERS.INI"), ("VERSION=1;REAL=" + name + ";").c_str()), ZEP_RET_OK);
    for (unsigned p : OwnListeningPorts())
      if (!before.count(p)) port = p;
    EXPECT_NE(port, 0u);
  }

  std::string Id() const { return "127.0.0.1:" + std::to_string(port); }
  // What the server's USER line would offer the client to join this player.
  std::string PlayerText() const { return "ID=" + Id() + ";OWN=1.1.1.1;"; }
  // What this player's JOIN line carries from its sixth character on.
  std::string RequestText() const {
    return "ID=" + Id() + ";APP=QORCORVA;" + kSeparator + "VERSION=1;REAL=" + name_ + ";";
  }

  // Pumps until a message of `type` has arrived; returns it and keeps every
  // message in the inbox.
  Message WaitFor(int type) {
    const auto has = [&] {
      for (auto& m : Drain()) inbox.push_back(m);
      return std::any_of(inbox.begin(), inbox.end(), [&](const Message& m) { return m.type == type; });
    };
    EXPECT_TRUE(PumpUntil(has)) << name_ << " waited in vain for " << type;
    for (auto it = inbox.begin(); it != inbox.end(); ++it)
      if (it->type == type) {
        Message m = *it;
        inbox.erase(it);
        return m;
      }
    return {};
  }
  // Everything still unread, after the loop has run a while.
  std::vector<Message> Rest() {
    PumpAWhile();
    for (auto& m : Drain()) inbox.push_back(m);
    return std::exchange(inbox, {});
  }
  int StatusOf(const std::string& id) {
    int s = 0;
    EXPECT_EQ(ZEPGetPlayerSubGroupStatus(handle, id.c_str(), &s), ZEP_RET_OK);
    return s;
  }

  unsigned port = 0;
  std::vector<Message> inbox;

 private:
  std::string name_;
};

class SubgroupTest : public ::testing::Test {
 protected:
  // `joiner` asks `target`; returns the request as the target's client got it.
  Message Request(Player& joiner, Player& target) {
    EXPECT_EQ(ZEPJoinSubGroup(joiner.handle, target.PlayerText().c_str()), ZEP_RET_OK);
    Message m = target.WaitFor(ZEP_MT_USERMSG);
    // Let the joiner see its request connection closed before anything else
    // arrives, so that tests read the messages in a fixed order.
    PumpAWhile();
    return m;
  }
  // The whole road to membership; returns the owner's id as the member knows it.
  std::string Join(Player& joiner, Player& owner) {
    Message request = Request(joiner, owner);
    EXPECT_EQ(ZEPAcceptSubGroupJoinRequest(owner.handle, request.text.c_str(), 1, ""), ZEP_RET_OK);
    Message answer = joiner.WaitFor(ZEP_MT_JOINRESPONSE);
    EXPECT_EQ(answer.text, "AKNJ");
    EXPECT_EQ(answer.moreInfo, "");
    return answer.playerId;
  }

  TempDir dir;
};

// ------------------------------------------------------ incoming requests

TEST_F(SubgroupTest, ARequestIsOfferedToTheClientAsJoinWithItsRequestText) {
  Player owner(dir, "Owen"), joiner(dir, "Jo");
  EXPECT_EQ(Request(joiner, owner), (Message{joiner.Id(), ZEP_MT_USERMSG, joiner.RequestText(), "JOIN"}));
  EXPECT_EQ(joiner.SubGroupStatus(), ZEP_SG_JOINING);
  EXPECT_EQ(ZEPJoinSubGroup(joiner.handle, owner.PlayerText().c_str()), ZEP_RET_ALREADYWAIT);
}

TEST_F(SubgroupTest, ARequestWhileRefusingAtOnceIsAnsweredWithTheReasonAndNotQueued) {
  Player target(dir, "Tia"), joiner(dir, "Jo");
  ASSERT_EQ(ZEPSetResponseStatus(target.handle, 0, 0, "GAME"), ZEP_RET_OK);
  ASSERT_EQ(ZEPJoinSubGroup(joiner.handle, target.PlayerText().c_str()), ZEP_RET_OK);
  EXPECT_EQ(joiner.WaitFor(ZEP_MT_JOINRESPONSE), (Message{target.Id(), ZEP_MT_JOINRESPONSE, "NAKJ", "GAME"}));
  EXPECT_EQ(joiner.SubGroupStatus(), ZEP_SG_NOSG);
  EXPECT_TRUE(target.Rest().empty());

  RawPeer raw;  // the exact answer, and the connection closed after it
  ASSERT_TRUE(raw.Connect(target.port));
  raw.Send(Frame("JOIN " + joiner.RequestText()));
  ASSERT_TRUE(raw.WaitForClose());
  EXPECT_EQ(raw.received(), Frame("NAKJ GAME"));
}

TEST_F(SubgroupTest, ARequestToAJoiningAgentIsAnsweredWaitWithTwoBlanks) {
  Player owner(dir, "Owen"), busy(dir, "Bea"), joiner(dir, "Jo");
  Request(busy, owner);
  ASSERT_EQ(ZEPJoinSubGroup(joiner.handle, busy.PlayerText().c_str()), ZEP_RET_OK);
  EXPECT_EQ(joiner.WaitFor(ZEP_MT_JOINRESPONSE), (Message{busy.Id(), ZEP_MT_JOINRESPONSE, "NAKJ", " WAIT"}));

  RawPeer raw;
  ASSERT_TRUE(raw.Connect(busy.port));
  raw.Send(Frame("JOIN ID=127.0.0.1:9;APP=X;"));
  ASSERT_TRUE(raw.WaitForClose());
  EXPECT_EQ(raw.received(), Frame("NAKJ  WAIT"));
}

TEST_F(SubgroupTest, ARequestToAMemberIsAnsweredWithThePlayerTextItJoinedWith) {
  Player owner(dir, "Owen"), member(dir, "Mia"), joiner(dir, "Jo");
  Join(member, owner);
  ASSERT_EQ(ZEPJoinSubGroup(joiner.handle, member.PlayerText().c_str()), ZEP_RET_OK);
  EXPECT_EQ(joiner.WaitFor(ZEP_MT_JOINRESPONSE).moreInfo, "NOWN " + owner.PlayerText());
}

TEST_F(SubgroupTest, AWithdrawnRequestIsReportedAsTermAndCanNoLongerBeAccepted) {
  Player owner(dir, "Owen"), joiner(dir, "Jo");
  const Message join = Request(joiner, owner);
  ASSERT_EQ(ZEPAbortSubGroupJoinRequest(joiner.handle), ZEP_RET_OK);
  EXPECT_EQ(joiner.SubGroupStatus(), ZEP_SG_NOSG);
  EXPECT_EQ(owner.WaitFor(ZEP_MT_USERMSG), (Message{joiner.Id(), ZEP_MT_USERMSG, join.text, "TERM"}));
  EXPECT_EQ(ZEPAcceptSubGroupJoinRequest(owner.handle, join.text.c_str(), 1, ""), ZEP_RET_NOREQUESTACTIVE);
  EXPECT_EQ(ZEPAbortSubGroupJoinRequest(joiner.handle), ZEP_RET_NOREQUESTACTIVE);
}

TEST_F(SubgroupTest, LinesThatNameNoPendingRequestOrNoPlayerGetNoReply) {
  Player owner(dir, "Owen");
  RawPeer term;
  ASSERT_TRUE(term.Connect(owner.port));
  term.Send(Frame("TERM ID=127.0.0.1:9;APP=X;"));
  RawPeer nameless;
  ASSERT_TRUE(nameless.Connect(owner.port));
  nameless.Send(Frame("JOIN ID=nowhere;APP=X;"));
  ASSERT_TRUE(nameless.WaitForClose()) << "a JOIN naming no one is dropped";
  EXPECT_EQ(nameless.received(), "");
  EXPECT_TRUE(owner.Rest().empty());
  EXPECT_TRUE(term.Poll()) << "a TERM matching nothing leaves its connection alone";
  EXPECT_EQ(term.received(), "");
}

TEST_F(SubgroupTest, AcceptingFindsTheRequestByItsExactText) {
  Player owner(dir, "Owen"), joiner(dir, "Jo");
  std::string text = Request(joiner, owner).text;
  std::string other = text;
  other.back() = '?';
  EXPECT_EQ(ZEPAcceptSubGroupJoinRequest(owner.handle, other.c_str(), 1, ""), ZEP_RET_NOREQUESTACTIVE);
  EXPECT_EQ(ZEPAcceptSubGroupJoinRequest(owner.handle, nullptr, 1, ""), ZEP_RET_INVALIDSTRING);
  EXPECT_EQ(ZEPAcceptSubGroupJoinRequest(owner.handle, text.c_str(), 0, nullptr), ZEP_RET_OK);
  const Message refusal = joiner.WaitFor(ZEP_MT_JOINRESPONSE);
  EXPECT_EQ(refusal.text, "NAKJ");
  EXPECT_EQ(refusal.moreInfo, "") << "a refusal without a reason carries an empty one";
  EXPECT_EQ(joiner.SubGroupStatus(), ZEP_SG_NOSG);
}

TEST_F(SubgroupTest, JoiningWithATextNamingNoPlayerFailsAfterRefusingPendingRequests) {
  Player target(dir, "Tia"), joiner(dir, "Jo");
  const std::string pending = Request(joiner, target).text;
  EXPECT_EQ(ZEPJoinSubGroup(target.handle, "ID=somewhere;no port"), ZEP_RET_INVALIDPLAYERID);
  EXPECT_EQ(ZEPJoinSubGroup(target.handle, nullptr), ZEP_RET_INVALIDSTRING);
  EXPECT_EQ(target.SubGroupStatus(), ZEP_SG_NOSG);
  const Message refusal = joiner.WaitFor(ZEP_MT_JOINRESPONSE);
  EXPECT_EQ(refusal.text, "NAKJ");
  EXPECT_EQ(refusal.moreInfo, "LEAV");
  EXPECT_EQ(ZEPAcceptSubGroupJoinRequest(target.handle, pending.c_str(), 1, ""), ZEP_RET_NOREQUESTACTIVE);
}

TEST_F(SubgroupTest, AcceptingARequesterThatHasGoneReportsItAndForgetsTheRequest) {
  Player owner(dir, "Owen");
  auto joiner = std::make_unique<Player>(dir, "Jo");
  const std::string text = Request(*joiner, owner).text;
  joiner.reset();  // its listener goes with the session
  EXPECT_EQ(ZEPAcceptSubGroupJoinRequest(owner.handle, text.c_str(), 1, ""), ZEP_RET_PLAYERLEAVE);
  EXPECT_EQ(ZEPAcceptSubGroupJoinRequest(owner.handle, text.c_str(), 1, ""), ZEP_RET_NOREQUESTACTIVE);
  EXPECT_EQ(owner.SubGroupStatus(), ZEP_SG_NOSG);
}

TEST_F(SubgroupTest, ARequestThatCannotBeDeliveredIsQueuedAsJoinFail) {
  Player joiner(dir, "Jo");
  unsigned freePort;
  {
    Player gone(dir, "Gus");
    freePort = gone.port;
  }
  const std::string target = "127.0.0.1:" + std::to_string(freePort);
  EXPECT_EQ(ZEPJoinSubGroup(joiner.handle, ("ID=" + target + ";").c_str()), ZEP_RET_OK);
  EXPECT_EQ(joiner.Rest(), (std::vector<Message>{{target, ZEP_MT_NODELIVERY, "  ", "JOINFAIL"}}));
  EXPECT_EQ(joiner.SubGroupStatus(), ZEP_SG_NOSG);
}

TEST_F(SubgroupTest, UserLinesToAnAgentInNoSubgroupCloseTheirConnection) {
  Player loner(dir, "Lon");
  RawPeer raw;
  ASSERT_TRUE(raw.Connect(loner.port));
  raw.Send(Frame("PLRS 127.0.0.1:9 hello"));
  EXPECT_TRUE(raw.WaitForClose());
  EXPECT_TRUE(loner.Rest().empty());
}

// ---------------------------------------------------- a subgroup of three

class ThreeTest : public SubgroupTest {
 protected:
  void SetUp() override {
    ownerAtA = Join(a, owner);
    ownerAtB = Join(b, owner);
    aHeard = a.WaitFor(ZEP_MT_ADDPLAYER);
    bHeard = b.WaitFor(ZEP_MT_ADDPLAYER);
  }
  Player owner{dir, "Owen"}, a{dir, "Ada"}, b{dir, "Bob"};
  std::string ownerAtA, ownerAtB;  // the owner's id as each member knows it
  Message aHeard, bHeard;          // what each member was told of the other
};

TEST_F(ThreeTest, EveryMemberIsToldOfTheOtherWithItsRequestText) {
  EXPECT_EQ(aHeard, (Message{b.Id(), ZEP_MT_ADDPLAYER, "ADDP", b.RequestText()}));
  EXPECT_EQ(bHeard, (Message{a.Id(), ZEP_MT_ADDPLAYER, "ADDP", a.RequestText()}));
  EXPECT_EQ(owner.SubGroupStatus(), ZEP_SG_OWNER);
  EXPECT_EQ(a.SubGroupStatus(), ZEP_SG_MEMBER);
  EXPECT_EQ(a.StatusOf(b.Id()), ZEP_SG_MEMBER);
  EXPECT_EQ(a.StatusOf(ownerAtA), ZEP_SG_OWNER);
  EXPECT_EQ(owner.StatusOf(a.Id()), ZEP_SG_MEMBER);
  EXPECT_EQ(owner.StatusOf("127.0.0.1:9"), ZEP_SG_NOSG);
  int status;
  EXPECT_EQ(ZEPGetPlayerSubGroupStatus(a.handle, nullptr, &status), ZEP_RET_INVALIDSTRING);
  EXPECT_EQ(ZEPGetPlayerSubGroupStatus(a.handle, b.Id().c_str(), nullptr), ZEP_RET_INVALIDPOINTER);
  EXPECT_EQ(ZEPJoinSubGroup(owner.handle, a.PlayerText().c_str()), ZEP_RET_ALREADYOWNER);
  EXPECT_EQ(ZEPJoinSubGroup(a.handle, b.PlayerText().c_str()), ZEP_RET_ALREADYPLAYER);
  EXPECT_EQ(ZEPAcceptSubGroupJoinRequest(a.handle, b.RequestText().c_str(), 1, ""), ZEP_RET_PLAYERACTIVE);
}

TEST_F(ThreeTest, AMessageToAnotherMemberTravelsThroughTheOwnerSignedByItsSender) {
  ASSERT_EQ(ZEPSendMsgToUser(a.handle, b.Id().c_str(), "   leading  and inner "), ZEP_RET_OK);
  EXPECT_EQ(b.WaitFor(ZEP_MT_USERMSG), (Message{a.Id(), ZEP_MT_USERMSG, "leading  and inner ", "  "}));
  // A message too long for a short frame goes the same way, cut to what a
  // queued message holds.
  ASSERT_EQ(ZEPSendMsgToUser(a.handle, b.Id().c_str(), std::string(600, 'x').c_str()), ZEP_RET_OK);
  EXPECT_EQ(b.WaitFor(ZEP_MT_USERMSG), (Message{a.Id(), ZEP_MT_USERMSG, std::string(499, 'x'), "  "}));
  EXPECT_TRUE(owner.Rest().empty());
}

TEST_F(ThreeTest, MessagesBetweenOwnerAndMemberAreSignedWithTheIdTheOtherKnows) {
  ASSERT_EQ(ZEPSendMsgToUser(a.handle, ownerAtA.c_str(), "to you"), ZEP_RET_OK);
  EXPECT_EQ(owner.WaitFor(ZEP_MT_USERMSG), (Message{a.Id(), ZEP_MT_USERMSG, "to you", "  "}));
  ASSERT_EQ(ZEPSendMsgToUser(owner.handle, b.Id().c_str(), "and to you"), ZEP_RET_OK);
  EXPECT_EQ(b.WaitFor(ZEP_MT_USERMSG), (Message{ownerAtB, ZEP_MT_USERMSG, "and to you", "  "}));
}

TEST_F(ThreeTest, AStrangerHangingUpOnAMemberDoesNotEndItsMembership) {
  {
    RawPeer stranger;
    ASSERT_TRUE(stranger.Connect(a.port));
    PumpAWhile();
  }  // closes
  PumpAWhile();
  EXPECT_EQ(a.SubGroupStatus(), ZEP_SG_MEMBER);
  EXPECT_TRUE(a.Rest().empty()) << "no LOSTOWNER for a connection that is not the owner's";
  ASSERT_EQ(ZEPSendMsgToUser(owner.handle, a.Id().c_str(), "still here"), ZEP_RET_OK);
  EXPECT_EQ(a.WaitFor(ZEP_MT_USERMSG), (Message{ownerAtA, ZEP_MT_USERMSG, "still here", "  "}));
}

TEST_F(ThreeTest, AMessageToAnUnknownIdIsRefusedAndNothingIsSent) {
  EXPECT_EQ(ZEPSendMsgToUser(a.handle, "127.0.0.1:9", "hello"), ZEP_RET_INVALIDPLAYERID);
  EXPECT_EQ(ZEPSendMsgToUser(owner.handle, ownerAtA.c_str(), "hello"), ZEP_RET_INVALIDPLAYERID);
  EXPECT_EQ(ZEPSendMsgToUser(a.handle, nullptr, "hello"), ZEP_RET_INVALIDSTRING);
  EXPECT_TRUE(owner.Rest().empty());
  EXPECT_TRUE(b.Rest().empty());
}

TEST_F(ThreeTest, AMemberLeavingIsAnnouncedToTheOwnerAndTheOthers) {
  ASSERT_EQ(ZEPLeaveSubGroup(a.handle), ZEP_RET_OK);
  EXPECT_EQ(a.Rest(), (std::vector<Message>{{ownerAtA, ZEP_MT_LOSTOWNER, "  ", "  "}}));
  EXPECT_EQ(a.SubGroupStatus(), ZEP_SG_NOSG);
  EXPECT_EQ(owner.WaitFor(ZEP_MT_REMPLAYER), (Message{a.Id(), ZEP_MT_REMPLAYER, "  ", "  "}));
  EXPECT_EQ(b.WaitFor(ZEP_MT_REMPLAYER), (Message{a.Id(), ZEP_MT_REMPLAYER, "REMP", a.Id()}));
  EXPECT_EQ(b.StatusOf(a.Id()), ZEP_SG_NOSG);
  EXPECT_EQ(owner.SubGroupStatus(), ZEP_SG_OWNER);
  EXPECT_EQ(ZEPLeaveSubGroup(a.handle), ZEP_RET_NOTINSUBGROUP);
}

TEST_F(ThreeTest, AnOwnerLeavingClosesEveryMembersConnection) {
  ASSERT_EQ(ZEPLeaveSubGroup(owner.handle), ZEP_RET_OK);
  EXPECT_EQ(owner.Rest(), (std::vector<Message>{{"   ", ZEP_MT_LOSTOWNER, "  ", "  "}}));
  EXPECT_EQ(owner.SubGroupStatus(), ZEP_SG_NOSG);
  EXPECT_EQ(a.WaitFor(ZEP_MT_LOSTOWNER), (Message{ownerAtA, ZEP_MT_LOSTOWNER, "  ", "  "}));
  EXPECT_EQ(b.WaitFor(ZEP_MT_LOSTOWNER), (Message{ownerAtB, ZEP_MT_LOSTOWNER, "  ", "  "}));
  EXPECT_EQ(a.SubGroupStatus(), ZEP_SG_NOSG);
  EXPECT_EQ(b.SubGroupStatus(), ZEP_SG_NOSG);
}

TEST_F(ThreeTest, AMemberThatVanishesIsRemovedAndTheLastOneTakesTheOwnershipWithIt) {
  ZEPLeaveSession(b.handle);
  b.handle = -1;
  EXPECT_EQ(owner.WaitFor(ZEP_MT_REMPLAYER), (Message{b.Id(), ZEP_MT_REMPLAYER, "  ", "  "}));
  EXPECT_EQ(a.WaitFor(ZEP_MT_REMPLAYER).playerId, b.Id());
  ASSERT_EQ(ZEPLeaveSubGroup(a.handle), ZEP_RET_OK);
  owner.WaitFor(ZEP_MT_REMPLAYER);
  EXPECT_EQ(owner.SubGroupStatus(), ZEP_SG_NOSG);
}

// --------------------------------------- a scripted member and the server

TEST_F(SubgroupTest, AMessageTheOwnerCannotRelayComesBackAsMsgFail) {
  Player owner(dir, "Owen"), a(dir, "Ada");
  Join(a, owner);
  // A scripted member: it asks from one socket and is answered on another.
  RawPeer ask, member;
  const unsigned memberPort = member.Listen();
  const std::string memberId = "127.0.0.1:" + std::to_string(memberPort);
  const std::string request = "ID=" + memberId + ";APP=QORCORVA;" + kSeparator + "raw";
  ASSERT_TRUE(ask.Connect(owner.port));
  ask.Send(Frame("JOIN " + request));
  ASSERT_EQ(owner.WaitFor(ZEP_MT_USERMSG).text, request);
  ASSERT_EQ(ZEPAcceptSubGroupJoinRequest(owner.handle, request.c_str(), 1, "x"), ZEP_RET_OK);
  ASSERT_TRUE(member.Accept());
  const std::string welcome = Frame("AKNJ") + Frame("ADDP " + a.RequestText());
  ASSERT_TRUE(member.WaitForBytes(welcome.size()));
  EXPECT_EQ(member.received(), welcome);
  EXPECT_EQ(a.WaitFor(ZEP_MT_ADDPLAYER).playerId, memberId);

  // To an id the owner does not know: the rest of the line comes back.
  member.received().clear();
  member.Send(Frame("PLRS 127.0.0.1:9  hi there"));
  ASSERT_TRUE(member.WaitForBytes(Frame("DLVF 127.0.0.1:9  hi there").size()));
  EXPECT_EQ(member.received(), Frame("DLVF 127.0.0.1:9  hi there"));

  // The scripted member resets its connection; whether the owner notices
  // the reset or the failed relay first, the sender hears of it.
  linger hard{1, 0};
  setsockopt(member.fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  member.Close();
  ASSERT_EQ(ZEPSendMsgToUser(a.handle, memberId.c_str(), "lost?"), ZEP_RET_OK);
  EXPECT_EQ(a.WaitFor(ZEP_MT_NODELIVERY), (Message{memberId, ZEP_MT_NODELIVERY, "lost?", "MSGFAIL"}));
  EXPECT_EQ(owner.StatusOf(memberId), ZEP_SG_NOSG);
  EXPECT_EQ(a.SubGroupStatus(), ZEP_SG_MEMBER);
}

TEST_F(SubgroupTest, BothSidesTellTheirServerOfTheGameWhenTheSubgroupForms) {
  Player owner(dir, "Owen"), joiner(dir, "Jo");
  RawPeer ownerServer, joinerServer;
  ASSERT_EQ(ZEPJoinServer(owner.handle, "127.0.0.1", static_cast<int>(ownerServer.Listen())), ZEP_RET_OK);
  ASSERT_TRUE(ownerServer.Accept());
  ASSERT_EQ(ZEPJoinServer(joiner.handle, "127.0.0.1", static_cast<int>(joinerServer.Listen())), ZEP_RET_OK);
  ASSERT_TRUE(joinerServer.Accept());
  PumpAWhile();
  ownerServer.Poll();
  joinerServer.Poll();
  ownerServer.received().clear();
  joinerServer.received().clear();

  Join(joiner, owner);
  ASSERT_TRUE(ownerServer.WaitForBytes(Frame("GAME", false).size()));
  ASSERT_TRUE(joinerServer.WaitForBytes(Frame("GAME", false).size()));
  EXPECT_EQ(Texts(ownerServer.received(), false), (std::vector<std::string>{"GAME"}));
  EXPECT_EQ(Texts(joinerServer.received(), false), (std::vector<std::string>{"GAME"}));
}

}  // namespace
