// game_sound.hpp - the game's one sound (internal to the engine library),
// played without ever waiting: QSoundEffect starts it and returns, and with
// no sound device, or no such file, nothing is heard and nothing hangs. The
// sound effect lives in libcvengine_sound.so (sound_module.cpp), loaded on
// the first play.
#pragma once

#include <QString>

class GameSound {
 public:
  // A native path or one written Windows-style (translated by the platform).
  explicit GameSound(const char* file);
  ~GameSound();
  GameSound(const GameSound&) = delete;
  GameSound& operator=(const GameSound&) = delete;

  void Play();
  const QString& path() const { return path_; }

 private:
  QString path_;
  void* effect_ = nullptr;  // made by the sound module
};
