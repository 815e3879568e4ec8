#include "desktop_notifier.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>
#include <utility>

#include "forms_ui.hpp"

namespace lobby {

namespace {

const char* const kService = "org.freedesktop.Notifications";
const char* const kPath = "/org/freedesktop/Notifications";
const char* const kInterface = "org.freedesktop.Notifications";
// The action a click on the notification itself invokes.
const char* const kDefaultAction = "default";
// The service's own default time on screen.
constexpr int kServerDefaultTimeout = -1;

}  // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent) {
  // Connecting to a missing bus fails at once; the notifications are then
  // left out.
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  connected_ = true;
  bus.connect(QString(), kPath, kInterface, "ActionInvoked", this, SLOT(ActionInvoked(uint, QString)));
  bus.connect(QString(), kPath, kInterface, "NotificationClosed", this, SLOT(NotificationClosed(uint, uint)));
}

void DesktopNotifier::Notify(const QString& summary, const QString& body, std::function<void()> onClick) {
  if (!connected_) return;
  onClick_ = std::move(onClick);
  const std::uint64_t request = ++latestRequest_;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
  // The actions are key and label pairs; the one is the click on the whole
  // notification, which services that draw no buttons offer too.
  const QStringList actions{kDefaultAction, "Show"};
  call << QString::fromLatin1(kApplicationTitle) << shown_ << QString() << summary << body << actions
       << QVariantMap() << kServerDefaultTimeout;
  // Never a blocking call: a service that is slow or missing must not hold
  // the windows.
  auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, request](QDBusPendingCallWatcher* done) { Answered(done, request); });
}

void DesktopNotifier::Answered(QDBusPendingCallWatcher* watcher, std::uint64_t request) {
  watcher->deleteLater();
  const QDBusPendingReply<uint> reply = *watcher;
  // A later notification has replaced this one meanwhile.
  if (request != latestRequest_) return;
  if (reply.isError()) {
    onClick_ = nullptr;
    return;
  }
  shown_ = reply.value();
}

void DesktopNotifier::ActionInvoked(uint id, const QString& action) {
  // Other programs' notifications are signalled on the same bus.
  if (id == 0 || id != shown_ || !onClick_ || action != kDefaultAction) return;
  // Once: the notification is gone with its click.
  std::function<void()> click = std::exchange(onClick_, nullptr);
  click();
}

void DesktopNotifier::NotificationClosed(uint id, uint) {
  if (id == 0 || id != shown_) return;
  onClick_ = nullptr;
  shown_ = 0;
}

}  // namespace lobby
