#include "game_sound.hpp"

#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

#include "platform/platform.h"

GameSound::GameSound(const char* file) {
  if (file == nullptr || *file == '\0') return;
  char native[4096];
  path_ = plat_native_path(file, native, sizeof native) > 0 ? QString::fromLocal8Bit(native)
                                                             : QString::fromLocal8Bit(file);
}

GameSound::~GameSound() = default;

void GameSound::Play() {
  if (path_.isEmpty() || !QFileInfo(path_).isFile()) return;
  if (!effect_) {
    effect_ = std::make_unique<QSoundEffect>();
    effect_->setSource(QUrl::fromLocalFile(path_));
  }
  effect_->stop();
  effect_->play();
}
