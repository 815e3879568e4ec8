// The client's sound functions for the fuzz harnesses: the program's are
// built on Qt Multimedia, which the sanitizer builds leave out. Nothing is
// played; stopping clears MusicPlaying as the real one does.
#include "core/client_values.hpp"
#include "core/sound.hpp"

namespace lobby {

void PlaySoundFile(const std::string&, unsigned) {}
void StopAllSound() { Values().MusicPlaying = false; }
bool SyncSoundPlaying() { return false; }
void SetSoundBackend(std::unique_ptr<SoundBackend>) {}

}  // namespace lobby
