#include "loop_bridge.hpp"

#include <QSocketNotifier>

#include "platform/platform.h"

namespace lobby {

namespace {
LoopBridge* current = nullptr;
int pauseDepth = 0;
QSocketNotifier* currentNotifier = nullptr;
}  // namespace

LoopBridge::LoopBridge(QObject* parent) : QObject(parent) {
  const int fd = plat_loop_fd();
  if (fd < 0) return;
  notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &LoopBridge::Dispatch);
  current = this;
  currentNotifier = notifier_;
  notifier_->setEnabled(pauseDepth == 0);
}

LoopBridge::~LoopBridge() {
  if (current == this) {
    current = nullptr;
    currentNotifier = nullptr;
  }
}

void LoopBridge::Dispatch() {
  if (pauseDepth > 0) return;
  plat_dispatch();
  if (plat_quit_requested()) {
    plat_reset_quit();
    // Queued: the handler leaves the server and the session, which must not
    // happen inside a dispatch.
    QMetaObject::invokeMethod(this, &LoopBridge::stopRequested, Qt::QueuedConnection);
  }
}

void LoopBridge::Pause() {
  if (++pauseDepth == 1 && currentNotifier != nullptr) currentNotifier->setEnabled(false);
}

void LoopBridge::Resume() {
  if (pauseDepth == 0) return;
  if (--pauseDepth == 0 && currentNotifier != nullptr) {
    currentNotifier->setEnabled(true);
    // Work that became ready meanwhile is picked up by the level-triggered
    // notifier on the next loop pass.
  }
}

}  // namespace lobby
