// Frames as bytes on the wire, decoding from a receive buffer that fills up
// piece by piece, hostile lengths and signatures, and creation by class name.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "msg.hpp"
#include "runtime_class.hpp"

namespace zep {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

const std::string kSignature = Bytes({0x6D, 0x52, 0x26, 0x32, 0x73, 0x37, 0x71, 0x56});

std::string PatternText(std::size_t n) {
  std::string text(n, '\0');
  for (std::size_t i = 0; i < n; ++i) text[i] = static_cast<char>((i * 31 + 7) & 0xFF);
  return text;
}

std::string Encode(std::string text, bool withMarker, std::int32_t closeFlag = 0) {
  ByteBuffer buffer;
  FrameStream out = FrameStream::Output(buffer);
  CMsg msg(std::move(text), closeFlag);
  EXPECT_TRUE(msg.SerializeFrame(out, withMarker));
  return std::string(buffer.Readable());
}

// The receiving side of one connection.
struct Receiver {
  explicit Receiver(bool withMarker) : withMarker(withMarker) {
    msg.text = "previous";
    msg.closeFlag = 7;
  }
  bool Read() { return msg.SerializeFrame(in, withMarker); }
  FrameStatus status() const { return in.status(); }
  void ExpectRecordUntouched() const {
    EXPECT_EQ(msg.text, "previous");
    EXPECT_EQ(msg.closeFlag, 7);
  }

