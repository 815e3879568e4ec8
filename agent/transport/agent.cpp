// CAgent: the exported transport object. It owns the server connection and
// the manager of agent connections and passes every event to one callback.
#include "zep/agent.hpp"

#include "agent2agent.hpp"
#include "agent2server.hpp"
#include "msg.hpp"
#include "platform/platform.h"

using zep::CAgent2Agent;
using zep::CAgent2Server;

CAgent::CAgent() = default;

// Server connection first, then the agent connections; closing locally
// raises no event, so nothing is reported while tearing down.
CAgent::~CAgent() { ReleaseConnections(); }

int CAgent::Init(EventCallback callback) {
  if (plat_loop_fd() < 0) return 0;  // no event loop: sockets cannot work
  if (callback == nullptr) return 0;
  callback_ = callback;
  return 1;
}

int CAgent::ASConnectCreate(const char* address, unsigned port) {
  DropServerConnection();
  if (address == nullptr) return 0;
  server_ = std::make_unique<CAgent2Server>(this);
  if (!server_->Connect(address, port)) {
    DropServerConnection();
    return 0;
  }
  return 1;
}

unsigned CAgent::AAListnerCreate(unsigned firstPort) {
  if (!peers_) peers_ = std::make_unique<CAgent2Agent>(this);
  for (unsigned port = firstPort; port < firstPort + 100; ++port) {
    if (port > 65535) break;
    unsigned bound = peers_->Listen(port);
    if (bound != 0) return bound;
  }
  return 0;
}

int CAgent::AAConnectCreate(std::uint32_t* id, const char* address, unsigned port) {
  if (address == nullptr) return 0;
  if (!peers_) peers_ = std::make_unique<CAgent2Agent>(this);
  return peers_->Connect(id, address, port);
}

int CAgent::AASend(std::uint32_t id, std::string text, int closeFlag) {
  if (!peers_) return 0;
  zep::CClientSocket* socket = peers_->FindSocket(id);
  if (socket == nullptr) return 0;
  zep::CMsg record(std::move(text), closeFlag);
  const int sent = peers_->Send(socket, record);
  zep::ReturnSpareLine(std::move(record.text));
  return sent;
}

int CAgent::ASSend(std::string text, int closeFlag) {
  if (!server_) return 0;
  if (closeFlag != 0) {
    server_.reset();  // closes without an event
    return 1;
  }
  server_->Send(text);
  return 1;
}

int CAgent::ClientCallBack(std::uint32_t event, std::uint32_t connectionId, std::string text) {
  if (callback_ == nullptr) return 0;
  return callback_(this, event, connectionId, std::move(text));
}

int CAgent::GetSockName(std::uint32_t connectionId, std::string& address, unsigned& port) {
  if (!peers_) return 0;
  zep::CClientSocket* socket = peers_->FindSocket(connectionId);
  return socket != nullptr && socket->GetSockName(address, port) ? 1 : 0;
}

int CAgent::GetPeerName(std::uint32_t connectionId, std::string& address, unsigned& port) {
  if (!peers_) return 0;
  zep::CClientSocket* socket = peers_->FindSocket(connectionId);
  return socket != nullptr && socket->GetPeerName(address, port) ? 1 : 0;
}

void CAgent::AASendToEach(const std::vector<std::pair<std::string, unsigned>>& agents,
                          const std::string& text) {
  if (agents.empty()) return;
  if (!peers_) peers_ = std::make_unique<CAgent2Agent>(this);
  peers_->SendToEach(agents, text);
}

int CAgent::ReleaseConnections() {
  server_.reset();
  peers_.reset();
  return 1;
}

int CAgent::DropServerConnection() {
  if (!server_) return 0;
  server_.reset();
  return 1;
}
