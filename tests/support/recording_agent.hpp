// recording_agent.hpp - a CAgent for transport tests whose events are
// recorded, and whose callback's answer (and action) can be scripted.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "zep/agent.hpp"

namespace testsupport {

struct Event {
  std::uint32_t code;
  std::uint32_t id;
  std::string text;
  bool operator==(const Event&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Event& e) {
  return os << "{" << e.code << ", " << e.id << ", \"" << e.text << "\"}";
}

struct RecordingAgent {
  CAgent agent;
  std::vector<Event> events;
  std::function<int(const Event&)> onEvent;

  RecordingAgent() {
    Registry()[&agent] = this;
    EXPECT_EQ(agent.Init(&Callback), 1);
  }
  ~RecordingAgent() { Registry().erase(&agent); }
  RecordingAgent(const RecordingAgent&) = delete;
  RecordingAgent& operator=(const RecordingAgent&) = delete;

  std::vector<Event> Of(std::uint32_t code) const {
    std::vector<Event> out;
    for (auto& e : events)
      if (e.code == code) out.push_back(e);
    return out;
  }

  static std::map<void*, RecordingAgent*>& Registry() {
    static std::map<void*, RecordingAgent*> r;
    return r;
  }
  static int Callback(void* context, std::uint32_t code, std::uint32_t id, std::string text) {
    auto it = Registry().find(context);
    if (it == Registry().end()) return 1;
    Event e{code, id, std::move(text)};
    it->second->events.push_back(e);
    return it->second->onEvent ? it->second->onEvent(e) : 1;
  }
};

}  // namespace testsupport
