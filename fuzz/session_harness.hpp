// session_harness.hpp - what the two session harnesses share (not part of
// any library): a fresh session for every input, opened as the client opens
// it, a loopback listener standing in for the server and for other agents
// (whatever connects to it is taken and closed after each input), and the
// checks every queued message must pass.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "agent_session.hpp"
#include "platform/platform.h"

namespace fuzzsession {

class Harness {
 public:
  Harness() {
    // The server list is rewritten (and synced) for every list an input
    // ends; in memory that costs the fuzzer far less than on a disk.
    char shm[] = "/dev/shm/zep-fuzz-XXXXXX";
    char tmp[] = "/tmp/zep-fuzz-XXXXXX";
    const char* dir = mkdtemp(shm);
    if (dir == nullptr) dir = mkdtemp(tmp);
    if (dir == nullptr) std::abort();
    serverList_ = std::string(dir) + "/SERVERS.INI";
    window_ = plat_window_create([](plat_hwnd, unsigned, uintptr_t, intptr_t, void*) {}, nullptr);
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener_, SOMAXCONN) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      std::abort();
    port_ = ntohs(a.sin_port);
    // Connects and sends only ever go to the loopback listener; a slow one
    // would only slow the fuzzer down.
    plat_set_io_timeout_ms(200);
  }

  // A session opened as the client opens it; null when it cannot open (all
  // of the agents' listener ports taken by other programs on this machine),
  // which says nothing about the input.
  std::unique_ptr<zep::CAgentSession> Open() {
    auto session = std::make_unique<zep::CAgentSession>();
    if (session->Open(0, "QORCORVA", "VERSION=1;REAL=Fuzz;", "version.dll", window_, 514, serverList_.c_str()) !=
        ZEP_RET_OK)
      return nullptr;
    return session;
  }

  // Reads every queued message, checking that each fits the client's
  // buffers, then closes the session and whatever it connected to here.
  void Finish(std::unique_ptr<zep::CAgentSession> session) {
    char id[ZEP_PLAYERID_SIZE], text[ZEP_TEXT_SIZE], more[ZEP_TEXT_SIZE];
    int type = 0;
    while (session->GetNextMessage(id, &type, text, more) == ZEP_RET_OK) {
      if (type < ZEP_MT_NODELIVERY || type > ZEP_MT_USERMSG) __builtin_trap();
    }
    int status = 0;
    if (session->GetServerStatus(&status) != ZEP_RET_OK || session->GetSubGroupStatus(&status) != ZEP_RET_OK)
      __builtin_trap();
    session->Close();
    session.reset();
    for (int fd; (fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) close(fd);
    // Deliver the notifications the session posted, so they do not pile up.
    while (plat_dispatch() > 0) {
    }
  }

  unsigned port() const { return port_; }

 private:
  std::string serverList_;
  plat_hwnd window_ = 0;
  int listener_ = -1;
  unsigned port_ = 0;
};

inline Harness& TheHarness() {
  static Harness* harness = new Harness();
  return *harness;
}

}  // namespace fuzzsession
