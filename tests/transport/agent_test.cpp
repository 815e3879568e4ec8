// The transport object CAgent over real loopback connections: frames in and
// out, connection ids, keep-alive answers, lost connections, and peers that
// misbehave.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../support/frames.hpp"
#include "../support/raw_peer.hpp"
#include "../support/recording_agent.hpp"
#include "msg.hpp"
#include "runtime_class.hpp"
#include "zep/agent.hpp"

namespace {

using testsupport::PumpAWhile;
using testsupport::PumpUntil;
using testsupport::RawPeer;

using testsupport::Event;
using testsupport::RecordingAgent;

std::string Frame(const std::string& text, bool withMarker, int marker = 0) {
  return testsupport::EncodeFrame(text, withMarker, marker);
}

const std::string kSignature = "mR&2s7qV";

std::vector<std::string> Frames(const std::string& bytes, bool withMarker) {
  return testsupport::DecodeFrames(bytes, withMarker);
}

class AgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat_set_io_timeout_ms(5000);
    port = owner.agent.AAListnerCreate(0);
    ASSERT_NE(port, 0u);
  }
  void TearDown() override { plat_set_io_timeout_ms(5000); }

  // A raw peer connected to the owner's listener, accepted on the owner's side.
  std::unique_ptr<RawPeer> ConnectRaw() {
    auto peer = std::make_unique<RawPeer>();
    EXPECT_TRUE(peer->Connect(port));
    size_t before = owner.Of(TE_PEER_ACCEPTED).size();
    EXPECT_TRUE(PumpUntil([&] { return owner.Of(TE_PEER_ACCEPTED).size() > before; }));
    return peer;
  }
  std::uint32_t LastAcceptedId() { return owner.Of(TE_PEER_ACCEPTED).back().id; }

  RecordingAgent owner;
  unsigned port = 0;
};

TEST_F(AgentTest, AnAcceptedConnectionIsReportedWithABlankText) {
  auto peer = ConnectRaw();
  EXPECT_EQ(owner.events.front(), (Event{TE_PEER_ACCEPTED, 0, " "}));
}

TEST_F(AgentTest, ALineSentByOneAgentArrivesAtTheOtherAsOneMessage) {
  RecordingAgent joiner;
  std::uint32_t id = 99;
  ASSERT_EQ(joiner.agent.AAConnectCreate(&id, "127.0.0.1", port), 1);
  EXPECT_EQ(id, 0u);
  EXPECT_TRUE(joiner.events.empty()) << "an outgoing connection raises no event";
  ASSERT_EQ(joiner.agent.AASend(id, "JOIN ID=127.0.0.1:2001;APP=X;", 0), 1);
  ASSERT_EQ(joiner.agent.AASend(id, "", 0), 1);
  ASSERT_TRUE(PumpUntil([&] { return owner.Of(TE_PEER_MESSAGE).size() == 2; }));
  EXPECT_EQ(owner.Of(TE_PEER_MESSAGE)[0].text, "JOIN ID=127.0.0.1:2001;APP=X;");
  EXPECT_EQ(owner.Of(TE_PEER_MESSAGE)[1].text, "") << "an empty line is a line";
}

TEST_F(AgentTest, FramesOnTheWireCarryTheCloseMarkerBetweenAgentsOnly) {
  RawPeer server;
  unsigned serverPort = server.Listen();
  ASSERT_EQ(owner.agent.ASConnectCreate("127.0.0.1", serverPort), 1);
  ASSERT_TRUE(server.Accept());
  owner.agent.ASSend("CINI VER=0;", 0);
  ASSERT_TRUE(server.WaitForBytes(8 + 1 + 11));
  EXPECT_EQ(server.received(), kSignature + std::string("\x0b", 1) + "CINI VER=0;");

  RawPeer other;
  unsigned otherPort = other.Listen();
  std::uint32_t id;
  ASSERT_EQ(owner.agent.AAConnectCreate(&id, "127.0.0.1", otherPort), 1);
  ASSERT_TRUE(other.Accept());
  owner.agent.AASend(id, "AKNJ", 0);
  ASSERT_TRUE(other.WaitForBytes(8 + 1 + 1 + 4));
  EXPECT_EQ(other.received(), kSignature + std::string("\x00\x04", 2) + "AKNJ");
}

