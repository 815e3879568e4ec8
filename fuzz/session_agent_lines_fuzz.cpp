// libFuzzer harness: lines from other agents, delivered to a session through
// its transport events as agent connections would deliver them. The first
// byte chooses where the session stands first (byte % 3: neither, joining
// someone with a JOIN sent on connection 0, owning a subgroup with one
// member), whether it refuses requests (bit 2), and whether it sends a user
// message after the lines (bit 3). Then each
// line of the input is "<c><line>": the line arrives on connection c % 4, or
// with c = 'x' that connection is lost. Nothing may crash, and every queued
// message must fit the client's buffers. The session is never asked to
// answer requests, so it never connects to an address a line names.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_input.hpp"
#include "session_harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  fuzzsession::Harness& harness = fuzzsession::TheHarness();
  auto session = harness.Open();
  if (!session) return 0;
  const std::uint8_t setup = data[0];
  const std::string self = "ID=127.0.0.1:" + std::to_string(harness.port()) + ";APP=QORCORVA;\x18REAL=Member;";
  if (setup % 3 == 1) {
    session->JoinSubGroup((self + "OWN=1.1.1.1;").c_str());
  } else if (setup % 3 == 2) {
    // A request from the loopback listener, accepted: the session owns a
    // subgroup whose member is reached there.
    session->ClientCallBack(TE_PEER_MESSAGE, 99, "JOIN " + self);
    session->AcceptSubGroupJoinRequest(self.c_str(), 1, "");
  }
  if (setup & 4) session->SetResponseStatus(0, 0, "GAME");
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  for (const std::string& line : fuzzinput::Lines(rest)) {
    if (line.empty()) continue;
    const std::uint32_t connection = static_cast<std::uint8_t>(line[0]) % 4;
    if (line[0] == 'x') {
      session->ClientCallBack(TE_PEER_CLOSED, connection, " ");
    } else {
      session->ClientCallBack(TE_PEER_MESSAGE, connection, line.substr(1));
    }
  }
  // Leaving as owner would answer the pending requests, which lines name.
  if (setup & 8) session->SendMsgToUser(("127.0.0.1:" + std::to_string(harness.port())).c_str(), "hello");
  harness.Finish(std::move(session));
  return 0;
}
