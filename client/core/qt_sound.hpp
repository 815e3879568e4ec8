// qt_sound.hpp - the client's sound output (internal).
//
// The program installs this backend at start (main.cpp); tests install a
// recording one instead. Sounds play on an audio thread of their own,
// through the sound effects of liblobby_audio.so (audio_output.hpp): the
// effects are fed by that thread's timers, so the GUI thread can wait for a
// synchronous sound without starving them. The thread starts, and loads the
// module, once the first window has been painted (or a second after the
// backend was made, if none is): the splash shows its picture before any of
// the sound system is loaded, which would otherwise slow that first paint.
// Requests made before wait in the thread's queue; a synchronous sound
// starts the thread at once.
//
// The output never reports that a sound has ended (not even without a sound
// device), so a synchronous sound lasts as long as its wave header says.
// Without the module, or without a device, nothing is heard and nothing
// else changes.
#pragma once

#include <QObject>
#include <memory>

#include "sound.hpp"

class QThread;

namespace lobby {

class AudioWorker;
class AfterFirstPaint;

class QtSoundBackend : public SoundBackend {
 public:
  QtSoundBackend();
  ~QtSoundBackend() override;
  QtSoundBackend(const QtSoundBackend&) = delete;
  QtSoundBackend& operator=(const QtSoundBackend&) = delete;

  void Play(const std::string& windowsPath, unsigned flags) override;
  void Stop() override;
  // True once the audio thread runs.
  bool Started() const;

 private:
  void StartThread();

  std::unique_ptr<QThread> thread_;
  AudioWorker* worker_ = nullptr;  // lives on thread_, deleted there
  std::unique_ptr<AfterFirstPaint> gate_;  // on the GUI thread: starts thread_ after the first paint
};

}  // namespace lobby
