#include "qt_sound.hpp"

#include <QEventLoop>
#include <QSoundEffect>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <map>

#include "profile_files.hpp"
#include "wav_length.hpp"

namespace lobby {

// Owns the sound effects, on the audio thread. One effect per file, kept
// once loaded, so that a tone played again starts at once.
class AudioWorker : public QObject {
 public:
  void Play(const QString& nativePath, bool loop) {
    StopCurrent();
    QSoundEffect*& effect = effects_[nativePath];
    if (effect == nullptr) {
      effect = new QSoundEffect(this);
      effect->setSource(QUrl::fromLocalFile(nativePath));
    }
    effect->setLoopCount(loop ? QSoundEffect::Infinite : 1);
    effect->play();
    current_ = effect;
  }
  void StopCurrent() {
    if (current_ != nullptr) current_->stop();
    current_ = nullptr;
  }

 private:
  std::map<QString, QSoundEffect*> effects_;
  QSoundEffect* current_ = nullptr;
};

QtSoundBackend::QtSoundBackend() : thread_(std::make_unique<QThread>()), worker_(new AudioWorker) {
  thread_->setObjectName("audio");
  worker_->moveToThread(thread_.get());
  thread_->start();
}

QtSoundBackend::~QtSoundBackend() {
  // The effects belong to the audio thread and must go there.
  AudioWorker* worker = worker_;
  QMetaObject::invokeMethod(worker, [worker] { delete worker; }, Qt::BlockingQueuedConnection);
  thread_->quit();
  thread_->wait();
}

void QtSoundBackend::Play(const std::string& windowsPath, unsigned flags) {
  const std::string native = NativePath(windowsPath);
  const std::optional<std::chrono::milliseconds> length = WavLength(native);
  if (!length) {
    // Nothing to play replaces what plays, without a word (no default sound).
    Stop();
    return;
  }
  const QString path = QString::fromStdString(native);
  const bool loop = (flags & kSndLoop) != 0;
  AudioWorker* worker = worker_;
  if ((flags & kSndAsync) != 0) {
    QMetaObject::invokeMethod(worker, [worker, path, loop] { worker->Play(path, loop); });
    return;
  }
  // Synchronous: the GUI thread waits out the sound's length in a loop that
  // repaints but takes no input, socket or timer. Its own timers being
  // excluded, the end is signalled from the audio thread.
  QEventLoop wait;
  const int ms = static_cast<int>(length->count());
  QMetaObject::invokeMethod(worker, [worker, path, ms, &wait] {
    worker->Play(path, false);
    QTimer::singleShot(ms, worker, [&wait] { QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection); });
  });
  wait.exec(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers | QEventLoop::X11ExcludeTimers);
}

void QtSoundBackend::Stop() {
  AudioWorker* worker = worker_;
  QMetaObject::invokeMethod(worker, [worker] { worker->StopCurrent(); });
}

}  // namespace lobby
