// liblobby_audio.so: the client's sound effects on Qt Multimedia (see
// audio_output.hpp).
#include <QSoundEffect>
#include <QUrl>
#include <map>
#include <memory>

#include "audio_output.hpp"

namespace {

// One effect per file, kept once loaded, so that a tone played again starts
// at once.
class EffectsOutput : public lobby::AudioOutput {
 public:
  void Play(const QString& nativePath, bool loop) override {
    Stop();
    std::unique_ptr<QSoundEffect>& effect = effects_[nativePath];
    if (!effect) {
      effect = std::make_unique<QSoundEffect>();
      effect->setSource(QUrl::fromLocalFile(nativePath));
    }
    effect->setLoopCount(loop ? QSoundEffect::Infinite : 1);
    effect->play();
    current_ = effect.get();
  }
  void Stop() override {
    if (current_ != nullptr) current_->stop();
    current_ = nullptr;
  }

 private:
  std::map<QString, std::unique_ptr<QSoundEffect>> effects_;
  QSoundEffect* current_ = nullptr;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) lobby::AudioOutput* lobby_create_audio_output() {
  try {
    return new EffectsOutput;
  } catch (...) {
    return nullptr;
  }
}
