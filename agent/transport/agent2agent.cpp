#include "agent2agent.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "agent2server.hpp"
#include "platform/hot_path.hpp"
#include "platform/liveness_guard.hpp"
#include "zep/agent.hpp"

namespace zep {

ZEP_IMPLEMENT_DYNCREATE(CAgent2Agent, CObject);

namespace {

using Clock = std::chrono::steady_clock;
constexpr Clock::time_point kNothingDue = Clock::time_point::max();

// How much one receive notification takes from the kernel, in as many
// passes as the input buffer's bound needs, before the other connections get
// their turn; what is left keeps the socket readable for the next one.
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
  platform::LivenessGuard::MarkGone(gone_);
  CloseAll();
}

CClientSocket* CAgent2Agent::FindSocket(std::uint32_t id) { return FindConnection(id); }

unsigned CAgent2Agent::Listen(unsigned port) {
  listener_.reset();
  auto listener = std::make_unique<CListeningSocket>(this);
  std::string address;
  unsigned bound = 0;
  // The system's usual backlog: with a handful, a burst of agents
  // connecting at once waits a second for each handshake the kernel dropped.
  if (!listener->Create(port) || !listener->GetSockName(address, bound) || !listener->Listen())
    return 0;
  listener_ = std::move(listener);
  return bound;
}

int CAgent2Agent::Connect(std::uint32_t* id, const char* address, unsigned port) {
  auto socket = std::make_unique<CClientSocket>(this);
  if (!socket->Create(0)) return 0;
  if (!socket->Connect(address, port)) {
    socket.reset();
    ReportUnreachable(address, port);
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
  return Sent(socket, socket->SendMsg(record));
}

int CAgent2Agent::Sent(CClientSocket* socket, bool ok) {
  if (ok) return 1;
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

void CAgent2Agent::SendToEach(const std::vector<Target>& targets, std::string_view text) {
  // Started together and waited for together: however many targets there
  // are, and however many of them never answer, the call takes no longer
  // than one connect.
  std::vector<std::unique_ptr<CClientSocket>> sockets(targets.size());
  std::vector<platform::AsyncSocket*> started;
  started.reserve(targets.size());
  for (std::size_t i = 0; i < targets.size(); ++i) {
    auto socket = std::make_unique<CClientSocket>();  // no owner: no events
    if (!socket->Create(0)) continue;                  // out of descriptors: not the target's fault
    // Only dotted addresses: a name in a peer's text would cost a lookup.
    if (socket->StartConnect(targets[i].first.c_str(), targets[i].second)) started.push_back(socket.get());
    sockets[i] = std::move(socket);
  }
  platform::AsyncSocket::FinishConnects(started);
  platform::LivenessGuard guard(gone_);
  for (std::size_t i = 0; i < targets.size(); ++i) {
    if (!sockets[i]) continue;
    if (sockets[i]->IsOpen()) {
      // A new connection's send buffer is empty: the short line is taken at once.
      SendFrame(*sockets[i], text, true);
      sockets[i]->Close();
    } else {
      // A report that cannot be written tears the server connection down
      // and calls the session back, which may go as far as deleting us.
      ReportUnreachable(targets[i].first.c_str(), targets[i].second);
      if (guard.gone()) return;
    }
  }
}

void CAgent2Agent::ReportUnreachable(const char* address, unsigned port) {
  if (agent_ == nullptr || agent_->server_ == nullptr) return;
  char line[600];
  std::snprintf(line, sizeof line, "CPIN ID=%.500s:%u;", address ? address : "", port);
  const std::string id(line + 8, std::strlen(line) - 9);
  const auto now = Clock::now();
  auto it = reported_.find(id);
  if (it != reported_.end() && now - it->second < limits_.unreachableReportInterval) return;
  if (it == reported_.end() && reported_.size() >= kMaxUnreachableReports) {
    std::erase_if(reported_, [&](const auto& entry) {
      return now - entry.second >= limits_.unreachableReportInterval;
    });
    if (reported_.size() >= kMaxUnreachableReports) return;
  }
  reported_[id] = now;
  agent_->server_->Send(line);
}

void CAgent2Agent::HandleAccept() {
  if (!listener_) return;
  auto socket = std::make_unique<CClientSocket>(this);
  if (!listener_->Accept(*socket)) return;  // discarded; nothing to report
  if (connections_.size() >= limits_.maxConnections) {
    // Closed at once: taking it would let peers hold connections without end.
    socket->Close();
    return;
  }
  socket->InitStreams();
  socket->connectionId = nextId_++;
  // Whoever connects here has a line to say, and says it at once.
  socket->frameDue = Clock::now() + limits_.frameDeadline;
  const std::uint32_t id = socket->connectionId;
  connections_.push_back(std::move(socket));
  ArmDeadline();
  if (agent_) agent_->ClientCallBack(TE_PEER_ACCEPTED, id, " ");
}

std::size_t CAgent2Agent::InputCapacity() const {
  std::size_t total = 0;
  for (const auto& s : connections_) total += s->InputCapacity();
  return total;
}

void CAgent2Agent::SetLimits(const PeerLimits& limits) {
  limits_ = limits;
  ArmDeadline();
}

void CAgent2Agent::ArmDeadline() {
  Clock::time_point earliest = kNothingDue;
  for (const auto& s : connections_) earliest = std::min(earliest, s->frameDue);
  if (earliest == kNothingDue) {
    if (deadlineTimer_) deadlineTimer_->Stop();
    armedFor_ = kNothingDue;
    return;
  }
  if (deadlineTimer_ && deadlineTimer_->IsArmed() && armedFor_ <= earliest) return;
  if (!deadlineTimer_) deadlineTimer_ = std::make_unique<platform::Timer>([this] { OnDeadline(); });
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(earliest - Clock::now());
  if (deadlineTimer_->Start(wait)) armedFor_ = earliest;
}

void CAgent2Agent::OnDeadline() {
  armedFor_ = kNothingDue;
  const auto now = Clock::now();
  std::vector<std::uint32_t> expired;
  for (const auto& s : connections_)
    if (s->frameDue <= now) expired.push_back(s->connectionId);
  platform::LivenessGuard guard(gone_);
  for (const std::uint32_t id : expired) {
    // A peer too slow to finish its frame is treated like one that hung up.
    if (CClientSocket* socket = FindSocket(id)) CloseAndReport(socket);
    if (guard.gone()) return;
  }
  ArmDeadline();
}

void CAgent2Agent::CloseAndReport(CClientSocket* socket) {
  const std::uint32_t id = socket->connectionId;
  CloseSocket(socket);
  if (agent_) agent_->ClientCallBack(TE_PEER_CLOSED, id, " ");
}

inline int CAgent2Agent::PassLine(std::uint32_t id, std::string&& line) {
  return agent_->callback_ != nullptr ? agent_->callback_(agent_, TE_PEER_MESSAGE, id, std::move(line)) : 0;
}

// Takes in what has arrived and hands on every whole line, in order, one at
// a time. An incomplete frame stays buffered until more bytes come: a peer
// that stops half-way through a frame holds up nobody else, and is closed
// when the frame's deadline passes.
PLAT_HOT_PATH void CAgent2Agent::HandleReceive(CClientSocket* socket) {
  const std::uint32_t id = socket->connectionId;
  platform::LivenessGuard guard(gone_);
  // Whether `socket` is still ours after a callback.
  const auto stillThere = [&] { return !guard.gone() && FindConnection(id) == socket; };
  std::size_t budget = kReadLimit;
  for (;;) {
    const std::size_t held = socket->BufferedBytes();
    const InputState state = socket->ReadInput(budget);
    budget -= std::min(budget, socket->BufferedBytes() - held);  // reading only ever adds
    if (state == InputState::kFailed) {
      CloseAndReport(socket);
      return;
    }
    for (;;) {
      CMsg& record = AgentRecord();
      // The text of the last line went to the session, which gives its
      // buffer back once done with it.
      if (record.text.capacity() <= std::string().capacity()) TakeSpareLineInto(record.text);
      if (!socket->ReceiveMsg(record)) {
        if (socket->status() == FrameStatus::kNeedMore) break;
        record.closeFlag = 1;  // bad signature or an oversized frame
      }
      if (record.closeFlag != 0) {
        CloseAndReport(socket);
        return;
      }
      socket->frameDue = kNothingDue;
      // The line is handed over, not copied; the record's text is read
      // afresh into a spare buffer by the next frame.
      const int goOn = agent_ ? PassLine(id, std::move(record.text)) : 1;
      // A callback that closed this connection should have returned 0; make
      // sure anyway before touching the socket again.
      if (!stillThere()) return;
      if (goOn == 0) {
        WatchIncompleteFrame(socket);
        return;
      }
      if (!socket->HasBufferedInput()) break;
    }
    // The end of the stream, if it came, is reported by the close
    // notification that follows; bytes of a frame cut short by it are lost
    // with the connection.
    if (state != InputState::kMore || budget == 0) break;
  }
  // Nothing buffered: no frame is under way.
  if (socket->HasBufferedInput()) WatchIncompleteFrame(socket);
}

void CAgent2Agent::WatchIncompleteFrame(CClientSocket* socket) {
  if (socket->frameDue != kNothingDue || !socket->HasIncompleteFrame()) return;
  socket->frameDue = Clock::now() + limits_.frameDeadline;
  ArmDeadline();
}

void CAgent2Agent::HandleClose(CClientSocket* socket) { CloseAndReport(socket); }

}  // namespace zep
