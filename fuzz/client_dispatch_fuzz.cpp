// Harness for the client's handling of agent messages: whatever the agent
// hands over (any type, any sender, texts of any bytes) goes through the
// state machine from any state, with the windows and the agent recorded,
// and so do the game engine's closing messages. Each input line is one
// message: "<type>|<sender>|<text>|<moreInfo>"; a line "S<n>" first puts the
// client into state n, a line "G<text>" is a closing message of the engine.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "core/client_core.hpp"
#include "core/client_values.hpp"
#include "fuzz_input.hpp"
#include "support/call_recorder.hpp"
#include "support/recording_ui.hpp"

namespace {

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    const std::size_t bar = line.find('|', start);
    if (bar == std::string::npos) break;
    fields.push_back(line.substr(start, bar - start));
    start = bar + 1;
  }
  fields.push_back(line.substr(start));
  while (fields.size() < 4) fields.emplace_back();
  return fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  recorder::R().Reset();
  lobby::ResetValues();
  lobby::Values().SessionFlag = true;
  lobby::Values().InstallDir = "C:\\G\\";
  recorder::RecordingUi ui;
  lobby::ClientCore core(ui);
  core.SetState(lobby::State::stLobby);

  for (const std::string& line : fuzzinput::Lines(fuzzinput::Bytes(data, size), 64)) {
    if (!line.empty() && line[0] == 'S') {
      core.SetState(lobby::State{std::atoi(line.c_str() + 1)});
      continue;
    }
    if (!line.empty() && line[0] == 'G') {
      recorder::R().engineMessage = line.substr(1);
      core.HangmanMessTimerTimer();
      continue;
    }
    const std::vector<std::string> f = Fields(line);
    recorder::R().messages.push_back({f[1], std::atoi(f[0].c_str()), f[2], f[3]});
    // What the client takes of a message stays within the agent's own sizes.
    if (const std::optional<lobby::AgentMessage> m = core.PollAgentMessage()) {
      if (m->sender.size() >= 100 || m->text.size() >= 500 || m->moreInfo.size() >= 500) std::abort();
      if (!m->text.empty()) core.DispatchAgentMessage(*m);
    }
    core.AgentMessTimerTimer();
    // Every tick drains what the agent holds.
    if (!recorder::R().messages.empty()) std::abort();
  }
  // And so does what it keeps of an offer.
  if (lobby::Values().OfferRecord.size() >= 500) std::abort();
  return 0;
}
