#include "agent2server.hpp"

#include <cstring>

#include "msg.hpp"
#include "platform/liveness_guard.hpp"
#include "zep/agent.hpp"

namespace zep {

ZEP_IMPLEMENT_DYNCREATE(CAgent2Server, CObject);

namespace {

constexpr std::size_t kReadLimit = 256 * 1024;

CMsg& ServerRecord() {
  static CMsg* record = new CMsg();
  return *record;
}

bool IsProbe(const std::string& text) { return text.compare(0, 4, "PING") == 0; }

}  // namespace

CAgent2Server::CAgent2Server(CAgent* agent) : agent_(agent) {}

CAgent2Server::~CAgent2Server() {
  platform::LivenessGuard::MarkGone(gone_);
  Close();
}

int CAgent2Server::Connect(const char* address, unsigned port) {
  auto socket = std::make_unique<CAgent2ServerSocket>(this);
  if (!socket->Create(0) || !socket->Connect(address, port)) return 0;
  socket_ = std::move(socket);
  input_ = std::make_unique<ByteBuffer>();
  return 1;
}

void CAgent2Server::Close() {
  input_.reset();
  socket_.reset();
}

void CAgent2Server::Send(std::string_view text) {
  if (!input_ || !socket_) return;
  if (SendFrame(*socket_, text, false)) return;
  Close();
  if (agent_) agent_->ClientCallBack(TE_SERVER_SEND_FAILED, 0, " ");
}

void CAgent2Server::HandleReceive() {
  platform::LivenessGuard guard(gone_);
  for (;;) {
    if (!socket_) return;
    const InputState state = FillInput(*socket_, *input_, kReadLimit);
    if (state == InputState::kFailed) {
      HandleClose();
      return;
    }
    for (;;) {
      CMsg& record = ServerRecord();
      record.closeFlag = 0;
      FrameStream in = FrameStream::Input(*input_);
      if (!record.SerializeFrame(in, false)) {
        if (in.status() == FrameStatus::kNeedMore) break;
        record.closeFlag = 1;  // bad signature or an oversized frame
      }
      if (record.closeFlag != 0) {
        HandleClose();
        return;
      }
      if (IsProbe(record.text)) {
        Send("PING");  // may tear the connection down
      } else {
        const int goOn = agent_ ? agent_->ClientCallBack(TE_SERVER_MESSAGE, 0, std::move(record.text)) : 1;
        // The callback may have closed or replaced this connection (and
        // deleted this object); it then returns 0.
        if (goOn == 0 || guard.gone()) return;
      }
      if (!input_ || input_->ReadableBytes() == 0) break;
    }
    if (state != InputState::kMore) return;
  }
}

void CAgent2Server::HandleClose() {
  Close();
  if (agent_) agent_->ClientCallBack(TE_SERVER_CLOSED, 0, " ");
}

}  // namespace zep
