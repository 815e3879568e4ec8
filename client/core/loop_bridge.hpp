// loop_bridge.hpp - the platform loop embedded in Qt's (internal).
//
// The agent's sockets and posted window messages live on the platform loop.
// One QSocketNotifier watches the loop's descriptor and dispatches whatever
// is ready; the notifier is level-triggered and also fires inside nested
// loops (a modal box), which plat_dispatch allows since it is re-entrant and
// drains. While paused (a synchronous sound plays) nothing is dispatched:
// sockets and messages wait and are handled afterwards, in order.
//
// A stop asked of the platform loop (SIGTERM or SIGINT, platform::
// StopSignals) is taken off the loop, which would otherwise dispatch nothing
// more, and reported as stopRequested, once the dispatch has returned.
#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

namespace lobby {

class LoopBridge : public QObject {
  Q_OBJECT
 public:
  explicit LoopBridge(QObject* parent = nullptr);
  ~LoopBridge() override;

  bool ok() const { return notifier_ != nullptr; }
  // Stops and resumes dispatching; pauses nest.
  static void Pause();
  static void Resume();

 signals:
  void stopRequested();

 private:
  void Dispatch();

  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace lobby
