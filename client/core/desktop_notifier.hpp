// desktop_notifier.hpp - desktop notifications over the session bus
// (internal).
//
// Tells the person about something that wants an answer while another
// program has the screen: one notification through the desktop's
// notification service (org.freedesktop.Notifications on the D-Bus session
// bus), whose click runs a callback. Everything goes out asynchronously:
// without a session bus or a notification service the notification is
// simply not shown, and nothing waits for either.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

class QDBusPendingCallWatcher;

namespace lobby {

class DesktopNotifier : public QObject {
  Q_OBJECT
 public:
  explicit DesktopNotifier(QObject* parent = nullptr);

  // Shows summary and body as one notification; onClick runs when the
  // person clicks it. A newer notification replaces the one still shown.
  void Notify(const QString& summary, const QString& body, std::function<void()> onClick);

 private slots:
  void ActionInvoked(uint id, const QString& action);
  void NotificationClosed(uint id, uint reason);

 private:
  void Answered(QDBusPendingCallWatcher* watcher, std::uint64_t request);

  bool connected_ = false;
  // The service's id of the notification on screen, 0 before the first
  // answer; a new one replaces it.
  uint shown_ = 0;
  std::function<void()> onClick_;
  // The callback waits for the service's id only for the latest request.
  std::uint64_t latestRequest_ = 0;
};

}  // namespace lobby
