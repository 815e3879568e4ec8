// agent2agent.hpp - the manager of one agent's connections to other agents
// (internal): the listener, every open connection in the order it was
// established, and the connection ids, handed out from 0 upward and never
// reused while the manager lives.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>

#include "msg.hpp"
#include "runtime_class.hpp"
#include "sockets.hpp"

class CAgent;

namespace zep {

class CAgent2Agent : public CObject {
  ZEP_DECLARE_RUNTIME_CLASS(CAgent2Agent)

 public:
  explicit CAgent2Agent(CAgent* agent = nullptr);
  ~CAgent2Agent() override;

  virtual CClientSocket* FindSocket(std::uint32_t id);
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
  // Closes, unlists and deletes the socket; reports nothing.
  void CloseSocket(CClientSocket* socket);

  // Notifications from the sockets.
  void HandleAccept();
  void HandleReceive(CClientSocket* socket);
  void HandleClose(CClientSocket* socket);

  std::size_t ConnectionCount() const { return connections_.size(); }

 private:
  void CloseAndReport(CClientSocket* socket);

  std::unique_ptr<CListeningSocket> listener_;
  std::list<std::unique_ptr<CClientSocket>> connections_;
  CAgent* agent_;
  std::uint32_t nextId_ = 0;
  // Set false by the destructor: lets a handler notice that a callback
  // deleted this manager under it.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace zep
