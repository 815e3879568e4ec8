// sound_module.cpp - libcvengine_sound.so, the only part of the engine that
// links Qt Multimedia. The engine loads it the first time it plays its
// sound, so that the multimedia libraries and the sound system's client are
// not loaded with the engine (and with the lobby client, which links it)
// before they are needed. Every call is made on the host's GUI thread.
#include <QSoundEffect>
#include <QUrl>

#define CVENGINE_SOUND_EXPORT extern "C" __attribute__((visibility("default")))

CVENGINE_SOUND_EXPORT void* cvengine_sound_open(const char* nativePath) {
  auto* effect = new QSoundEffect();
  effect->setSource(QUrl::fromLocalFile(QString::fromLocal8Bit(nativePath)));
  return effect;
}

CVENGINE_SOUND_EXPORT void cvengine_sound_play(void* effect) {
  auto* e = static_cast<QSoundEffect*>(effect);
  e->stop();
  e->play();
}

CVENGINE_SOUND_EXPORT void cvengine_sound_close(void* effect) { delete static_cast<QSoundEffect*>(effect); }
