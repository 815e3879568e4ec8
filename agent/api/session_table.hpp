// session_table.hpp - the process-wide table of 100 session slots behind the
// C API's handles (internal).
#pragma once

#include <array>
#include <memory>

#include "agent_session.hpp"

namespace zep {

class SessionTable {
 public:
  static constexpr int kSlots = 100;

  static SessionTable& Instance();

  // The session in slot `handle`, or null for a handle out of range or an
  // empty slot.
  CAgentSession* Find(int handle) const;
  // Puts a new session into the lowest empty slot; -1 when all are taken.
  int Add(std::unique_ptr<CAgentSession> session);
  void Remove(int handle);

 private:
  std::array<std::unique_ptr<CAgentSession>, kSlots> slots_;
};

}  // namespace zep
