// qt_host.hpp - for the engine library's window tests: an offscreen
// QApplication that hosts the platform loop as the lobby client does (a
// QSocketNotifier on plat_loop_fd calling plat_dispatch), a platform window
// standing in for the client's notification button, and a bounded wait.
#pragma once

#include <QApplication>
#include <QSocketNotifier>
#include <QTest>
#include <functional>
#include <string>

#include "cvengine/cvengine.h"
#include "platform/platform.h"

namespace testsupport {

inline QApplication& QtHost() {
  static QApplication* app = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "engine_test";
    static char* argv[] = {name, nullptr};
    auto* a = new QApplication(argc, argv);
    a->setQuitOnLastWindowClosed(false);
    auto* notifier = new QSocketNotifier(plat_loop_fd(), QSocketNotifier::Read, a);
    QObject::connect(notifier, &QSocketNotifier::activated, [] { plat_dispatch(); });
    return a;
  }();
  return *app;
}

// Runs Qt's event loop (and with it the platform loop) until done() holds;
// gives up after about ten seconds, a bound for a broken build.
inline bool ProcessUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 1000 && !done(); ++i) QTest::qWait(10);
  return done();
}

// The window the engine posts its notification to, as the client's hidden
// button: counts the posts of message 514.
class NotifySink {
 public:
  static constexpr unsigned kMessage = 514;
  NotifySink() { window = plat_window_create(&OnMessage, this); }
  ~NotifySink() { plat_window_destroy(window); }
  NotifySink(const NotifySink&) = delete;
  NotifySink& operator=(const NotifySink&) = delete;

  std::string Fetch() {
    char buffer[CV_MSG_SIZE];
    CVGetMsg(buffer);
    return buffer;
  }

  plat_hwnd window = 0;
  int posts = 0;

 private:
  static void OnMessage(plat_hwnd, unsigned msg, uintptr_t w, intptr_t l, void* user) {
    if (msg == kMessage && w == 0 && l == 0) ++static_cast<NotifySink*>(user)->posts;
  }
};

}  // namespace testsupport
