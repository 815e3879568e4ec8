// The game engine's two functions, recorded (see call_recorder.hpp).
#include "call_recorder.hpp"
#include "cvengine/cvengine.h"

using recorder::N;
using recorder::Quoted;
using recorder::R;

extern "C" {

int CVRunGame(const char* partnerAddress, const char* dataDir, const char* soundFile, const char* windowTitle,
              int reserved, CV_HWND notifyWindow, unsigned int notifyMessage) {
  R().calls.push_back("CVRunGame(" + Quoted(partnerAddress) + ", " + Quoted(dataDir) + ", " + Quoted(soundFile) +
                      ", " + Quoted(windowTitle) + ", " + N(reserved) + ", " + (notifyWindow ? "window" : "0") +
                      ", " + N(notifyMessage) + ")");
  return R().ResultFor("CVRunGame", 0);
}
int CVGetMsg(char* buffer) {
  R().calls.push_back("CVGetMsg()");
  if (buffer == nullptr) return 1;
  recorder::CopyCut(buffer, CV_MSG_SIZE, R().engineMessage);
  return 0;
}

}  // extern "C"
