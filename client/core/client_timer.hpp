// client_timer.hpp - the client's window timers (internal).
//
// A timer that is enabled fires every interval until it is disabled;
// enabling one that already runs changes nothing, so a notification that
// arrives while a tick is pending is absorbed by that tick. A tick that falls
// while a synchronous sound plays is held back and runs once the sound has
// ended, so nothing the client does on a timer overtakes the sound.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

namespace lobby {

class ClientTimer : public QObject {
  Q_OBJECT
 public:
  ClientTimer(int intervalMs, QObject* parent);
  ~ClientTimer() override;

  void setEnabled(bool enabled);
  bool isEnabled() const { return enabled_; }
  int interval() const { return timer_.interval(); }
  void setOnTimer(std::function<void()> handler) { onTimer_ = std::move(handler); }

  // Runs the ticks held back during a synchronous sound, in the order the
  // timers were created.
  static void RunHeldTicks();

 private:
  void Tick();

  QTimer timer_;
  bool enabled_ = false;
  bool held_ = false;
  std::function<void()> onTimer_;
};

}  // namespace lobby
