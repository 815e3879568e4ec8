// session_client.hpp - test helpers around the agent's C API: a client with
// its notification window that counts notifications and drains the queue,
// and a temporary folder for the server list file.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../support/raw_peer.hpp"
#include "platform/platform.h"
#include "zep/zep.h"

namespace testsupport {

constexpr unsigned kNotifyMessage = 514;

struct Message {
  std::string playerId;
  int type = 0;
  std::string text;
  std::string moreInfo;
  bool operator==(const Message&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Message& m) {
  return os << "{\"" << m.playerId << "\", " << m.type << ", \"" << m.text << "\", \"" << m.moreInfo
            << "\"}";
}

class TempDir {
 public:
  TempDir() {
    char templ[] = "/tmp/zep-test-XXXXXX";
    path_ = mkdtemp(templ);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// One client of the agent: its notification window and session handle.
class SessionClient {
 public:
  SessionClient() { window_ = plat_window_create(&OnNotify, this); }
  ~SessionClient() {
    if (handle >= 0) ZEPLeaveSession(handle);
    plat_window_destroy(window_);
  }
  SessionClient(const SessionClient&) = delete;
  SessionClient& operator=(const SessionClient&) = delete;

  int Open(const std::string& serverList, const char* description = "VERSION=1;REAL=Ann Lee;",
           const char* app = "QORCORVA") {
    return ZEPOpenSession(&handle, 0, app, description, "version.dll", window_, kNotifyMessage,
                          serverList.c_str());
  }

  // Every message queued so far, oldest first.
  std::vector<Message> Drain() {
    std::vector<Message> out;
    char id[ZEP_PLAYERID_SIZE], text[ZEP_TEXT_SIZE], more[ZEP_TEXT_SIZE];
    int type = 0;
    while (ZEPGetNextMessage(handle, id, &type, text, more) == ZEP_RET_OK)
      out.push_back({id, type, text, more});
    return out;
  }

  // Pumps until a message of this type is queued, then drains the queue.
  std::vector<Message> WaitFor(int type) {
    std::vector<Message> got;
    PumpUntil([&] {
      for (auto& m : Drain()) got.push_back(m);
      for (auto& m : got)
        if (m.type == type) return true;
      return false;
    });
    return got;
  }

  int ServerStatus() {
    int s = 0;
    ZEPGetSessionServerStatus(handle, &s);
    return s;
  }
  int SubGroupStatus() {
    int s = 0;
    ZEPGetSessionSubGroupStatus(handle, &s);
    return s;
  }

  plat_hwnd window() const { return window_; }
  int notifications = 0;
  int handle = -1;

 private:
  static void OnNotify(plat_hwnd, unsigned msg, uintptr_t w, intptr_t l, void* user) {
    if (msg == kNotifyMessage && w == 0 && l == 0) ++static_cast<SessionClient*>(user)->notifications;
  }
  plat_hwnd window_ = 0;
};

}  // namespace testsupport
