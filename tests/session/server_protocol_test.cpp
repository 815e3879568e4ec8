// The session's side of the lobby-server protocol, against a scripted server
// that checks the exact lines on the wire.
#include <signal.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../support/frames.hpp"
#include "server_list_file.hpp"
#include "session_client.hpp"

namespace {

using namespace testsupport;

std::string Frame(const std::string& text) { return EncodeFrame(text, false); }
std::vector<std::string> Lines(const std::string& bytes) { return DecodeFrames(bytes, false); }

class ServerProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(client.Open(list, "VERSION=1;REAL=Ann Lee;"), ZEP_RET_OK); }

  // Registers with the scripted server and takes the two registration lines.
  void Join() {
    port = server.Listen();
    ASSERT_EQ(ZEPJoinServer(client.handle, "127.0.0.1", static_cast<int>(port)), ZEP_RET_OK);
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(PumpUntil([&] {
      server.Poll();
      return Lines(server.received()).size() >= 2;
    }));
    registration = Lines(server.received());
    server.received().clear();
    ASSERT_EQ(client.Drain(), (std::vector<Message>{{"SERVER", ZEP_MT_JOINSRVRESPONSE, "ACKJ", "  "}}));
  }

  // The lines the server has received since the last call.
  std::vector<std::string> Received() {
    PumpAWhile();
    server.Poll();
    auto lines = Lines(server.received());
    server.received().clear();
    return lines;
  }

  TempDir dir;
  std::string list = dir.File("SERVERS.INI");
  SessionClient client;
  RawPeer server;
  unsigned port = 0;
  std::vector<std::string> registration;
};

TEST_F(ServerProtocolTest, JoiningAClosedPortFailsAndQueuesFail) {
  RawPeer dead;
  unsigned deadPort = dead.Listen();
  dead.Close();
  EXPECT_EQ(ZEPJoinServer(client.handle, "127.0.0.1", static_cast<int>(deadPort)), ZEP_RET_CONNECTFAILED);
  EXPECT_EQ(client.Drain(), (std::vector<Message>{{"SERVER", ZEP_MT_JOINSRVRESPONSE, "FAIL", "  "}}));
  EXPECT_EQ(client.ServerStatus(), ZEP_SS_NOSRV);
}

TEST_F(ServerProtocolTest, JoiningSendsExactlyTheJoinAndListVersionLines) {
  Join();
  unsigned listenPort = 0;
  ASSERT_EQ(registration.size(), 2u);
  // The listener took the first free port from 2001 on; the JOIN line
  // carries it.
  ASSERT_EQ(registration[0].rfind("JOIN ID=", 0), 0u);
  listenPort = std::stoul(registration[0].substr(8));
  EXPECT_GE(listenPort, 2001u);
  EXPECT_LE(listenPort, 2100u);
  EXPECT_EQ(registration[0], "JOIN ID=" + std::to_string(listenPort) +
                                 ";APP=QORCORVA;OWN=1.1.1.1;\x18VERSION=1;REAL=Ann Lee;");
  EXPECT_EQ(registration[1], "CINI VER=0;") << "no Version key: version 0";
  EXPECT_EQ(client.ServerStatus(), ZEP_SS_INSRV);
  EXPECT_EQ(ZEPJoinServer(client.handle, "127.0.0.1", static_cast<int>(port)), ZEP_RET_INSERVER);
}

TEST_F(ServerProtocolTest, TheListVersionComesFromTheServerListFile) {
  WriteFile(list, "[qorservers]\r\nversion = 17 \r\n");
  Join();
  EXPECT_EQ(registration[1], "CINI VER=17;");
}

