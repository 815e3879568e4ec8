// The real sound output (Qt Multimedia on its audio thread) where no sound
// device exists: nothing hangs, a synchronous sound holds back the agent's
// notifications and the client's timers until it has ended, and they then
// run in order.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "core/client_timer.hpp"
#include "core/client_values.hpp"
#include "core/loop_bridge.hpp"
#include "core/platform_button.hpp"
#include "core/qt_sound.hpp"
#include "core/sound.hpp"
#include "platform/platform.h"
#include "platform/temp_files.hpp"
#include "support/client_forms.hpp"

using clienttest::WaitFor;
using test_support::TempDir;
using test_support::WriteFile;

namespace {

std::string Le32(std::uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }

// A silent 16-bit mono wave of the given length.
std::string SilentWav(int ms) {
  const std::uint32_t rate = 8000, bytes = rate * 2 * ms / 1000;
  return "RIFF" + Le32(36 + bytes) + "WAVEfmt " + Le32(16) + std::string("\1\0\1\0", 4) + Le32(rate) +
         Le32(rate * 2) + std::string("\2\0\x10\0", 4) + "data" + Le32(bytes) + std::string(bytes, '\0');
}

// Writes what happens, in order.
std::vector<std::string> events;

// The real output, with the moments a call starts and ends written down.
class Observed : public lobby::SoundBackend {
 public:
  void Play(const std::string& path, unsigned flags) override {
    events.push_back("play " + std::to_string(flags));
    real_.Play(path, flags);
    events.push_back("played " + std::to_string(flags));
  }
  void Stop() override {
    real_.Stop();
    events.push_back("stop");
  }

 private:
  lobby::QtSoundBackend real_;
};

class Sound : public ::testing::Test {
 protected:
  void SetUp() override {
    events.clear();
    lobby::ResetValues();
    lobby::SetSoundBackend(std::make_unique<Observed>());
    WriteFile(dir_ / "DIAL.WAV", SilentWav(300));
    WriteFile(dir_ / "TONE.WAV", SilentWav(200));
  }
  void TearDown() override { lobby::SetSoundBackend(nullptr); }
  std::string File(const char* name) const { return dir_.path() + "\\" + name; }

  TempDir dir_;
  lobby::LoopBridge bridge_;
};

TEST_F(Sound, AsynchronousSoundsAndMissingFilesReturnAtOnce) {
  lobby::PlaySoundFile(File("TONE.WAV"), lobby::kSoundAsyncLoop);
  lobby::PlaySoundFile(File("NOSUCH.WAV"), lobby::kSoundAsyncLoop);
  lobby::PlaySoundFile(File("NOSUCH.WAV"), lobby::kSoundSync);
  lobby::Values().MusicPlaying = true;
  lobby::StopAllSound();
  EXPECT_FALSE(lobby::Values().MusicPlaying);
  EXPECT_EQ(events, (std::vector<std::string>{"play 11", "played 11", "play 11", "played 11", "play 2", "played 2",
                                              "stop"}));
  EXPECT_FALSE(lobby::SyncSoundPlaying());
}

TEST_F(Sound, NotificationsAndTicksDuringASynchronousSoundWaitForItsEnd) {
  lobby::PlatformButton button("hidden", nullptr);
  button.setMouseUpHandler([] { events.push_back("notified"); });
  lobby::ClientTimer timer(10, nullptr);
  timer.setOnTimer([&timer] {
    events.push_back("tick");
    timer.setEnabled(false);
  });
  // One notification is waiting before the sound starts, another arrives
  // from elsewhere while it plays, and a tick falls due meanwhile.
  ASSERT_TRUE(plat_post_message(button.window(), 514, 0, 0));
  timer.setEnabled(true);
  std::thread later([&button] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    plat_post_message(button.window(), 514, 0, 0);
  });
  lobby::PlaySoundFile(File("DIAL.WAV"), lobby::kSoundSync);
  later.join();
  events.push_back("returned");
  ASSERT_TRUE(WaitFor([] {
    int notified = 0;
    for (const auto& e : events) notified += e == "notified";
    return notified == 2 && std::find(events.begin(), events.end(), "tick") != events.end();
  }));
  ASSERT_GE(events.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 3),
            (std::vector<std::string>{"play 2", "played 2", "returned"}))
      << "nothing ran while the sound played";
  // The held tick runs as the sound ends; the notifications after, in order.
  EXPECT_EQ(std::count(events.begin(), events.end(), "tick"), 1);
}

TEST(SoundSystem, LoadsAfterTheFirstWindowIsPaintedOrASecondLater) {
  {
    lobby::QtSoundBackend backend;
    // Requests wait in the queue; the loop turning is no reason to start.
    backend.Play("C:\\NOSUCH.WAV", lobby::kSoundAsyncLoop);
    QCoreApplication::processEvents();
    EXPECT_FALSE(backend.Started());
    QWidget window;
    window.resize(64, 48);
    window.show();
    EXPECT_TRUE(WaitFor([&backend] { return backend.Started(); }));
  }
  // Nothing painted: it starts all the same.
  lobby::QtSoundBackend backend;
  EXPECT_TRUE(WaitFor([&backend] { return backend.Started(); }));
}

}  // namespace
