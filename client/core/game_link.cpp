// Starting a game in the engine, and what the client shows when it ends.
#include <string>

#include "client_core.hpp"
#include "client_values.hpp"
#include "cvengine/cvengine.h"
#include "zep/zep.h"

namespace lobby {

void ClientCore::StartGame(const std::string& partnerAddress, const std::string& partnerName) {
  ClientValues& v = Values();
  if (v.GameRunning) return;
  const std::string dataDir = v.InstallDir + "DATA";
  const std::string sound = v.InstallDir + "Zudeduzu.wav";
  const std::string title = kGameTitlePrefix + partnerName;
  CVRunGame(partnerAddress.c_str(), dataDir.c_str(), sound.c_str(), title.c_str(), 0, ui_.HangmanWindow(),
            kNotifyMessage);
  v.GameRunning = true;
  ui_.HideForm(Form::Open);
}

void ClientCore::HangmanMessTimerTimer() {
  ClientValues& v = Values();
  const bool away = ui_.InBackground();
  SetState(State::stRegister);
  char message[CV_MSG_SIZE] = {};
  CVGetMsg(message);
  message[CV_MSG_SIZE - 1] = '\0';
  const std::string text = message;
  const std::string code = GetField(text, "MES=");
  std::string won = GetField(text, "LOC=");
  if (won.empty()) won.assign(1, '0');  // (not = "0": GCC 12 warns falsely on it)
  std::string lost = GetField(text, "REM=");
  if (lost.empty()) lost.assign(1, '0');
  const std::string counts = "You have won " + won + " games. " + "Your partner has won " + lost + " games.";

  struct Outcome {
    const char* code;
    std::string text;
    bool leavesSubGroup;
  };
  const Outcome outcomes[] = {
      {"disc", "The connection has been closed. " + counts, true},
      {"note", "Couldn't connect to remote game", true},
      {"exit", "You pressed exit and left the game. " + counts, true},
      {"uexi", "Your partner has closed the connection. " + counts, false},
      {"onet", "One time game has ended. " + counts, true},
  };
  // An unknown code keeps GameRunning set, so no later game starts.
  std::string shown = "Unknown message from DLL : " + text;
  for (const Outcome& outcome : outcomes) {
    if (code != outcome.code) continue;
    v.GameRunning = false;
    if (outcome.leavesSubGroup) ZEPLeaveSubGroup(v.SessionHandle);
    shown = outcome.text;
    break;
  }
  SetState(State::stRegister);
  ShowMessageBox(shown);
  if (away) ui_.CallPlayerBack(Form::Message, kMatchOverSummary, shown);
}

}  // namespace lobby
