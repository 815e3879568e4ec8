// agent2agent.hpp - the manager of one agent's connections to other agents
// (internal): the listener, every open connection in the order it was
// established, and the connection ids, handed out from 0 upward and never
// reused while the manager lives.
//
// It also holds the line against peers (peer_limits.hpp): accepted
// connections over the cap are closed at once, a frame (or an accepted
// connection's first line) that does not arrive within the deadline closes
// its connection, and "CPIN" reports to the server are sent at most once per
// player id within the report interval.
#pragma once

#include <chrono>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "msg.hpp"
#include "peer_limits.hpp"
#include "platform/timer.hpp"
#include "runtime_class.hpp"
#include "sockets.hpp"

class CAgent;

namespace zep {

class CAgent2Agent : public CObject {
  ZEP_DECLARE_RUNTIME_CLASS(CAgent2Agent)

 public:
  using Target = std::pair<std::string, unsigned>;  // dotted address, port

  explicit CAgent2Agent(CAgent* agent = nullptr);
  ~CAgent2Agent() override;

  virtual CClientSocket* FindSocket(std::uint32_t id);
  // The same without the virtual call, inline for the look-ups of every
  // message.
  CClientSocket* FindConnection(std::uint32_t id) const {
    for (const auto& s : connections_)
      if (s->connectionId == id) return s.get();
    return nullptr;
  }
  // Listens on `port`; returns the bound port or 0. A listener made before
  // is released first.
  virtual unsigned Listen(unsigned port);
  virtual int Connect(std::uint32_t* id, const char* address, unsigned port);
  // Deletes the listener, then closes and deletes every connection, silently.
  virtual void CloseAll();

  // Sends the record on the socket, or closes the socket when the record's
  // close flag is set. 1 when sent or closed; 0 when the socket has no
  // streams or the send failed (the socket is then closed and
  // TE_PEER_SEND_FAILED raised).
  int Send(CClientSocket* socket, const CMsg& record);
  // The same for the line "<command> <id> <message>" (close flag clear),
  // sent without being put together in a string of its own.
  // (Inline: every user message is sent this way.)
  int SendLine(CClientSocket* socket, std::string_view command, std::string_view id,
               std::string_view message) {
    if (!socket->HasStreams()) return 0;
    return SendLineFrame(*socket, command, id, message) ? 1 : Sent(socket, false);
  }
  // Closes, unlists and deletes the socket; reports nothing.
  void CloseSocket(CClientSocket* socket);

  // Connects to every target at once, all within one connect bound, sends
  // `text` on each connection that was made and closes it. Each target that
  // could not be reached is reported to the server as by Connect. The
  // connections get no ids and raise no events.
  void SendToEach(const std::vector<Target>& targets, std::string_view text);

  // Notifications from the sockets.
  void HandleAccept();
  void HandleReceive(CClientSocket* socket);
  void HandleClose(CClientSocket* socket);

  std::size_t ConnectionCount() const { return connections_.size(); }
  // Memory the connections' input buffers hold together.
  std::size_t InputCapacity() const;
  const PeerLimits& limits() const { return limits_; }
  // Tests use small limits to reach them with a handful of connections.
  void SetLimits(const PeerLimits& limits);

 private:
  void CloseAndReport(CClientSocket* socket);
  // A line that arrived on connection `id`, to the agent's callback as
  // ClientCallBack passes it (0 without a callback), but moved only once on
  // the way.
  int PassLine(std::uint32_t id, std::string&& line);
  // After a send on `socket`: 1 when it went out; else the socket is closed,
  // TE_PEER_SEND_FAILED raised, and 0.
  int Sent(CClientSocket* socket, bool ok);
  // Sends "CPIN ID=<address>:<port>;" to the server unless that id was
  // reported within the report interval.
  void ReportUnreachable(const char* address, unsigned port);
  // Gives the frame under way on `socket` its deadline, if it has none yet.
  void WatchIncompleteFrame(CClientSocket* socket);
  // Arms the deadline timer for the earliest frame due, if any.
  void ArmDeadline();
  void OnDeadline();

  std::unique_ptr<CListeningSocket> listener_;
  std::list<std::unique_ptr<CClientSocket>> connections_;
  CAgent* agent_;
  std::uint32_t nextId_ = 0;
  PeerLimits limits_;
  std::unique_ptr<platform::Timer> deadlineTimer_;
  std::chrono::steady_clock::time_point armedFor_ = std::chrono::steady_clock::time_point::max();
  // Player id -> when it was last reported unreachable.
  std::map<std::string, std::chrono::steady_clock::time_point> reported_;
  // Lets a handler notice that a callback deleted this manager under it
  // (platform/liveness_guard.hpp).
  bool* gone_ = nullptr;
};

}  // namespace zep
