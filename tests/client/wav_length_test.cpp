// How long a synchronous sound lasts: read from the wave header, never more
// than the file holds.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "core/wav_length.hpp"
#include "platform/temp_files.hpp"

using lobby::WavLength;
using test_support::TempDir;
using test_support::WriteFile;

namespace {

std::string Le32(std::uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
std::string Le16(std::uint16_t v) { return {char(v), char(v >> 8)}; }

std::string Fmt(std::uint32_t rate, std::uint16_t channels, std::uint16_t bits) {
  const std::uint16_t align = channels * bits / 8;
  return "fmt " + Le32(16) + Le16(1) + Le16(channels) + Le32(rate) + Le32(rate * align) + Le16(align) + Le16(bits);
}

std::string Wav(const std::string& chunks) { return "RIFF" + Le32(4 + chunks.size()) + "WAVE" + chunks; }

std::string Data(std::uint32_t claimed, std::size_t present) {
  return "data" + Le32(claimed) + std::string(present, '\0');
}

class Wave : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes) {
    WriteFile(dir_ / "s.wav", bytes);
    return dir_ / "s.wav";
  }
  TempDir dir_;
};

TEST_F(Wave, LengthIsDataOverByteRate) {
  // 22,050 Hz, mono, 16 bit: 44,100 bytes a second.
  EXPECT_EQ(WavLength(Write(Wav(Fmt(22050, 1, 16) + Data(22050, 22050))))->count(), 500);
  // Stereo 44.1 kHz: 176,400 bytes a second.
  EXPECT_EQ(WavLength(Write(Wav(Fmt(44100, 2, 16) + Data(176400 * 2, 176400 * 2))))->count(), 2000);
}

TEST_F(Wave, ChunksBeforeTheDataAreSkippedWithTheirPadding) {
  const std::string list = "LIST" + Le32(3) + "abc" + std::string(1, '\0');
  EXPECT_EQ(WavLength(Write(Wav(Fmt(8000, 1, 8) + list + Data(4000, 4000))))->count(), 500);
}

TEST_F(Wave, ADataChunkClaimingMoreThanTheFileHoldsCountsWhatIsThere) {
  EXPECT_EQ(WavLength(Write(Wav(Fmt(8000, 1, 8) + Data(0xFFFFFFFFu, 800))))->count(), 100);
}

TEST_F(Wave, AnythingElsePlaysNothing) {
  EXPECT_FALSE(WavLength(dir_ / "missing.wav"));
  EXPECT_FALSE(WavLength(Write("")));
  EXPECT_FALSE(WavLength(Write("RIFF" + Le32(4) + "AVI ")));
  EXPECT_FALSE(WavLength(Write(Wav(Data(100, 100) + Fmt(8000, 1, 8)))));  // data before its format
  EXPECT_FALSE(WavLength(Write(Wav(Fmt(0, 1, 8) + Data(100, 100)))));     // no byte rate
  EXPECT_FALSE(WavLength(Write(Wav(Fmt(8000, 1, 8)))));                   // no data
}

TEST_F(Wave, ANamedPipeOrADirectoryIsNoSoundAndNothingWaits) {
  // Opening a pipe for reading would wait for a writer that never comes,
  // and the sound is looked at on the GUI thread.
  const std::string pipe = dir_ / "pipe.wav";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_FALSE(WavLength(pipe));
  const std::string directory = dir_ / "dir.wav";
  ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
  EXPECT_FALSE(WavLength(directory));
}

}  // namespace