TEST_F(ServerProtocolTest, AQueryIsSentWithTheFilterAndAnsweredUserByUser) {
  Join();
  EXPECT_EQ(ZEPQueryUsers(client.handle, "CITY=Oslo;", 25, nullptr, nullptr), ZEP_RET_OK);
  EXPECT_EQ(Received(), std::vector<std::string>{"QUER APP=QORCORVA;MAX=25;\x18" "CITY=Oslo;"});
  EXPECT_EQ(ZEPQueryUsers(client.handle, " ", 25, nullptr, nullptr), ZEP_RET_ALREADYINQUERY);
  ASSERT_TRUE(server.Send(Frame("USER ID=10.0.0.5:2003;OWN=1.1.1.1;REAL=Bo;") + Frame("QROK")));
  auto got = client.WaitFor(ZEP_MT_QUERYRESPONSE);
  EXPECT_EQ(got, (std::vector<Message>{
                     {"SERVER", ZEP_MT_USERDESC, "ID=10.0.0.5:2003;OWN=1.1.1.1;REAL=Bo;", "  "},
                     {"SERVER", ZEP_MT_QUERYRESPONSE, "QROK", "  "}}));
  EXPECT_EQ(ZEPQueryUsers(client.handle, " ", 25, nullptr, nullptr), ZEP_RET_OK) << "the next query may go";
}

TEST_F(ServerProtocolTest, QueryAndAbortNeedAServer) {
  EXPECT_EQ(ZEPQueryUsers(client.handle, " ", 5, nullptr, nullptr), ZEP_RET_NOTINSERVER);
  EXPECT_EQ(ZEPAbortQuery(client.handle), ZEP_RET_NOTINSERVER);
  EXPECT_EQ(ZEPQueryUsers(client.handle, nullptr, 5, nullptr, nullptr), ZEP_RET_INVALIDPOINTER);
  EXPECT_EQ(ZEPLeaveServer(client.handle), ZEP_RET_NOTINSERVER);
}

TEST_F(ServerProtocolTest, AnAbortedQueryDropsUsersButStillEndsWithTheServersAnswer) {
  Join();
  EXPECT_EQ(ZEPAbortQuery(client.handle), ZEP_RET_OK) << "no query: nothing to do";
  EXPECT_TRUE(Received().empty());
  ASSERT_EQ(ZEPQueryUsers(client.handle, " ", 100, nullptr, nullptr), ZEP_RET_OK);
  ASSERT_EQ(ZEPAbortQuery(client.handle), ZEP_RET_OK);
  EXPECT_EQ(Received(), (std::vector<std::string>{"QUER APP=QORCORVA;MAX=100;\x18 ", "ABORT"}));
  EXPECT_EQ(ZEPQueryUsers(client.handle, " ", 5, nullptr, nullptr), ZEP_RET_ALREADYINQUERY);
  ASSERT_TRUE(server.Send(Frame("USER ID=10.0.0.5:2003;") + Frame("QRFL")));
  EXPECT_EQ(client.WaitFor(ZEP_MT_QUERYRESPONSE),
            (std::vector<Message>{{"SERVER", ZEP_MT_QUERYRESPONSE, "QRFL", "  "}}));
  EXPECT_EQ(client.ServerStatus(), ZEP_SS_INSRV);
}

TEST_F(ServerProtocolTest, LeavingSendsLeavClosesAndQueuesALostServerWithoutText) {
  Join();
  EXPECT_EQ(ZEPLeaveServer(client.handle), ZEP_RET_OK);
  EXPECT_TRUE(server.WaitForClose());
  EXPECT_EQ(Lines(server.received()), std::vector<std::string>{"LEAV"});
  EXPECT_EQ(client.Drain(), (std::vector<Message>{{"SERVER", ZEP_MT_LOSTSERVER, "  ", "  "}}));
  EXPECT_EQ(ZEPLeaveServer(client.handle), ZEP_RET_NOTINSERVER);
  EXPECT_EQ(client.ServerStatus(), ZEP_SS_NOSRV);
}

TEST_F(ServerProtocolTest, ALostServerIsReportedAndEndsARunningQuery) {
  Join();
  ASSERT_EQ(ZEPQueryUsers(client.handle, " ", 5, nullptr, nullptr), ZEP_RET_OK);
  server.Close();
  EXPECT_EQ(client.WaitFor(ZEP_MT_LOSTSERVER),
            (std::vector<Message>{{"SERVER", ZEP_MT_LOSTSERVER, "SRLS", "  "}}));
  EXPECT_EQ(client.ServerStatus(), ZEP_SS_NOSRV);
  EXPECT_EQ(ZEPQueryUsers(client.handle, " ", 5, nullptr, nullptr), ZEP_RET_NOTINSERVER);
}

