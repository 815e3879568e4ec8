// Frames decoded from streams cut at random places, and random bytes thrown
// at the decoder: whatever arrives, the decoder hands on exactly the frames
// that were sent, consumes only what it says, and never reads past its input.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "msg.hpp"

namespace zep {
namespace {

std::string RandomText(std::mt19937& rng, std::size_t maxLength) {
  // Mostly short lines, now and then one that needs the longer prefixes.
  std::uniform_int_distribution<int> kind(0, 9);
  std::size_t length = kind(rng) < 8 ? rng() % 300 : rng() % (maxLength + 1);
  std::string text(length, '\0');
  for (char& c : text) c = static_cast<char>(rng());
  return text;
}

TEST(FrameStream, FramesCutAtRandomPlacesComeOutWholeAndInOrder) {
  std::mt19937 rng(20261207);
  for (int round = 0; round < 200; ++round) {
    const bool withMarker = round % 2 == 0;
    std::vector<std::string> sent;
    ByteBuffer wire;
    for (int i = 0, n = 1 + static_cast<int>(rng() % 8); i < n; ++i) {
      sent.push_back(RandomText(rng, 70000));
      ASSERT_TRUE(AppendFrame(wire, sent.back(), withMarker));
    }
    const std::string bytes(wire.Readable());

    ByteBuffer in;
    std::vector<std::string> got;
    std::size_t fed = 0;
    while (fed < bytes.size()) {
      const std::size_t piece = std::min<std::size_t>(bytes.size() - fed, 1 + rng() % 5000);
      in.Append(bytes.data() + fed, piece);
      fed += piece;
      std::string text;
      std::uint8_t marker = 7;
      FrameStatus status;
      while ((status = TakeFrame(in, withMarker, text, marker)) == FrameStatus::kOk) {
        got.push_back(text);
        EXPECT_EQ(marker, 0);
      }
      ASSERT_EQ(status, FrameStatus::kNeedMore);
    }
    EXPECT_EQ(in.ReadableBytes(), 0u);
    ASSERT_EQ(got.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) ASSERT_TRUE(got[i] == sent[i]) << "frame " << i;
  }
}

TEST(FrameStream, RandomBytesNeverMakeTheDecoderOverreachOrLoop) {
  std::mt19937 rng(7);
  for (int round = 0; round < 5000; ++round) {
    std::string bytes(rng() % 64, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    // Half the time start with a valid signature so the decoder gets past it.
    if (round % 2 == 0) bytes.insert(0, "mR&2s7qV");
    const bool withMarker = round % 3 != 0;
    ByteBuffer in;
    in.Append(bytes);
    for (int step = 0; step < 100; ++step) {
      const std::size_t before = in.ReadableBytes();
      const FrameProbe probe = ProbeFrame(in.Readable(), withMarker);
      std::string text;
      std::uint8_t marker = 0;
      const FrameStatus status = TakeFrame(in, withMarker, text, marker);
      const std::size_t consumed = before - in.ReadableBytes();
      if (status == FrameStatus::kOk) {
        ASSERT_EQ(probe.status, FrameStatus::kOk);
        ASSERT_EQ(consumed, probe.FrameSize()) << "a frame takes its own bytes, no more";
        ASSERT_LE(text.size(), kMaxFrameText);
      } else if (status == FrameStatus::kBadSignature) {
        ASSERT_GE(consumed, 1u);
        ASSERT_LE(consumed, 8u);
        break;  // the connection would be closed here
      } else {
        ASSERT_EQ(consumed, 0u) << "nothing is taken from an incomplete or refused frame";
        break;
      }
    }
  }
}

}  // namespace
}  // namespace zep
