#include "msg.hpp"

namespace zep {

ZEP_IMPLEMENT_DYNCREATE(CMsg, CObject);

namespace detail {

// A thread_local string (it has a destructor) would be reached through a
// wrapper that asks __tls_get_addr for its guard and for itself at every
// mention; the string the pointer points to is made on the thread's first
// use instead.
constinit __attribute__((tls_model("initial-exec"))) thread_local std::string* t_spareLine = nullptr;

std::string& MakeSpareLine() {
  struct Holder {
    std::string line;
    ~Holder() { t_spareLine = nullptr; }
  };
  thread_local Holder holder;
  t_spareLine = &holder.line;
  return holder.line;
}

}  // namespace detail

bool CMsg::SerializeFrame(FrameStream& stream, bool withMarker) {
  if (stream.IsStoring()) {
    const bool ok = AppendFrame(stream.buffer(), text, withMarker,
                                static_cast<std::uint8_t>(closeFlag & 0xFF));
    stream.set_status(ok ? FrameStatus::kOk : FrameStatus::kTooLong);
    return ok;
  }
  const FrameStatus status = TakeFrom(stream.buffer(), withMarker, stream.maxText());
  stream.set_status(status);
  return status == FrameStatus::kOk;
}

}  // namespace zep
