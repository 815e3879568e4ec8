#include "sound.hpp"

#include "client_timer.hpp"
#include "client_values.hpp"
#include "loop_bridge.hpp"

namespace lobby {

namespace {

std::unique_ptr<SoundBackend>& Backend() {
  static std::unique_ptr<SoundBackend> backend;
  return backend;
}

int syncDepth = 0;

}  // namespace

void SetSoundBackend(std::unique_ptr<SoundBackend> backend) { Backend() = std::move(backend); }

void PlaySoundFile(const std::string& windowsPath, unsigned flags) {
  if (!Backend()) return;
  if ((flags & kSndAsync) == 0) {
    // Nothing from the agent is dispatched and no timer of ours fires until
    // the sound has ended; what came meanwhile is handled then, in order.
    ++syncDepth;
    LoopBridge::Pause();
    Backend()->Play(windowsPath, flags);
    LoopBridge::Resume();
    if (--syncDepth == 0) ClientTimer::RunHeldTicks();
  } else {
    Backend()->Play(windowsPath, flags);
  }
}

void StopAllSound() {
  if (Backend()) Backend()->Stop();
  Values().MusicPlaying = false;
}

bool SyncSoundPlaying() { return syncDepth > 0; }

}  // namespace lobby