TEST_F(ServerProtocolTest, AnUnaskedJoinAnswerMakesTheSessionLeaveThatServer) {
  Join();
  ASSERT_TRUE(server.Send(Frame("JSOK") + Frame("USER ID=1.2.3.4:5;")));
  EXPECT_TRUE(server.WaitForClose());
  EXPECT_EQ(Lines(server.received()), std::vector<std::string>{"LEAV"});
  EXPECT_TRUE(client.Drain().empty()) << "state and queue unchanged";
}

TEST_F(ServerProtocolTest, ABusyAfterTheRegistrationIsARefusalTheClientHears) {
  Join();
  ASSERT_EQ(ZEPQueryUsers(client.handle, " ", 5, nullptr, nullptr), ZEP_RET_OK);
  ASSERT_TRUE(server.Send(Frame("BUSY server full") + Frame("USER ID=1.2.3.4:5;")));
  EXPECT_TRUE(server.WaitForClose());
  EXPECT_EQ(Lines(server.received()), (std::vector<std::string>{"QUER APP=QORCORVA;MAX=5;\x18 ", "LEAV"}));
  EXPECT_EQ(client.Drain(), (std::vector<Message>{{"SERVER", ZEP_MT_JOINSRVRESPONSE, "BUSY", "server full"}}));
  EXPECT_EQ(client.ServerStatus(), ZEP_SS_NOSRV);
  EXPECT_EQ(ZEPLeaveServer(client.handle), ZEP_RET_NOTINSERVER);
}

TEST_F(ServerProtocolTest, OneNotificationPerEmptyToNotEmptyTransition) {
  Join();  // ACKJ: one notification, drained
  PumpAWhile();
  EXPECT_EQ(client.notifications, 1);
  ASSERT_EQ(ZEPQueryUsers(client.handle, " ", 5, nullptr, nullptr), ZEP_RET_OK);
  ASSERT_TRUE(server.Send(Frame("USER ID=1.1.1.1:1;") + Frame("USER ID=2.2.2.2:2;") + Frame("QROK")));
  PumpUntil([&] { return client.notifications > 1; });
  PumpAWhile();
  EXPECT_EQ(client.notifications, 2) << "three messages, one notification";
  EXPECT_EQ(client.Drain().size(), 3u);
  ASSERT_EQ(ZEPLeaveServer(client.handle), ZEP_RET_OK);
  PumpUntil([&] { return client.notifications > 2; });
  EXPECT_EQ(client.notifications, 3) << "the emptied queue notifies again";
}

TEST_F(ServerProtocolTest, TheServerListIsRewrittenFromCiniLinesAndTheOldOneKept) {
  WriteFile(list, "[QORServers]\nCurrentServer=old.example\nVersion=1\n");
  Join();
  ASSERT_TRUE(server.Send(Frame("CINI START") + Frame("CINI Version=2\r\n") + Frame("CINI Server1=10.1.1.1xx") +
                          Frame("CINI END")));
  PumpUntil([&] { return ReadFile(list).find("Version=2") != std::string::npos; });
  EXPECT_EQ(ReadFile(list), "[QORServers]\nCurrentServer=127.0.0.1:" + std::to_string(port) +
                                "\nVersion=2\nServer1=10.1.1.1\n")
      << "the server joined, on its port";
  EXPECT_EQ(ReadFile(dir.File("SERVERS.$$$")), "[QORServers]\nCurrentServer=old.example\nVersion=1\n");
}

