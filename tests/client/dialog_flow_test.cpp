// The dialogs with the real agent and the real lobby server: one client's
// windows and state machine in this process, its partners as further agent
// sessions driven through the C API, all on the one platform loop that Qt's
// loop runs. Each test has a server of its own on 127.0.0.N:2424.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <thread>

#include "../support/raw_peer.hpp"
#include "../support/vossad_process.hpp"
#include "core/bitmap_button.hpp"
#include "core/client_core.hpp"
#include "core/client_timer.hpp"
#include "core/client_values.hpp"
#include "core/forms_ui.hpp"
#include "core/loop_bridge.hpp"
#include "core/platform_button.hpp"
#include "core/profile_files.hpp"
#include "core/test_form.hpp"
#include "dialog_fixture.hpp"
#include "dialogs/accept_form.hpp"
#include "dialogs/connect_form.hpp"
#include "dialogs/message_form.hpp"
#include "dialogs/server_form.hpp"
#include "dialogs/suggest_form.hpp"
#include "zep/zep.h"

namespace {

using lobby::Values;

// Runs Qt's loop (and with it the platform loop) until done() holds; gives
// up after a bound so that a broken build fails instead of hanging.
bool WaitUntil(const std::function<bool()>& done, int boundMs = 20000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

struct Message {
  std::string sender;
  int type = 0;
  std::string text;
  std::string moreInfo;
};

// Another player: an agent session of its own, read by draining its queue.
class Peer {
 public:
  Peer(const std::string& description, const std::string& serverList) {
    window_ = plat_window_create([](plat_hwnd, unsigned, uintptr_t, intptr_t, void*) {}, nullptr);
    opened_ = ZEPOpenSession(&handle, 0, lobby::kApplicationName, description.c_str(), "version.dll", window_, 514,
                             serverList.c_str()) == ZEP_RET_OK;
  }
  ~Peer() {
    if (handle >= 0) ZEPLeaveSession(handle);
    plat_window_destroy(window_);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  bool Register(const std::string& server) {
    return opened_ && ZEPJoinServer(handle, server.c_str(), lobby::kServerPort) == ZEP_RET_OK &&
           WaitFor([](const Message& m) { return m.type == ZEP_MT_JOINSRVRESPONSE && m.text == "ACKJ"; });
  }

  // Waits for a message that matches and hands it out (it stays in got).
  bool WaitFor(const std::function<bool(const Message&)>& match, Message* found = nullptr) {
    std::size_t seen = 0;
    return WaitUntil([&] {
      Drain();
      for (; seen < got.size(); ++seen) {
        if (match(got[seen])) {
          if (found) *found = got[seen];
          return true;
        }
      }
      return false;
    });
  }

  // The text the server lists another player under whose record holds part.
  std::string FindPlayer(const std::string& part) {
    got.clear();
    if (ZEPQueryUsers(handle, " ", 100, nullptr, nullptr) != ZEP_RET_OK) return {};
    if (!WaitFor([](const Message& m) { return m.type == ZEP_MT_QUERYRESPONSE; })) return {};
    for (const Message& m : got)
      if (m.type == ZEP_MT_USERDESC && m.text.find(part) != std::string::npos) return m.text;
    return {};
  }

  void Drain() {
    char id[ZEP_PLAYERID_SIZE], text[ZEP_TEXT_SIZE], more[ZEP_TEXT_SIZE];
    int type = 0;
    while (ZEPGetNextMessage(handle, id, &type, text, more) == ZEP_RET_OK) got.push_back({id, type, text, more});
  }

  int handle = -1;
  std::vector<Message> got;

 private:
  plat_hwnd window_ = 0;
  bool opened_ = false;
};

// The real windows, with the texts the message box was given kept.
class ObservedUi : public lobby::FormsUi {
 public:
  using FormsUi::FormsUi;
  void ShowMessage(std::optional<lobby::Form> owner, const std::string& text) override {
    messages.push_back(text);
    FormsUi::ShowMessage(owner, text);
  }
  std::vector<std::string> messages;
};

const char* const kBo = "VERSION=0.90b1;REAL=Bo;DESC=New here;CITY=Bergen;COUNTRY=Norway;AGE=22;SEX=0;EMAIL=bo@example.org;";
const char* const kCy = "VERSION=0.90b1;REAL=Cy;DESC=Quick games;CITY=Oslo;COUNTRY=Norway;AGE=27;SEX=1;EMAIL=cy@example.org;";

class DialogFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    recorder::R().Reset();
    recorder::InstallRecordingSound();
    lobby::ResetValues();
    Values().InstallDir = "C:\\Games\\";
    setenv("XDG_RUNTIME_DIR", drives.Games("").c_str(), 1);
    StartServer();
    ASSERT_FALSE(serverAddress.empty()) << "no loopback address took a lobby server";
    drives.Write("SERVERS.INI", "[QORServers]\nCurrentServer=" + serverAddress + "\n");

    lobby::FormContext context{core, forms};
    forms.Test = new lobby::TTest(context);
    forms.ServerF = new lobby::TServerF(context);
    forms.SuggestF = new lobby::TSuggestF(context);
    forms.AcceptF = new lobby::TAcceptF(context);
    forms.MessageF = new lobby::TMessageF(context);
    forms.Connect = new lobby::TConnect(context);
    // The main window's poll: a notification enables a 10 ms one-shot tick
    // that reads the agent's queue dry.
    notify = std::make_unique<lobby::PlatformButton>("", nullptr);
    poll = std::make_unique<lobby::ClientTimer>(10, nullptr);
    poll->setOnTimer([this] {
      poll->setEnabled(false);
      core.AgentMessTimerTimer();
    });
    notify->setMouseUpHandler([this] { poll->setEnabled(true); });
    Values().SessionFlag = true;
  }

  void TearDown() override {
    if (Values().SessionFlag) ZEPLeaveSession(Values().SessionHandle);
    Values().SessionFlag = false;
    for (QWidget* w : std::initializer_list<QWidget*>{forms.Connect, forms.MessageF, forms.AcceptF, forms.SuggestF,
                                                      forms.ServerF, forms.Test})
      if (w) w->hide();
    delete forms.Connect;
    delete forms.MessageF;
    delete forms.AcceptF;
    delete forms.SuggestF;
    delete forms.ServerF;
    delete forms.Test;
    forms = lobby::Forms{};
  }

  void StartServer() {
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 20 && serverAddress.empty(); ++attempt) {
      const std::string address = "127.0.0." + std::to_string(2 + random() % 249);
      auto started = std::make_unique<testsupport::Vossad>(
          std::vector<std::string>{"--bind", address, "--port", "2424", "--quiet"});
      if (started->port() == lobby::kServerPort) {
        server = std::move(started);
        serverAddress = address;
      }
    }
  }