TEST_F(AgentTest, TwoFramesInOneSegmentAreDeliveredInOrderFromOneNotification) {
  auto peer = ConnectRaw();
  ASSERT_TRUE(peer->Send(Frame("first", true) + Frame("second", true)));
  ASSERT_TRUE(PumpUntil([&] { return owner.Of(TE_PEER_MESSAGE).size() == 2; }));
  EXPECT_EQ(owner.Of(TE_PEER_MESSAGE)[0].text, "first");
  EXPECT_EQ(owner.Of(TE_PEER_MESSAGE)[1].text, "second");
}

TEST_F(AgentTest, AFrameSentOneByteAtATimeIsDeliveredOnceAndWhole) {
  auto peer = ConnectRaw();
  std::string text(300, 'q');  // long enough for the 16-bit length form
  std::string bytes = Frame(text, true);
  for (char c : bytes) {
    ASSERT_TRUE(peer->Send(std::string(1, c)));
    PumpAWhile(1);
  }
  ASSERT_TRUE(PumpUntil([&] { return !owner.Of(TE_PEER_MESSAGE).empty(); }));
  PumpAWhile();
  ASSERT_EQ(owner.Of(TE_PEER_MESSAGE).size(), 1u);
  EXPECT_EQ(owner.Of(TE_PEER_MESSAGE)[0].text, text);
}

TEST_F(AgentTest, WhenTheCallbackSaysStopTheNextFrameWaitsForTheNextNotification) {
  auto peer = ConnectRaw();
  owner.onEvent = [](const Event& e) { return e.text == "stop here" ? 0 : 1; };
  ASSERT_TRUE(peer->Send(Frame("stop here", true) + Frame("later", true)));
  ASSERT_TRUE(PumpUntil([&] { return !owner.Of(TE_PEER_MESSAGE).empty(); }));
  PumpAWhile();
  ASSERT_EQ(owner.Of(TE_PEER_MESSAGE).size(), 1u) << "the second frame stays buffered";
  ASSERT_TRUE(peer->Send(Frame("new", true)));
  ASSERT_TRUE(PumpUntil([&] { return owner.Of(TE_PEER_MESSAGE).size() == 3; }));
  EXPECT_EQ(owner.Of(TE_PEER_MESSAGE)[1].text, "later");
  EXPECT_EQ(owner.Of(TE_PEER_MESSAGE)[2].text, "new");
}

TEST_F(AgentTest, ABadFirstByteClosesTheConnectionAfterThatByte) {
  auto peer = ConnectRaw();
  std::uint32_t id = LastAcceptedId();
  ASSERT_TRUE(peer->Send("X"));  // nothing more follows: the one byte is enough
  ASSERT_TRUE(PumpUntil([&] { return !owner.Of(TE_PEER_CLOSED).empty(); }));
  EXPECT_EQ(owner.Of(TE_PEER_CLOSED)[0], (Event{TE_PEER_CLOSED, id, " "}));
  EXPECT_TRUE(owner.Of(TE_PEER_MESSAGE).empty());
  EXPECT_TRUE(peer->WaitForClose());
}

TEST_F(AgentTest, AFrameWithCloseMarker01IsNotDeliveredAndClosesTheConnection) {
  auto peer = ConnectRaw();
  ASSERT_TRUE(peer->Send(Frame("goodbye", true, 1)));
  ASSERT_TRUE(PumpUntil([&] { return !owner.Of(TE_PEER_CLOSED).empty(); }));
  EXPECT_TRUE(owner.Of(TE_PEER_MESSAGE).empty());
  EXPECT_TRUE(peer->WaitForClose());
}

TEST_F(AgentTest, ASixteenBitCharacterFrameArrivesAsEightBitText) {
  auto peer = ConnectRaw();
  // FF FE FF marks 16-bit units; 3 units: 'O', 'K', and U+263A (not Latin-1).
  std::string bytes = kSignature + std::string("\x00\xFF\xFE\xFF\x03", 5) +
                      std::string("O\x00K\x00\x3A\x26", 6);
  ASSERT_TRUE(peer->Send(bytes));
  ASSERT_TRUE(PumpUntil([&] { return !owner.Of(TE_PEER_MESSAGE).empty(); }));
  EXPECT_EQ(owner.Of(TE_PEER_MESSAGE)[0].text, "OK?");
}

