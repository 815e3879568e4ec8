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

// The bits of the flags, as the wave player of the system the client was
// designed for defines them (synchronous is the absence of kSndAsync).
inline constexpr unsigned kSndAsync = 1;
inline constexpr unsigned kSndNoDefault = 2;
inline constexpr unsigned kSndLoop = 8;

inline constexpr unsigned kSoundSync = kSndNoDefault;
inline constexpr unsigned kSoundAsyncLoop = kSndAsync | kSndNoDefault | kSndLoop;

// Plays a file with the given flags.
void PlaySoundFile(const std::string& windowsPath, unsigned flags);
// Stops whatever plays and clears MusicPlaying.
void StopAllSound();
// True while a synchronous sound is being waited for.
bool SyncSoundPlaying();

// Where sounds go. The program installs QtSoundBackend (qt_sound.hpp);
// tests install one that records the calls. Without a backend nothing plays.
// Play returns, for a synchronous sound, once the sound has ended; it never
// reports a missing file.
class SoundBackend {
 public:
  virtual ~SoundBackend() = default;
  virtual void Play(const std::string& windowsPath, unsigned flags) = 0;
  virtual void Stop() = 0;
};
void SetSoundBackend(std::unique_ptr<SoundBackend> backend);

}  // namespace lobby