TEST_F(ServerProtocolTest, AHugeBinaryListIsKeptWholeAsTheBackupAndLongLinesAreWrittenWhole) {
  std::string old = "[QORServers]\nVersion=5\n";
  for (unsigned i = 0; old.size() < (3u << 20); ++i) old.push_back(static_cast<char>(i * 7919 % 251));
  WriteFile(list, old);
  Join();
  EXPECT_EQ(registration[1], "CINI VER=0;") << "a file that size is no profile to read a version from";
  const std::string server1 = "Server1=" + std::string(100000, 's');
  ASSERT_TRUE(server.Send(Frame("CINI START") + Frame("CINI " + server1 + "\r\n") + Frame("CINI Version=6xx") +
                          Frame("CINI END")));
  ASSERT_TRUE(PumpUntil([&] { return ReadFile(list).size() < old.size(); }));
  EXPECT_EQ(ReadFile(list), "[QORServers]\nCurrentServer=127.0.0.1:" + std::to_string(port) + "\n" + server1 +
                                "\nVersion=6\n");
  EXPECT_EQ(ReadFile(dir.File("SERVERS.$$$")), old) << "nothing of the old file is lost";
  char value[80];
  plat_get_private_profile_string("QORServers", "Server1", " ", value, sizeof value, list.c_str());
  EXPECT_EQ(std::string(value), std::string(79, 's'));
}

TEST_F(ServerProtocolTest, AListLargerThanAnyServerListIsNotTakenAtAll) {
  WriteFile(list, "[QORServers]\nVersion=1\n");
  Join();
  std::string lines = Frame("CINI START");
  for (int i = 0; i < 12; ++i) lines += Frame("CINI Server" + std::to_string(i) + "=" + std::string(100000, 'x') + "xx");
  ASSERT_TRUE(server.Send(lines + Frame("CINI END") + Frame("QROK")));
  EXPECT_EQ(client.WaitFor(ZEP_MT_QUERYRESPONSE).size(), 1u) << "every line was taken in";
  EXPECT_EQ(ReadFile(list), "[QORServers]\nVersion=1\n");
  EXPECT_FALSE(std::filesystem::exists(dir.File("SERVERS.$$$")));
  // A list of the usual size that follows is taken as ever.
  ASSERT_TRUE(server.Send(Frame("CINI START") + Frame("CINI Version=2xx") + Frame("CINI END")));
  EXPECT_TRUE(PumpUntil([&] { return ReadFile(list).find("Version=2") != std::string::npos; }));
}

TEST_F(ServerProtocolTest, AnEndWithNothingCollectedLeavesTheFileAlone) {
  WriteFile(list, "[QORServers]\nVersion=1\n");
  Join();
  ASSERT_TRUE(server.Send(Frame("CINI START") + Frame("CINI END")));
  PumpAWhile();
  EXPECT_EQ(ReadFile(list), "[QORServers]\nVersion=1\n");
  EXPECT_FALSE(std::filesystem::exists(dir.File("SERVERS.$$$")));
}

TEST_F(ServerProtocolTest, AFailedWriteToTheServerIsALostServer) {
  Join();
  plat_set_io_timeout_ms(200);
  // The server does not read: a query far larger than both ends' socket
  // buffers cannot be written, and the transport tears the connection down.
  std::string filter(32 * 1024 * 1024, 'f');
  EXPECT_EQ(ZEPQueryUsers(client.handle, filter.c_str(), 5, nullptr, nullptr), ZEP_RET_OK)
      << "the line was handed to the connection object";
  EXPECT_TRUE(server.WaitForClose()) << "the transport gave the connection up";
  plat_set_io_timeout_ms(5000);
  EXPECT_EQ(client.Drain(), (std::vector<Message>{{"SERVER", ZEP_MT_LOSTSERVER, "SRLS", "  "}}));
  EXPECT_EQ(client.ServerStatus(), ZEP_SS_NOSRV);
  EXPECT_EQ(ZEPQueryUsers(client.handle, " ", 5, nullptr, nullptr), ZEP_RET_NOTINSERVER)
      << "no query is taken that could never be answered";
}

