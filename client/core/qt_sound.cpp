#include "qt_sound.hpp"

#include <dlfcn.h>

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <functional>
#include <utility>

#include "audio_output.hpp"
#include "profile_files.hpp"
#include "wav_length.hpp"

namespace lobby {

// On the audio thread: loads the module at the first request.
class AudioWorker : public QObject {
 public:
  ~AudioWorker() override = default;  // the output goes first; the module stays loaded

  void Play(const QString& nativePath, bool loop) {
    if (AudioOutput* out = Output()) out->Play(nativePath, loop);
  }
  void Stop() {
    // Nothing played yet: nothing to stop, and no reason to load the module.
    if (!tried_) return;
    if (AudioOutput* out = Output()) out->Stop();
  }

 private:
  AudioOutput* Output() {
    if (!tried_) {
      tried_ = true;
      // Found beside the program's libraries (its run path).
      if (void* module = dlopen(kAudioModule, RTLD_NOW | RTLD_LOCAL)) {
        if (auto create = reinterpret_cast<CreateAudioOutput>(dlsym(module, kAudioFactory)))
          output_.reset(create());
      }
    }
    return output_.get();
  }

  bool tried_ = false;
  std::unique_ptr<AudioOutput> output_;
};

// On the GUI thread: runs its work once, when the program has painted its
// first window and that frame has gone out, or after kLatestStart if no
// window is painted by then.
class AfterFirstPaint : public QObject {
 public:
  explicit AfterFirstPaint(std::function<void()> run) : run_(std::move(run)) {
    QCoreApplication::instance()->installEventFilter(this);
    QTimer::singleShot(kLatestStart, this, [this] { Run(); });
  }
  ~AfterFirstPaint() override {
    if (QCoreApplication* application = QCoreApplication::instance()) application->removeEventFilter(this);
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    // The frame is flushed when the paint that this event belongs to ends;
    // a zero timer runs after that.
    if (event->type() == QEvent::Paint) {
      QCoreApplication::instance()->removeEventFilter(this);
      QTimer::singleShot(0, this, [this] { Run(); });
    }
    return false;
  }

 private:
  static constexpr std::chrono::milliseconds kLatestStart{1000};

  void Run() {
    if (!run_) return;
    QCoreApplication::instance()->removeEventFilter(this);
    std::exchange(run_, nullptr)();
  }

  std::function<void()> run_;
};

QtSoundBackend::QtSoundBackend() : thread_(std::make_unique<QThread>()), worker_(new AudioWorker) {
  thread_->setObjectName("audio");
  worker_->moveToThread(thread_.get());
  if (QCoreApplication::instance() != nullptr)
    gate_ = std::make_unique<AfterFirstPaint>([this] { StartThread(); });
  else
    StartThread();
}

QtSoundBackend::~QtSoundBackend() {
  StartThread();
  // The output belongs to the audio thread and must go there.
  AudioWorker* worker = worker_;
  QMetaObject::invokeMethod(worker, [worker] { delete worker; }, Qt::BlockingQueuedConnection);
  thread_->quit();
  thread_->wait();
}

void QtSoundBackend::StartThread() {
  if (!thread_->isRunning()) thread_->start();
}

bool QtSoundBackend::Started() const { return thread_->isRunning(); }

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
  StartThread();
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
  QMetaObject::invokeMethod(worker, [worker] { worker->Stop(); });
}

}  // namespace lobby
