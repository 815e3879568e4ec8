#include "msg.hpp"

namespace zep {

ZEP_IMPLEMENT_DYNCREATE(CMsg, CObject);

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
