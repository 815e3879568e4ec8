// audio_output.hpp - the sound effects behind the client's sound output
// (internal).
//
// They live in a module of their own, liblobby_audio.so, the only part of
// the client that links Qt Multimedia. The program loads it on its audio
// thread once it runs, so that the multimedia libraries and the sound
// system's client (several dozen libraries, each lengthening every symbol
// look-up) are not in the way of the start-up. An output is made, used and
// destroyed on that thread.
#pragma once

#include <QString>

namespace lobby {

class AudioOutput {
 public:
  virtual ~AudioOutput() = default;
  // Plays a file (a native path), once or in a loop, after stopping what
  // plays.
  virtual void Play(const QString& nativePath, bool loop) = 0;
  virtual void Stop() = 0;
};

inline constexpr const char* kAudioModule = "liblobby_audio.so";
// extern "C" AudioOutput* lobby_create_audio_output(): the module's one entry.
inline constexpr const char* kAudioFactory = "lobby_create_audio_output";
using CreateAudioOutput = AudioOutput* (*)();

}  // namespace lobby