TEST_F(ServerProtocolTest, AServerThatDroppedAStalledSessionIsReportedWhenTheProbeAnswerFails) {
  Join();
  // While the host was stalled the server probed twice, gave up and reset
  // the connection; the first answer the session tries cannot be written.
  ASSERT_TRUE(server.Send(Frame("PING") + Frame("PING")));
  linger reset{1, 0};
  setsockopt(server.fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  server.Close();
  EXPECT_EQ(client.WaitFor(ZEP_MT_LOSTSERVER),
            (std::vector<Message>{{"SERVER", ZEP_MT_LOSTSERVER, "SRLS", "  "}}));
  EXPECT_EQ(client.ServerStatus(), ZEP_SS_NOSRV);
  EXPECT_EQ(ZEPQueryUsers(client.handle, " ", 5, nullptr, nullptr), ZEP_RET_NOTINSERVER);

  RawPeer again;
  const unsigned againPort = again.Listen();
  EXPECT_EQ(ZEPJoinServer(client.handle, "127.0.0.1", static_cast<int>(againPort)), ZEP_RET_OK)
      << "the session may register anew";
  EXPECT_EQ(client.Drain(), (std::vector<Message>{{"SERVER", ZEP_MT_JOINSRVRESPONSE, "ACKJ", "  "}}));
}

TEST_F(ServerProtocolTest, LongTextsAreCutToTheQueuesFields) {
  Join();
  ASSERT_EQ(ZEPQueryUsers(client.handle, " ", 5, nullptr, nullptr), ZEP_RET_OK);
  std::string user = "USER ID=1.2.3.4:5;" + std::string(1000, 'd');
  ASSERT_TRUE(server.Send(Frame(user) + Frame("QROK")));
  auto got = client.WaitFor(ZEP_MT_QUERYRESPONSE);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].text, user.substr(5, 499));
}

TEST_F(ServerProtocolTest, AServerAddressIsCutToFiftyOneCharacters) {
  // 0x0...07f000001 is 127.0.0.1 written as one hexadecimal number, padded to
  // exactly 51 characters; the four characters after it make the whole text
  // unresolvable. Only an address cut at 51 reaches the server.
  const std::string kept = "0x" + std::string(51 - 2 - 8, '0') + "7f000001";
  ASSERT_EQ(kept.size(), 51u);
  port = server.Listen();
  ASSERT_EQ(ZEPJoinServer(client.handle, (kept + "zzzz").c_str(), static_cast<int>(port)), ZEP_RET_OK);
  ASSERT_TRUE(server.Accept());
  ASSERT_TRUE(server.Send(Frame("CINI START") + Frame("CINI Version=9xx") + Frame("CINI END")));
  PumpUntil([&] { return ReadFile(list).find("Version=9") != std::string::npos; });
  EXPECT_EQ(ReadFile(list), "[QORServers]\nCurrentServer=" + kept + ":" + std::to_string(port) + "\nVersion=9\n");
}

TEST(ServerListFile, TheBackupKeepsDriveFolderAndNameWithExtensionDollars) {
  EXPECT_EQ(zep::BackupPath("C:\\Games\\SERVERS.INI"), "C:\\Games\\SERVERS.$$$");
  EXPECT_EQ(zep::BackupPath("/x.y/servers"), "/x.y/servers.$$$");
  EXPECT_EQ(zep::BackupPath("a.b.c"), "a.b.$$$");
}

TEST(ServerListFile, AFailedWriteLeavesTheOldFileAsItWas) {
  TempDir dir;
  std::string list = dir.File("SERVERS.INI");
  WriteFile(list, "[QORServers]\nVersion=1\n");
  // A file size limit makes every write past a few bytes fail, root or not.
  signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit tiny = old;
  tiny.rlim_cur = 8;
  setrlimit(RLIMIT_FSIZE, &tiny);
  bool replaced = zep::RewriteServerList(list, "host", {"CINI Version=2xx", "CINI Server1=abcxx"});
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_FALSE(replaced);
  EXPECT_EQ(ReadFile(list), "[QORServers]\nVersion=1\n");
  EXPECT_FALSE(std::filesystem::exists(dir.File("SERVERS.$$$")));
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 1) << "no temporary file is left behind";
}

}  // namespace
