// sound.hpp - playing the client's wave files (internal).
//
// One sound at a time: a new one replaces the one playing. The flags are the
// ones the client's callers use throughout:
//   kSoundAsyncLoop (11): play in the background, looping, no default sound;
//   kSoundSync (2): play once and return when the sound has ended.
// A missing or unreadable file plays nothing and is not reported. Paths are
// Windows-style (InstallDir + "TONE.WAV").
//
// While a synchronous sound plays, the client acts on no agent message and
// fires none of its own timers (see SyncSoundPlaying); what arrives meanwhile
// is handled afterwards, in order.
#pragma once

#include <memory>
#include <string>

namespace lobby {

inline constexpr unsigned kSoundSync = 2;
inline constexpr unsigned kSoundAsyncLoop = 11;

// Plays a file with the given flags.
void PlaySoundFile(const std::string& windowsPath, unsigned flags);
// Stops whatever plays and clears MusicPlaying.
void StopAllSound();
// True while a synchronous sound is being waited for.
bool SyncSoundPlaying();

// Where sounds go. The default backend plays through Qt Multimedia; tests
// install one that records the calls.
class SoundBackend {
 public:
  virtual ~SoundBackend() = default;
  virtual void Play(const std::string& windowsPath, unsigned flags) = 0;
  virtual void Stop() = 0;
};
void SetSoundBackend(std::unique_ptr<SoundBackend> backend);

}  // namespace lobby