  bool withMarker;
  ByteBuffer buffer;
  FrameStream in = FrameStream::Input(buffer);
  CMsg msg;
};

// An agent frame in the 16-bit-character form with the given inner prefix.
std::string WideFrame(const std::string& innerPrefix, const std::vector<unsigned>& units) {
  std::string frame = kSignature + Bytes({0x00, 0xFF, 0xFE, 0xFF}) + innerPrefix;
  for (unsigned u : units) frame += Bytes({static_cast<int>(u & 0xFF), static_cast<int>(u >> 8)});
  return frame;
}

TEST(FrameWriting, EmptyTextIsSignatureMarkerAndOneZeroLengthByte) {
  EXPECT_EQ(Encode("", true), kSignature + Bytes({0x00, 0x00}));
  EXPECT_EQ(Encode("", false), kSignature + Bytes({0x00}));
}

TEST(FrameWriting, CloseMarkerCarriesTheLowByteOfTheCloseFlag) {
  EXPECT_EQ(Encode("x", true, 0x101), kSignature + Bytes({0x01, 0x01, 'x'}));
}

TEST(FrameWriting, LengthPrefixTakesTheShortestFormAtEachBoundary) {
  const std::pair<std::size_t, std::string> cases[] = {
      {254, Bytes({0xFE})},
      {255, Bytes({0xFF, 0xFF, 0x00})},
      {65533, Bytes({0xFF, 0xFD, 0xFF})},
      {65534, Bytes({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00})},
  };
  for (const auto& [length, prefix] : cases) {
    for (bool withMarker : {true, false}) {
      SCOPED_TRACE(length);
      const std::string text = PatternText(length);
      const std::string frame = Encode(text, withMarker);
      const std::size_t at = withMarker ? 9 : 8;
      EXPECT_EQ(frame.size(), FrameSize(length, withMarker));
      EXPECT_EQ(frame.substr(at, prefix.size()), prefix);
      EXPECT_EQ(frame.substr(at + prefix.size()), text);
    }
  }
}

TEST(FrameRoundTrip, EveryLengthFormSurvivesBothVariants) {
  for (bool withMarker : {true, false}) {
    for (std::size_t length : {0, 1, 254, 255, 65533, 65534, 200000}) {
      SCOPED_TRACE(length);
      Receiver r(withMarker);
      r.buffer.Append(Encode(PatternText(length), withMarker));
      ASSERT_TRUE(r.Read());
      EXPECT_EQ(r.msg.text, PatternText(length));
      EXPECT_EQ(r.msg.closeFlag, 0);
      EXPECT_EQ(r.buffer.ReadableBytes(), 0u);
    }
  }
}

TEST(FrameReassembly, TwoFramesInOneBufferComeOutOneAtATimeInOrder) {
  Receiver r(true);
  r.buffer.Append(Encode("first", true) + Encode("second", true));
  ASSERT_TRUE(r.Read());
  EXPECT_EQ(r.msg.text, "first");
  EXPECT_EQ(r.buffer.ReadableBytes(), FrameSize(6, true));
  ASSERT_TRUE(r.Read());
  EXPECT_EQ(r.msg.text, "second");
  EXPECT_FALSE(r.Read());
  EXPECT_EQ(r.status(), FrameStatus::kNeedMore);
}

TEST(FrameReassembly, FrameFedOneByteAtATimeDecodesOnlyWhenComplete) {
  // 300 bytes: the three-byte length prefix is split as well.
  const std::string frame = Encode(PatternText(300), true);
  Receiver r(true);
  for (std::size_t i = 0; i + 1 < frame.size(); ++i) {
    r.buffer.Append(&frame[i], 1);
    ASSERT_FALSE(r.Read()) << "after byte " << i;
    ASSERT_EQ(r.status(), FrameStatus::kNeedMore);
    ASSERT_EQ(r.buffer.ReadableBytes(), i + 1);
  }
  r.ExpectRecordUntouched();
  r.buffer.Append(&frame.back(), 1);
  ASSERT_TRUE(r.Read());
  EXPECT_EQ(r.msg.text, PatternText(300));
  EXPECT_EQ(r.buffer.ReadableBytes(), 0u);
}

TEST(FrameSignature, WrongFirstByteIsRejectedAsSoonAsItArrives) {
  Receiver r(true);
  r.buffer.Append(Bytes({0x47}));
  EXPECT_FALSE(r.Read());
  EXPECT_EQ(r.status(), FrameStatus::kBadSignature);
  EXPECT_EQ(r.buffer.ReadableBytes(), 0u);
  r.ExpectRecordUntouched();
}

TEST(FrameSignature, WrongFifthByteConsumesExactlyFiveBytes) {
  std::string frame = Encode("hello", false);
  frame[4] = 'X';
  Receiver r(false);
  r.buffer.Append(frame);
  EXPECT_FALSE(r.Read());
  EXPECT_EQ(r.status(), FrameStatus::kBadSignature);
  EXPECT_EQ(r.buffer.ReadableBytes(), frame.size() - 5);
  r.ExpectRecordUntouched();
}

TEST(FrameCloseMarker, MarkerByteIsReadZeroExtendedIntoTheCloseFlag) {
  Receiver r(true);
  r.buffer.Append(kSignature + Bytes({0x01, 0x02, 'h', 'i'}));
  r.buffer.Append(kSignature + Bytes({0xFF, 0x00}));
  ASSERT_TRUE(r.Read());
  EXPECT_EQ(r.msg.text, "hi");
  EXPECT_EQ(r.msg.closeFlag, 1);
  ASSERT_TRUE(r.Read());
  EXPECT_EQ(r.msg.closeFlag, 255);
}

TEST(FrameCloseMarker, ServerFramesHaveNoMarkerAndLeaveTheFlagClear) {
  Receiver r(false);
  r.buffer.Append(kSignature + Bytes({0x02, 'h', 'i'}));
  ASSERT_TRUE(r.Read());
  EXPECT_EQ(r.msg.text, "hi");
  EXPECT_EQ(r.msg.closeFlag, 0);
}

TEST(WideTextFrame, UnitsBecomeLatin1AndOthersBecomeQuestionMarks) {
  Receiver r(true);
  r.buffer.Append(WideFrame(Bytes({0x04}), {'A', 0xE9, 0x263A, 0xFF}));
  ASSERT_TRUE(r.Read());
  EXPECT_EQ(r.msg.text, "A\xE9?\xFF");
}

TEST(WideTextFrame, ThreeAndSevenByteInnerPrefixesCountUnits) {
  const std::pair<std::size_t, std::string> cases[] = {
      {300, Bytes({0xFF, 0x2C, 0x01})},
      {70000, Bytes({0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00})},
  };
  for (const auto& [count, prefix] : cases) {
    SCOPED_TRACE(count);
    std::vector<unsigned> units(count, 'x');
    units[count / 2] = 0x100;
    std::string expected(count, 'x');
    expected[count / 2] = '?';
    const std::string frame = WideFrame(prefix, units);
    Receiver r(true);
    r.buffer.Append(frame.substr(0, frame.size() - 1));
    EXPECT_FALSE(r.Read());
    EXPECT_EQ(r.status(), FrameStatus::kNeedMore);
    r.buffer.Append(frame.substr(frame.size() - 1));
    ASSERT_TRUE(r.Read());
    EXPECT_EQ(r.msg.text, expected);
    EXPECT_EQ(r.buffer.ReadableBytes(), 0u);
  }
}

TEST(FrameLimits, HugeAnnouncedLengthsAreRefusedBeforeAnyTextArrives) {
  const std::string headers[] = {
      kSignature + Bytes({0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),  // 4 GiB - 1
      kSignature + Bytes({0x00, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x10, 0x00}),  // 1 MiB + 1
      // 16-bit form: 512 Ki + 1 units is one unit over the limit.
      kSignature + Bytes({0x00, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x08, 0x00}),
  };
  for (const std::string& header : headers) {
    Receiver r(true);
    r.buffer.Append(header);
    EXPECT_FALSE(r.Read());
    EXPECT_EQ(r.status(), FrameStatus::kTooLong);
    EXPECT_LT(r.buffer.Capacity(), kMaxFrameText);
    r.ExpectRecordUntouched();
  }
}

TEST(FrameLimits, ExactlyOneMebibyteIsAccepted) {
  Receiver r(false);
  r.buffer.Append(Encode(PatternText(kMaxFrameText), false));
  ASSERT_TRUE(r.Read());
  EXPECT_EQ(r.msg.text.size(), kMaxFrameText);

  std::vector<unsigned> units(kMaxFrameText / 2, 'w');
  r.buffer.Append(WideFrame(Bytes({0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x08, 0x00}), units));
  r.withMarker = true;
  ASSERT_TRUE(r.Read());
  EXPECT_EQ(r.msg.text, std::string(kMaxFrameText / 2, 'w'));
}

TEST(ByteBufferRegions, SocketStyleWritesLandAfterTheUnreadBytes) {
  ByteBuffer buffer(16);
  buffer.Append("abc");
  buffer.EnsureWritable(5000);
  ASSERT_GE(buffer.WritableBytes(), 5000u);
  std::memset(buffer.BeginWrite(), 'z', 5000);
  buffer.HasWritten(5000);
  EXPECT_EQ(buffer.Readable(), "abc" + std::string(5000, 'z'));
}

TEST(ByteBufferRegions, ConsumedSpaceIsReusedBeforeTheBufferGrows) {
  ByteBuffer buffer(64);
  const std::size_t capacity = buffer.Capacity();
  buffer.Append(PatternText(60));
  buffer.Retrieve(50);
  buffer.Append(std::string(40, 'n'));
  EXPECT_EQ(buffer.Capacity(), capacity);
  EXPECT_EQ(buffer.Readable(), PatternText(60).substr(50) + std::string(40, 'n'));

  buffer.Append(std::string(100, 'g'));
  EXPECT_GT(buffer.Capacity(), capacity);
  EXPECT_EQ(buffer.RetrieveAsString(50), PatternText(60).substr(50) + std::string(40, 'n'));
  buffer.Shrink();
  EXPECT_EQ(buffer.Readable(), std::string(100, 'g'));
}

// Registered by name without a factory, as the socket classes that need an
// owner will be.
class CNeedsOwner : public CMsg {
  ZEP_DECLARE_RUNTIME_CLASS(CNeedsOwner)
};
ZEP_IMPLEMENT_RUNTIME_CLASS(CNeedsOwner, CMsg, nullptr);

TEST(RuntimeClassRegistry, CreatesAFreshCMsgByName) {
  ASSERT_EQ(RuntimeClass::FromName("CMsg"), &CMsg::kRuntimeClass);
  std::unique_ptr<CObject> object = RuntimeClass::CreateByName("CMsg");
  ASSERT_NE(object, nullptr);
  EXPECT_TRUE(object->IsKindOf(CObject::kRuntimeClass));
  auto* msg = dynamic_cast<CMsg*>(object.get());
  ASSERT_NE(msg, nullptr);
  EXPECT_STREQ(msg->GetRuntimeClass().name(), "CMsg");
  EXPECT_EQ(msg->text, "");
  EXPECT_EQ(msg->closeFlag, 0);
}

TEST(RuntimeClassRegistry, UnknownNameGivesNull) {
  EXPECT_EQ(RuntimeClass::FromName("CNoSuchClass"), nullptr);
  EXPECT_EQ(RuntimeClass::CreateByName("CNoSuchClass"), nullptr);
  EXPECT_EQ(RuntimeClass::FromName(nullptr), nullptr);
}

TEST(RuntimeClassRegistry, ClassWithoutFactoryIsKnownButNotCreated) {
  const RuntimeClass* cls = RuntimeClass::FromName("CNeedsOwner");
  ASSERT_EQ(cls, &CNeedsOwner::kRuntimeClass);
  EXPECT_EQ(cls->Create(), nullptr);
  EXPECT_TRUE(cls->IsDerivedFrom(CMsg::kRuntimeClass));
  EXPECT_FALSE(CMsg::kRuntimeClass.IsDerivedFrom(*cls));
}

}  // namespace
}  // namespace zep
