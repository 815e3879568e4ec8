// libFuzzer harness: lines from the lobby server, delivered to a session
// through its transport events as the server connection would deliver them.
// The first byte chooses where the session stands first (registered,
// querying, aborting); then every line of the input is one server line, the
// bytes FE and FF alone standing for a failed write and a lost connection.
// Nothing may crash, and every queued message must fit the client's buffers.
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
  if (setup & 1) {
    session->JoinServer("127.0.0.1", static_cast<int>(harness.port()));
    if (setup & 2) session->QueryUsers(" ", 100);
    if (setup & 4) session->AbortQuery();
  }
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  for (const std::string& line : fuzzinput::Lines(rest)) {
    if (line == "\xFE") {
      session->ClientCallBack(TE_SERVER_SEND_FAILED, 0, " ");
    } else if (line == "\xFF") {
      session->ClientCallBack(TE_SERVER_CLOSED, 0, " ");
    } else {
      session->ClientCallBack(TE_SERVER_MESSAGE, 0, line);
    }
  }
  if (setup & 8) session->LeaveServer();
  harness.Finish(std::move(session));
  return 0;
}
