#include "game_sound.hpp"

#include <dlfcn.h>

#include <QFileInfo>
#include <string>

#include "platform/platform.h"

namespace {

// The sound module, loaded on first use from the folder this library lies
// in; null when it cannot be loaded (then the game is silent).
struct SoundModule {
  void* (*open)(const char*) = nullptr;
  void (*play)(void*) = nullptr;
  void (*close)(void*) = nullptr;
};

const SoundModule* LoadSoundModule() {
  static const SoundModule* loaded = [] () -> const SoundModule* {
    Dl_info self{};
    std::string path = "libcvengine_sound.so";
    if (dladdr(reinterpret_cast<void*>(&LoadSoundModule), &self) != 0 && self.dli_fname != nullptr) {
      const std::string library = self.dli_fname;
      const std::size_t slash = library.rfind('/');
      if (slash != std::string::npos) path = library.substr(0, slash + 1) + path;
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return nullptr;
    static SoundModule module;
    module.open = reinterpret_cast<void* (*)(const char*)>(dlsym(handle, "cvengine_sound_open"));
    module.play = reinterpret_cast<void (*)(void*)>(dlsym(handle, "cvengine_sound_play"));
    module.close = reinterpret_cast<void (*)(void*)>(dlsym(handle, "cvengine_sound_close"));
    if (module.open == nullptr || module.play == nullptr || module.close == nullptr) return nullptr;
    return &module;
  }();
  return loaded;
}

}  // namespace

GameSound::GameSound(const char* file) {
  if (file == nullptr || *file == '\0') return;
  char native[4096];
  path_ = plat_native_path(file, native, sizeof native) > 0 ? QString::fromLocal8Bit(native)
                                                             : QString::fromLocal8Bit(file);
}

GameSound::~GameSound() {
  if (effect_ != nullptr) LoadSoundModule()->close(effect_);
}

void GameSound::Play() {
  if (path_.isEmpty() || !QFileInfo(path_).isFile()) return;
  const SoundModule* module = LoadSoundModule();
  if (module == nullptr) return;
  if (effect_ == nullptr) effect_ = module->open(path_.toLocal8Bit().constData());
  module->play(effect_);
}