  // Registers as the main window does, and waits for the query dialog.
  void Register() {
    core.SetState(lobby::State::stRegister);
    Values().ServerAcknowledged = false;
    const lobby::Profile sam{"Sam", "Evenings", "Leeds", "UK", "33", "0", "sam@example.org"};
    ASSERT_TRUE(core.OpenAgentSession(notify->window(), sam));
    ASSERT_TRUE(WaitUntil([&] { return forms.Connect->isVisible(); }));
  }

  std::unique_ptr<Peer> MakePeer(const char* description) {
    auto peer = std::make_unique<Peer>(description, drives.Games("PEER" + std::to_string(peers_++) + ".INI").string());
    EXPECT_TRUE(peer->Register(serverAddress));
    return peer;
  }

  std::vector<std::string> Listed() const {
    std::vector<std::string> names;
    for (int i = 0; i < forms.Connect->ListUsers->count(); ++i)
      names.push_back(forms.Connect->ListUsers->item(i)->text().toStdString());
    return names;
  }

  // The query dialog's first query has ended with these players listed.
  bool ListedAfterQuery(std::size_t count) {
    return WaitUntil([&] { return forms.Connect->bRefresh->isEnabled() && Listed().size() == count; });
  }

  static bool IsJoin(const Message& m) { return m.type == ZEP_MT_USERMSG && m.moreInfo == "JOIN"; }

