#include "msg.hpp"

namespace zep {

ZEP_IMPLEMENT_DYNCREATE(CMsg, CObject);

namespace {

// Room for any line between agents (a user message with two ids); longer
// ones come from the server's answers and are rare.
constexpr std::size_t kMaxSpareCapacity = 2048;

thread_local std::string t_spareLine;

}  // namespace

std::string TakeSpareLine() {
  std::string line = std::move(t_spareLine);
  t_spareLine = std::string();
  line.clear();
  return line;
}

void ReturnSpareLine(std::string&& line) {
  if (line.capacity() <= t_spareLine.capacity() || line.capacity() > kMaxSpareCapacity) return;
  t_spareLine = std::move(line);
}

bool CMsg::SerializeFrame(FrameStream& stream, bool withMarker) {
  if (stream.IsStoring()) {
    const bool ok = AppendFrame(stream.buffer(), text, withMarker,
                                static_cast<std::uint8_t>(closeFlag & 0xFF));
    stream.set_status(ok ? FrameStatus::kOk : FrameStatus::kTooLong);
    return ok;
  }
  std::uint8_t marker = 0;
  const FrameStatus status = TakeFrame(stream.buffer(), withMarker, text, marker, stream.maxText());
  stream.set_status(status);
  if (status != FrameStatus::kOk) return false;
  closeFlag = marker;
  return true;
}

}  // namespace zep
