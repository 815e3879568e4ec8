// call_recorder.hpp - a recording stand-in for the agent's and the game
// engine's C functions, and for the sound output, for the client's tests.
//
// A test program links call_recorder in place of libzep and libcvengine.
// Every call is written to one log, in order, as a line such as
//   ZEPJoinServer(0, "127.0.0.1", 2424)
//   PlaySound("C:\Games\BUSY.WAV", 11)
// (strings quoted, a null string as null), so a test checks which function
// was called with which arguments, and in which order relative to the
// sounds. Results and queued messages are scripted.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace recorder {

struct QueuedMessage {
  std::string sender;
  int type = 0;
  std::string text;
  std::string moreInfo;
};

struct Recorder {
  std::vector<std::string> calls;
  // Result a function returns instead of ZEP_RET_OK (CVRunGame: 0).
  std::map<std::string, int> results;
  // What ZEPGetNextMessage hands out, front first; ZEP_RET_NOMSG when empty.
  std::deque<QueuedMessage> messages;
  // Written by ZEPOpenSession into the caller's handle.
  int nextHandle = 0;
  // What CVGetMsg writes (cut to the 50-byte buffer).
  std::string engineMessage;

  void Reset();
  int ResultFor(const std::string& function, int otherwise) const;
  // The calls without those of the given functions (for example the polls).
  std::vector<std::string> CallsWithout(const std::vector<std::string>& functions) const;
  // The calls of one function.
  std::vector<std::string> CallsOf(const std::string& function) const;
};

Recorder& R();

// Sends the client's sounds to the log instead of the speakers.
void InstallRecordingSound();

// Formats a string argument the way the log writes it.
std::string Quoted(const char* text);
std::string N(long long value);
// Logs a call and returns its scripted result (default ZEP_RET_OK).
int Log(const std::string& function, const std::string& arguments);
// Copies a text into a buffer of size bytes, cut and terminated.
void CopyCut(char* into, std::size_t size, const std::string& from);

}  // namespace recorder