  dialogtest::Drives drives;
  std::unique_ptr<testsupport::Vossad> server;
  std::string serverAddress;
  lobby::Forms forms;
  ObservedUi ui{forms};
  lobby::ClientCore core{ui};
  lobby::LoopBridge bridge;
  std::unique_ptr<lobby::PlatformButton> notify;
  std::unique_ptr<lobby::ClientTimer> poll;

 private:
  int peers_ = 0;
};

TEST_F(DialogFlow, TheQueryDialogListsThePlayersAndSearchesByCity) {
  Register();
  auto bo = MakePeer(kBo);
  auto cy = MakePeer(kCy);
  ASSERT_TRUE(ListedAfterQuery(2));
  lobby::TConnect* query = forms.Connect;
  std::vector<std::string> names = Listed();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Bo", "Cy"}));
  EXPECT_TRUE(query->bConnect->isEnabled());
  EXPECT_EQ(query->lRemoteName->text(), query->ListUsers->item(0)->text());
  EXPECT_EQ(query->RemoteIdText().rfind("ID=", 0), 0u);

  query->bQueryOnClick();
  query->QCity->setText("oslo");
  query->bRefresh->click();
  ASSERT_TRUE(ListedAfterQuery(1));
  EXPECT_EQ(Listed(), std::vector<std::string>{"Cy"});
  EXPECT_EQ(query->lRemoteCity->text(), "Oslo");
  EXPECT_FALSE(query->Female->isHidden());
}

TEST_F(DialogFlow, AnOfferThePartnerRefusesBringsTheReasonBack) {
  Register();
  auto bo = MakePeer(kBo);
  ASSERT_TRUE(ListedAfterQuery(1));
  forms.Connect->bConnect->click();
  Message offer;
  ASSERT_TRUE(bo->WaitFor(IsJoin, &offer));
  EXPECT_TRUE(forms.SuggestF->isVisible());
  EXPECT_EQ(forms.SuggestF->lRealName->text(), "Bo");
  EXPECT_NE(offer.text.find("REAL=Sam;"), std::string::npos) << offer.text;

  ZEPAcceptSubGroupJoinRequest(bo->handle, offer.text.c_str(), 0, "Busy right now");
  ASSERT_TRUE(WaitUntil([&] { return forms.Connect->isVisible(); }));
  EXPECT_FALSE(forms.SuggestF->isVisible());
  EXPECT_EQ(ui.messages, std::vector<std::string>{"Remote has declined your offer. Reason : Busy right now"});
  EXPECT_EQ(Values().CurrentState, lobby::State::stLobby);
  // The query dialog starts over and lists Bo again.
  EXPECT_TRUE(ListedAfterQuery(1));
}

TEST_F(DialogFlow, AWithdrawnOfferReachesThePartner) {
  Register();
  auto bo = MakePeer(kBo);
  ASSERT_TRUE(ListedAfterQuery(1));
  forms.Connect->bConnect->click();
  ASSERT_TRUE(bo->WaitFor(IsJoin));
  ASSERT_TRUE(forms.SuggestF->isVisible());
  forms.SuggestF->bCancel->click();
  EXPECT_TRUE(bo->WaitFor([](const Message& m) { return m.type == ZEP_MT_USERMSG && m.moreInfo == "TERM"; }));
  EXPECT_TRUE(forms.Connect->isVisible());
  EXPECT_EQ(Values().CurrentState, lobby::State::stLobby);
}

