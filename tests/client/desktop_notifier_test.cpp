// Calling the person back: the desktop notification that an offer or a
// match's end sends while the client is in the background, against a
// recording notification service on a private session bus, and the client
// without any bus.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <vector>

#include "core/forms_ui.hpp"
#include "dialog_fixture.hpp"
#include "dialogs/accept_form.hpp"
#include "dialogs/connect_form.hpp"

namespace {

const char* const kService = "org.freedesktop.Notifications";
const char* const kPath = "/org/freedesktop/Notifications";

struct NotifyCall {
  QString application;
  QString summary;
  QString body;
  QStringList actions;
};

// The desktop's notification service as far as the client uses it: records
// every Notify and clicks a notification on request. On a connection of
// its own, so the client reaches it through the bus like any other service.
class RecordingServer : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
 public:
  RecordingServer() : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "recording-server")) {
    registered = bus_.isConnected() && bus_.registerObject(kPath, this, QDBusConnection::ExportAllSlots) &&
                 bus_.registerService(kService);
  }
  ~RecordingServer() override {
    bus_.unregisterService(kService);
    bus_.unregisterObject(kPath);
    QDBusConnection::disconnectFromBus("recording-server");
  }

  // A click on notification id.
  void Click(uint id) {
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kService, "ActionInvoked");
    signal << id << QString("default");
    bus_.send(signal);
  }

  bool registered = false;
  std::vector<NotifyCall> calls;

 public slots:
  uint Notify(const QString& application, uint, const QString&, const QString& summary, const QString& body,
              const QStringList& actions, const QVariantMap&, int) {
    calls.push_back({application, summary, body, actions});
    return static_cast<uint>(calls.size());
  }
  QStringList GetCapabilities() { return {"actions", "body"}; }
  void CloseNotification(uint) {}

 private:
  QDBusConnection bus_;
};

class CallBack : public dialogtest::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    Make(forms.AcceptF);
    Make(forms.Connect);
  }
  lobby::FormsUi windows{forms};
};

TEST_F(CallBack, TheNotificationNamesTheOfferingPlayerAndItsClickBringsTheOfferBack) {
  RecordingServer server;
  ASSERT_TRUE(server.registered);
  // The offer is on screen, but the person is elsewhere.
  forms.AcceptF->show();
  Activate(forms.Connect);

  windows.CallPlayerBack(lobby::Form::Accept, "Bo offers you a game", "New here");
  QTRY_COMPARE_WITH_TIMEOUT(server.calls.size(), 1u, 10000);
  EXPECT_EQ(server.calls[0].application, lobby::kApplicationTitle);
  EXPECT_EQ(server.calls[0].summary, "Bo offers you a game");
  EXPECT_EQ(server.calls[0].body, "New here");
  EXPECT_TRUE(server.calls[0].actions.contains("default"));

  // Another program's notification clicked: nothing of ours.
  server.Click(7);
  Settle();
  EXPECT_EQ(lobby::LobbyForm::LastActivated(), forms.Connect);
  server.Click(1);
  WaitForActivation(forms.AcceptF);
  EXPECT_EQ(lobby::LobbyForm::LastActivated(), forms.AcceptF);

  // An offer answered meanwhile is not brought back.
  windows.CallPlayerBack(lobby::Form::Accept, "Cy offers you a game", "Hi");
  QTRY_COMPARE_WITH_TIMEOUT(server.calls.size(), 2u, 10000);
  forms.AcceptF->hide();
  server.Click(2);
  Settle();
  EXPECT_FALSE(forms.AcceptF->isVisible());
}

TEST_F(CallBack, WithoutABusNothingIsShownAndNothingBreaks) {
  ASSERT_FALSE(QDBusConnection::sessionBus().isConnected());
  forms.AcceptF->show();
  Activate(forms.Connect);
  windows.CallPlayerBack(lobby::Form::Accept, "Bo offers you a game", "New here");
  Settle();
  EXPECT_EQ(lobby::LobbyForm::LastActivated(), forms.Connect);
}

}  // namespace

#include "desktop_notifier_test.moc"
