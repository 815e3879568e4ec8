#include "agent2agent.hpp"

#include <cstdio>

#include "agent2server.hpp"
#include "zep/agent.hpp"

namespace zep {

ZEP_IMPLEMENT_DYNCREATE(CAgent2Agent, CObject);

namespace {

// How much one pass of the receive handler takes from the kernel before it
// turns the buffered bytes into lines; the loop then reads again.
constexpr std::size_t kReadLimit = 256 * 1024;

// Every agent connection reads into this one record (lines are handed on as
// copies, one at a time, so nothing else ever holds it).
CMsg& AgentRecord() {
  static CMsg* record = new CMsg();
  return *record;
}

}  // namespace

CAgent2Agent::CAgent2Agent(CAgent* agent) : agent_(agent) {}

CAgent2Agent::~CAgent2Agent() {
  *alive_ = false;
  CloseAll();
}

CClientSocket* CAgent2Agent::FindSocket(std::uint32_t id) {
  for (auto& s : connections_)
    if (s->connectionId == id) return s.get();
  return nullptr;
}

unsigned CAgent2Agent::Listen(unsigned port) {
  listener_.reset();
  auto listener = std::make_unique<CListeningSocket>(this);
  std::string address;
  unsigned bound = 0;
  if (!listener->Create(port) || !listener->GetSockName(address, bound) || !listener->Listen(5))
    return 0;
  listener_ = std::move(listener);
  return bound;
}

int CAgent2Agent::Connect(std::uint32_t* id, const char* address, unsigned port) {
  auto socket = std::make_unique<CClientSocket>(this);
  if (!socket->Create(0)) return 0;
  if (!socket->Connect(address, port)) {
    socket.reset();
    if (agent_ != nullptr && agent_->server_ != nullptr) {
      char line[600];
      std::snprintf(line, sizeof line, "CPIN ID=%.500s:%u;", address ? address : "", port);
      agent_->server_->Send(line);
    }
    return 0;
  }
  socket->connectionId = nextId_++;
  if (id != nullptr) *id = socket->connectionId;
  socket->InitStreams();
  connections_.push_back(std::move(socket));
  return 1;
}

void CAgent2Agent::CloseAll() {
  listener_.reset();
  while (!connections_.empty()) {
    connections_.front()->Close();
    connections_.pop_front();
  }
}

int CAgent2Agent::Send(CClientSocket* socket, const CMsg& record) {
  if (!socket->HasStreams()) return 0;
  if (record.closeFlag != 0) {
    CloseSocket(socket);
    return 1;
  }
  if (socket->SendMsg(record)) return 1;
  const std::uint32_t id = socket->connectionId;
  CloseSocket(socket);
  if (agent_) agent_->ClientCallBack(TE_PEER_SEND_FAILED, id, " ");
  return 0;
}

void CAgent2Agent::CloseSocket(CClientSocket* socket) {
  socket->Close();
  for (auto it = connections_.begin(); it != connections_.end(); ++it) {
    if (it->get() == socket) {
      connections_.erase(it);  // deletes the socket
      return;
    }
  }
}

void CAgent2Agent::HandleAccept() {
  if (!listener_) return;
  auto socket = std::make_unique<CClientSocket>(this);
  if (!listener_->Accept(*socket)) return;  // discarded; nothing to report
  socket->InitStreams();
  socket->connectionId = nextId_++;
  const std::uint32_t id = socket->connectionId;
  connections_.push_back(std::move(socket));
  if (agent_) agent_->ClientCallBack(TE_PEER_ACCEPTED, id, " ");
}

void CAgent2Agent::CloseAndReport(CClientSocket* socket) {
  const std::uint32_t id = socket->connectionId;
  CloseSocket(socket);
  if (agent_) agent_->ClientCallBack(TE_PEER_CLOSED, id, " ");
}

// Takes in what has arrived and hands on every whole line, in order, one at
// a time. An incomplete frame stays buffered until more bytes come: a peer
// that stops half-way through a frame holds up nobody else.
void CAgent2Agent::HandleReceive(CClientSocket* socket) {
  const std::uint32_t id = socket->connectionId;
  std::shared_ptr<bool> alive = alive_;
  for (;;) {
    const InputState state = socket->ReadInput(kReadLimit);
    if (state == InputState::kFailed) {
      CloseAndReport(socket);
      return;
    }
    for (;;) {
      CMsg& record = AgentRecord();
      if (!socket->ReceiveMsg(record)) {
        if (socket->status() == FrameStatus::kNeedMore) break;
        record.closeFlag = 1;  // bad signature or an oversized frame
      }
      if (record.closeFlag != 0) {
        CloseAndReport(socket);
        return;
      }
      // The line is handed over, not copied; the record's text is assigned
      // afresh by the next frame.
      const int goOn = agent_ ? agent_->ClientCallBack(TE_PEER_MESSAGE, id, std::move(record.text)) : 1;
      if (goOn == 0) return;
      // A callback that closed this connection should have returned 0; make
      // sure anyway before touching the socket again.
      if (!*alive || FindSocket(id) != socket) return;
      if (!socket->HasBufferedInput()) break;
    }
    // The end of the stream, if it came, is reported by the close
    // notification that follows; bytes of a frame cut short by it are lost
    // with the connection.
    if (state != InputState::kMore) return;
  }
}

void CAgent2Agent::HandleClose(CClientSocket* socket) { CloseAndReport(socket); }

}  // namespace zep