TEST_F(AgentTest, HalfAFrameThenSilenceDoesNotStopOtherConnections) {
  auto stalled = ConnectRaw();
  std::string frame = Frame("never finished", true);
  ASSERT_TRUE(stalled->Send(frame.substr(0, frame.size() - 3)));
  PumpAWhile();
  auto lively = ConnectRaw();
  ASSERT_TRUE(lively->Send(Frame("still served", true)));
  ASSERT_TRUE(PumpUntil([&] { return !owner.Of(TE_PEER_MESSAGE).empty(); }));
  EXPECT_EQ(owner.Of(TE_PEER_MESSAGE)[0].text, "still served");
  // The rest of the stalled frame completes it.
  ASSERT_TRUE(stalled->Send(frame.substr(frame.size() - 3)));
  ASSERT_TRUE(PumpUntil([&] { return owner.Of(TE_PEER_MESSAGE).size() == 2; }));
  EXPECT_EQ(owner.Of(TE_PEER_MESSAGE)[1].text, "never finished");
}

TEST_F(AgentTest, AnAnnouncedLengthOfFourGigabytesClosesOnlyThatConnection) {
  auto hostile = ConnectRaw();
  std::uint32_t hostileId = LastAcceptedId();
  auto good = ConnectRaw();
  ASSERT_TRUE(hostile->Send(kSignature + std::string("\x00\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8)));
  ASSERT_TRUE(PumpUntil([&] { return !owner.Of(TE_PEER_CLOSED).empty(); }));
  EXPECT_EQ(owner.Of(TE_PEER_CLOSED)[0].id, hostileId);
  ASSERT_TRUE(good->Send(Frame("fine", true)));
  ASSERT_TRUE(PumpUntil([&] { return !owner.Of(TE_PEER_MESSAGE).empty(); }));
  EXPECT_EQ(owner.Of(TE_PEER_CLOSED).size(), 1u);
}

TEST_F(AgentTest, AStreamThatEndsInsideAFrameCountsAsClosed) {
  auto peer = ConnectRaw();
  std::string frame = Frame("cut short", true);
  ASSERT_TRUE(peer->Send(Frame("whole", true) + frame.substr(0, 12)));
  peer->Close();
  ASSERT_TRUE(PumpUntil([&] { return !owner.Of(TE_PEER_CLOSED).empty(); }));
  ASSERT_EQ(owner.Of(TE_PEER_MESSAGE).size(), 1u);
  EXPECT_EQ(owner.Of(TE_PEER_MESSAGE)[0].text, "whole");
  PumpAWhile();
  EXPECT_EQ(owner.Of(TE_PEER_CLOSED).size(), 1u) << "reported once";
}

TEST_F(AgentTest, ConnectionIdsCountUpOverOutgoingAndAcceptedAndAreNeverReused) {
  RecordingAgent other;
  unsigned otherPort = other.agent.AAListnerCreate(0);
  std::uint32_t out0 = 77, out2 = 77;
  ASSERT_EQ(owner.agent.AAConnectCreate(&out0, "127.0.0.1", otherPort), 1);
  auto peer = ConnectRaw();
  ASSERT_EQ(owner.agent.AAConnectCreate(&out2, "127.0.0.1", otherPort), 1);
  EXPECT_EQ(out0, 0u);
  EXPECT_EQ(LastAcceptedId(), 1u);
  EXPECT_EQ(out2, 2u);
  ASSERT_EQ(owner.agent.AASend(out0, "", 1), 1);  // close id 0
  std::uint32_t out3 = 77;
  ASSERT_EQ(owner.agent.AAConnectCreate(&out3, "127.0.0.1", otherPort), 1);
  EXPECT_EQ(out3, 3u) << "a closed id is not handed out again";
}

TEST_F(AgentTest, SendingWithTheCloseFlagClosesSilentlyHereAndIsSeenAsClosedThere) {
  RecordingAgent joiner;
  std::uint32_t id;
  ASSERT_EQ(joiner.agent.AAConnectCreate(&id, "127.0.0.1", port), 1);
  ASSERT_TRUE(PumpUntil([&] { return !owner.Of(TE_PEER_ACCEPTED).empty(); }));
  EXPECT_EQ(joiner.agent.AASend(id, "never sent", 1), 1);
  ASSERT_TRUE(PumpUntil([&] { return !owner.Of(TE_PEER_CLOSED).empty(); }));
  EXPECT_TRUE(owner.Of(TE_PEER_MESSAGE).empty()) << "the text is not sent";
  EXPECT_TRUE(joiner.events.empty()) << "no event on the closing side";
  EXPECT_EQ(joiner.agent.AASend(id, "x", 0), 0) << "the id is gone";
}

TEST_F(AgentTest, UnknownConnectionIdsAreRefused) {
  std::string address;
  unsigned p = 0;
  EXPECT_EQ(owner.agent.AASend(12345, "x", 0), 0);
  EXPECT_EQ(owner.agent.GetSockName(12345, address, p), 0);
  EXPECT_EQ(owner.agent.GetPeerName(12345, address, p), 0);
  CAgent fresh;
  EXPECT_EQ(fresh.AASend(0, "x", 0), 0) << "no peer manager yet";
  EXPECT_EQ(fresh.GetSockName(0, address, p), 0);
}

TEST_F(AgentTest, SockAndPeerNamesOfAConnection) {
  RecordingAgent joiner;
  std::uint32_t id;
  ASSERT_EQ(joiner.agent.AAConnectCreate(&id, "127.0.0.1", port), 1);
  std::string address;
  unsigned p = 0;
  ASSERT_NE(joiner.agent.GetPeerName(id, address, p), 0);
  EXPECT_EQ(address, "127.0.0.1");
  EXPECT_EQ(p, port);
  ASSERT_NE(joiner.agent.GetSockName(id, address, p), 0);
  EXPECT_EQ(address, "127.0.0.1");
  EXPECT_NE(p, 0u);
}

TEST_F(AgentTest, AFailedConnectReportsToTheServerOnlyWhenThereIsAServerConnection) {
  RawPeer dead;
  unsigned deadPort = dead.Listen();
  dead.Close();  // nothing listens there now
  std::uint32_t id = 55;
  EXPECT_EQ(owner.agent.AAConnectCreate(&id, "127.0.0.1", deadPort), 0);
  EXPECT_EQ(id, 55u) << "the id is not written";

  RawPeer server;
  unsigned serverPort = server.Listen();
  ASSERT_EQ(owner.agent.ASConnectCreate("127.0.0.1", serverPort), 1);
  ASSERT_TRUE(server.Accept());
  EXPECT_EQ(owner.agent.AAConnectCreate(&id, "127.0.0.1", deadPort), 0);
  std::string expected = "CPIN ID=127.0.0.1:" + std::to_string(deadPort) + ";";
  ASSERT_TRUE(server.WaitForBytes(Frame(expected, false).size()));
  EXPECT_EQ(Frames(server.received(), false), std::vector<std::string>{expected});
}

TEST_F(AgentTest, APingFromTheServerIsAnsweredOnceAndNotReported) {
  RawPeer server;
  unsigned serverPort = server.Listen();
  ASSERT_EQ(owner.agent.ASConnectCreate("127.0.0.1", serverPort), 1);
  ASSERT_TRUE(server.Accept());
  ASSERT_TRUE(server.Send(Frame("PING", false) + Frame("PING and more", false) + Frame("QROK", false)));
  ASSERT_TRUE(PumpUntil([&] { return !owner.Of(TE_SERVER_MESSAGE).empty(); }));
  ASSERT_TRUE(server.WaitForBytes(2 * Frame("PING", false).size()));
  PumpAWhile();
  server.Poll();
  EXPECT_EQ(Frames(server.received(), false), (std::vector<std::string>{"PING", "PING"}));
  EXPECT_EQ(owner.events, (std::vector<Event>{{TE_SERVER_MESSAGE, 0, "QROK"}}));
}

TEST_F(AgentTest, ServerLinesArriveAsServerMessagesAndItsCloseAsServerClosed) {
  RawPeer server;
  unsigned serverPort = server.Listen();
  ASSERT_EQ(owner.agent.ASConnectCreate("127.0.0.1", serverPort), 1);
  ASSERT_TRUE(server.Accept());
  ASSERT_TRUE(server.Send(Frame("USER ID=1.2.3.4:2001;", false)));
  server.Close();
  ASSERT_TRUE(PumpUntil([&] { return !owner.Of(TE_SERVER_CLOSED).empty(); }));
  EXPECT_EQ(owner.events, (std::vector<Event>{{TE_SERVER_MESSAGE, 0, "USER ID=1.2.3.4:2001;"},
                                              {TE_SERVER_CLOSED, 0, " "}}));
  EXPECT_EQ(owner.agent.ASSend("LEAV", 0), 1) << "the torn-down object still exists";
}

TEST_F(AgentTest, ABadFrameFromTheServerClosesTheServerConnection) {
  RawPeer server;
  unsigned serverPort = server.Listen();
  ASSERT_EQ(owner.agent.ASConnectCreate("127.0.0.1", serverPort), 1);
  ASSERT_TRUE(server.Accept());
  ASSERT_TRUE(server.Send("mR&2sXXX"));
  ASSERT_TRUE(PumpUntil([&] { return !owner.Of(TE_SERVER_CLOSED).empty(); }));
  EXPECT_TRUE(server.WaitForClose());
}

TEST_F(AgentTest, ReconnectingToTheServerReplacesTheOldConnectionWithoutAnEvent) {
  RawPeer first, second;
  unsigned firstPort = first.Listen(), secondPort = second.Listen();
  ASSERT_EQ(owner.agent.ASConnectCreate("127.0.0.1", firstPort), 1);
  ASSERT_TRUE(first.Accept());
  ASSERT_EQ(owner.agent.ASConnectCreate("127.0.0.1", secondPort), 1);
  ASSERT_TRUE(second.Accept());
  EXPECT_TRUE(first.WaitForClose());
  PumpAWhile();
  EXPECT_TRUE(owner.events.empty());
  owner.agent.ASSend("LEAV", 0);
  ASSERT_TRUE(second.WaitForBytes(Frame("LEAV", false).size()));
}

TEST_F(AgentTest, AConnectToAServerThatIsNotThereFailsAndLeavesNoConnection) {
  RawPeer dead;
  unsigned deadPort = dead.Listen();
  dead.Close();
  EXPECT_EQ(owner.agent.ASConnectCreate("127.0.0.1", deadPort), 0);
  EXPECT_EQ(owner.agent.ASSend("x", 0), 0) << "no server connection object remains";
}

TEST_F(AgentTest, AFailedServerWriteTearsTheConnectionDownOnce) {
  RawPeer server;  // accepts, then never reads
  unsigned serverPort = server.Listen();
  ASSERT_EQ(owner.agent.ASConnectCreate("127.0.0.1", serverPort), 1);
  ASSERT_TRUE(server.Accept());
  plat_set_io_timeout_ms(200);
  std::string big(512 * 1024, 'b');
  for (int i = 0; i < 200 && owner.Of(TE_SERVER_SEND_FAILED).empty(); ++i)
    EXPECT_EQ(owner.agent.ASSend(big, 0), 1);
  ASSERT_EQ(owner.Of(TE_SERVER_SEND_FAILED).size(), 1u);
  EXPECT_EQ(owner.agent.ASSend("after", 0), 1) << "returns 1 while the object exists";
  EXPECT_EQ(owner.Of(TE_SERVER_SEND_FAILED).size(), 1u) << "and sends nothing";
  EXPECT_TRUE(server.WaitForClose());
  EXPECT_EQ(owner.agent.ASSend("", 1), 1) << "the close flag deletes the object";
  EXPECT_EQ(owner.agent.ASSend("x", 0), 0);
}

TEST_F(AgentTest, AFailedAgentWriteClosesThatConnectionAndReportsIt) {
  RawPeer other;  // accepts, then never reads
  unsigned otherPort = other.Listen();
  std::uint32_t id;
  ASSERT_EQ(owner.agent.AAConnectCreate(&id, "127.0.0.1", otherPort), 1);
  ASSERT_TRUE(other.Accept());
  plat_set_io_timeout_ms(200);
  std::string big(512 * 1024, 'b');
  int result = 1;
  for (int i = 0; i < 200 && result == 1; ++i) result = owner.agent.AASend(id, big, 0);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(owner.Of(TE_PEER_SEND_FAILED), (std::vector<Event>{{TE_PEER_SEND_FAILED, id, " "}}));
  EXPECT_EQ(owner.agent.AASend(id, "x", 0), 0) << "the connection was removed";
}

TEST_F(AgentTest, TheListenerTakesTheFirstFreePortOfAHundred) {
  // Find 100 consecutive ports that are free now, high above the agents'
  // usual range.
  unsigned base = 0;
  for (unsigned start = 40000; start < 60000 && base == 0; start += 100) {
    bool free = true;
    for (unsigned p = start; p < start + 100 && free; ++p) {
      CAgent a;
      free = a.AAListnerCreate(p) == p;
    }
    if (free) base = start;
  }
  ASSERT_NE(base, 0u);
  std::vector<std::unique_ptr<CAgent>> holders;
  for (unsigned p = base; p < base + 2; ++p) {
    holders.push_back(std::make_unique<CAgent>());
    ASSERT_EQ(holders.back()->AAListnerCreate(p), p);
  }
  {
    CAgent probe;
    EXPECT_EQ(probe.AAListnerCreate(base), base + 2);
  }
  for (unsigned p = base + 2; p < base + 100; ++p) {
    holders.push_back(std::make_unique<CAgent>());
    ASSERT_EQ(holders.back()->AAListnerCreate(p), p);
  }
  CAgent late;
  EXPECT_EQ(late.AAListnerCreate(base), 0u) << "all hundred are busy";
}

TEST_F(AgentTest, InitRefusesANullCallbackAndAnAgentWithoutOneReportsNothing) {
  CAgent a;
  EXPECT_EQ(a.ClientCallBack(TE_PEER_ACCEPTED, 0, " "), 0);
  EXPECT_EQ(a.Init(nullptr), 0);
}

TEST_F(AgentTest, ReleasingEverythingRaisesNoEvent) {
  auto peer = ConnectRaw();
  RawPeer server;
  unsigned serverPort = server.Listen();
  ASSERT_EQ(owner.agent.ASConnectCreate("127.0.0.1", serverPort), 1);
  ASSERT_TRUE(server.Accept());
  owner.events.clear();
  owner.agent.ReleaseConnections();
  EXPECT_TRUE(peer->WaitForClose());
  EXPECT_TRUE(server.WaitForClose());
  PumpAWhile();
  EXPECT_TRUE(owner.events.empty());
  RawPeer late;
  EXPECT_FALSE(late.Connect(port)) << "the listener is gone";
}

TEST_F(AgentTest, TheCallbackMayDropTheServerConnectionThatDeliveredTheLine) {
  RawPeer server;
  unsigned serverPort = server.Listen();
  ASSERT_EQ(owner.agent.ASConnectCreate("127.0.0.1", serverPort), 1);
  ASSERT_TRUE(server.Accept());
  owner.onEvent = [&](const Event& e) {
    if (e.code != TE_SERVER_MESSAGE) return 1;
    owner.agent.ASSend("LEAV", 0);
    owner.agent.ASSend("", 1);
    return 0;
  };
  ASSERT_TRUE(server.Send(Frame("JSOK", false) + Frame("JSOK", false)));
  ASSERT_TRUE(server.WaitForClose());
  EXPECT_EQ(Frames(server.received(), false), std::vector<std::string>{"LEAV"});
  EXPECT_EQ(owner.Of(TE_SERVER_MESSAGE).size(), 1u);
}

TEST_F(AgentTest, TheCallbackMayCloseTheAgentConnectionThatDeliveredTheLine) {
  auto peer = ConnectRaw();
  std::uint32_t id = LastAcceptedId();
  owner.onEvent = [&](const Event& e) {
    if (e.code != TE_PEER_MESSAGE) return 1;
    owner.agent.AASend(id, "NAKJ GAME", 0);
    owner.agent.AASend(id, "", 1);
    return 0;
  };
  ASSERT_TRUE(peer->Send(Frame("JOIN a", true) + Frame("JOIN b", true)));
  ASSERT_TRUE(peer->WaitForClose());
  EXPECT_EQ(Frames(peer->received(), true), std::vector<std::string>{"NAKJ GAME"});
  EXPECT_EQ(owner.Of(TE_PEER_MESSAGE).size(), 1u);
  EXPECT_TRUE(owner.Of(TE_PEER_CLOSED).empty());
}

TEST(RuntimeClasses, EveryTransportClassIsKnownAndCreatableByName) {
  for (const char* name : {"CMsg", "CClientSocket", "CListeningSocket", "CAgent2Agent", "CAgent2Server",
                           "CAgent2ServerSocket", "CPlayerObject"}) {
    SCOPED_TRACE(name);
    const zep::RuntimeClass* cls = zep::RuntimeClass::FromName(name);
    ASSERT_NE(cls, nullptr);
    std::unique_ptr<zep::CObject> object = cls->Create();
    ASSERT_NE(object, nullptr);
    EXPECT_STREQ(object->GetRuntimeClass().name(), name);
    EXPECT_TRUE(object->IsKindOf(zep::CObject::kRuntimeClass));
  }
}

}  // namespace