TEST_F(DialogFlow, AnIncomingOfferAcceptedStartsTheGame) {
  Register();
  auto bo = MakePeer(kBo);
  const std::string sam = bo->FindPlayer("REAL=Sam;");
  ASSERT_FALSE(sam.empty());
  ASSERT_EQ(ZEPJoinSubGroup(bo->handle, sam.c_str()), ZEP_RET_OK);
  // Shown, and activated: the offer's texts are in.
  ASSERT_TRUE(WaitUntil([&] { return forms.AcceptF->isVisible() && forms.AcceptF->lRealName->text() == "Bo"; }));
  EXPECT_EQ(forms.AcceptF->lDesc->text(), "New here");
  EXPECT_FALSE(forms.Connect->isVisible());

  forms.AcceptF->bAccept->click();
  Message answer;
  ASSERT_TRUE(bo->WaitFor([](const Message& m) { return m.type == ZEP_MT_JOINRESPONSE; }, &answer));
  EXPECT_EQ(answer.text, "AKNJ");
  EXPECT_EQ(Values().CurrentState, lobby::State::stPlaying);
  ASSERT_EQ(recorder::R().CallsOf("CVRunGame").size(), 1u);
  EXPECT_NE(recorder::R().CallsOf("CVRunGame")[0].find("Connected to Bo\""), std::string::npos);
}

TEST_F(DialogFlow, AnIncomingOfferRefusedSendsTheTypedReason) {
  Register();
  auto bo = MakePeer(kBo);
  const std::string sam = bo->FindPlayer("REAL=Sam;");
  ASSERT_FALSE(sam.empty());
  ASSERT_EQ(ZEPJoinSubGroup(bo->handle, sam.c_str()), ZEP_RET_OK);
  ASSERT_TRUE(WaitUntil([&] { return forms.AcceptF->isVisible() && forms.AcceptF->lRealName->text() == "Bo"; }));
  forms.AcceptF->tRefuse->setText("Maybe later");
  forms.AcceptF->bRefuse->click();
  Message answer;
  ASSERT_TRUE(bo->WaitFor([](const Message& m) { return m.type == ZEP_MT_JOINRESPONSE; }, &answer));
  EXPECT_EQ(answer.text, "NAKJ");
  EXPECT_EQ(answer.moreInfo, "Maybe later");
  EXPECT_TRUE(forms.Connect->isVisible());
  EXPECT_EQ(Values().CurrentState, lobby::State::stLobby);
  // Offers reach the player again: a second one rings once more.
  ASSERT_EQ(ZEPJoinSubGroup(bo->handle, sam.c_str()), ZEP_RET_OK);
  EXPECT_TRUE(WaitUntil([&] { return forms.AcceptF->isVisible(); }));
}

TEST_F(DialogFlow, APartnerThatNeverAnswersLeavesTheOfferWithdrawable) {
  Register();
  // Takes connections and never reads or answers.
  testsupport::RawPeer silent;
  const unsigned port = silent.Listen();
  ASSERT_NE(port, 0u);
  lobby::TConnect* query = forms.Connect;
  ASSERT_TRUE(query->ListQueryResult("ID=127.0.0.1:" + std::to_string(port) +
                                     ";REAL=Mute;DESC=-;CITY=-;COUNTRY=-;AGE=-;SEX=0;EMAIL=-;"));
  query->EnableConnectButton();
  query->bConnect->click();
  ASSERT_TRUE(WaitUntil([&] { return forms.SuggestF->isVisible(); }));
  // Nothing comes back; the dialog still answers the player.
  QTest::qWait(200);
  EXPECT_TRUE(forms.SuggestF->isVisible());
  forms.SuggestF->bCancel->click();
  EXPECT_TRUE(WaitUntil([&] { return forms.Connect->isVisible(); }));
  EXPECT_EQ(Values().CurrentState, lobby::State::stLobby);
}

}  // namespace
