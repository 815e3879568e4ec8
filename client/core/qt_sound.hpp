// qt_sound.hpp - the client's sound output through Qt Multimedia (internal).
//
// The program installs this backend at start (main.cpp); tests install a
// recording one instead. Sounds play on an audio thread of their own: the
// sound effects there are fed by that thread's timers, so the GUI thread can
// wait for a synchronous sound without starving it. The output never reports
// that a sound has ended (not even without a sound device), so a
// synchronous sound lasts as long as its wave header says.
#pragma once

#include <memory>

#include "sound.hpp"

class QThread;

namespace lobby {

class AudioWorker;

class QtSoundBackend : public SoundBackend {
 public:
  QtSoundBackend();
  ~QtSoundBackend() override;
  QtSoundBackend(const QtSoundBackend&) = delete;
  QtSoundBackend& operator=(const QtSoundBackend&) = delete;

  void Play(const std::string& windowsPath, unsigned flags) override;
  void Stop() override;

 private:
  std::unique_ptr<QThread> thread_;
  AudioWorker* worker_ = nullptr;  // lives on thread_, deleted there
};

}  // namespace lobby
