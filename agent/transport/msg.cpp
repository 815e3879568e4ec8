#include "msg.hpp"

namespace zep {

ZEP_IMPLEMENT_DYNCREATE(CMsg, CObject);

namespace {

// Room for any line between agents (a user message with two ids); longer
// ones come from the server's answers and are rare.
constexpr std::size_t kMaxSpareCapacity = 2048;

// This thread's spare line. A thread_local string (it has a destructor) is
// reached through a wrapper that asks __tls_get_addr for its guard and for
// itself at every mention; a plain pointer in the initial-exec model is one
// load from the thread pointer (see t_running in the platform's loop.cpp),
// and the string it points to is made on the thread's first use.
__attribute__((tls_model("initial-exec"))) thread_local std::string* t_spareLine = nullptr;

std::string& SpareLine() {
  if (std::string* line = t_spareLine) return *line;
  struct Holder {
    std::string line;
    ~Holder() { t_spareLine = nullptr; }
  };
  thread_local Holder holder;
  t_spareLine = &holder.line;
  return holder.line;
}

}  // namespace

std::string TakeSpareLine() {
  std::string& spare = SpareLine();
  std::string line = std::move(spare);
  spare.clear();  // moved from: made empty, not a new string
  line.clear();
  return line;
}

void ReturnSpareLine(std::string&& line) {
  std::string& spare = SpareLine();
  if (line.capacity() <= spare.capacity() || line.capacity() > kMaxSpareCapacity) return;
  spare = std::move(line);
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
