// agent.hpp - the transport object of the agent library (public, installed).
//
// A CAgent owns at most one connection to the lobby server and at most one
// manager of connections to other agents (a listener plus every open agent
// connection). Every line that arrives and every connection that is lost is
// reported through one callback as a numbered transport event. Frames carry
// the lines (see docs/protocol.md).
//
// Everything runs on the thread that runs the platform loop. Connects and
// sends wait inside the call, but never longer than the platform's io
// timeout; a peer that stops half-way through a frame never blocks anyone:
// its bytes wait in that connection's buffer.
//
// A connection may be closed from inside the callback; the callback must
// then return 0 for TE_PEER_MESSAGE / TE_SERVER_MESSAGE so that the reading
// loop stops.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#if defined(ZEP_BUILDING)
#define ZEP_EXPORT __attribute__((visibility("default")))
#else
#define ZEP_EXPORT
#endif

// Transport events passed to the callback (id: connection id; text: " "
// unless said otherwise).
enum : std::uint32_t {
  TE_PEER_ACCEPTED = 1000,       // the listener accepted an agent connection
  TE_PEER_MESSAGE = 1001,        // text: the line that arrived
  TE_PEER_CLOSED = 1002,         // the other side closed, a bad or unreadable frame, or a frame not done in time
  TE_SERVER_MESSAGE = 1003,      // id 0; text: the line (keep-alive probes excluded)
  TE_SERVER_CLOSED = 1004,       // id 0; the server connection ended
  TE_SERVER_SEND_FAILED = 1011,  // id 0; the server connection has been torn down
  TE_PEER_SEND_FAILED = 1012,    // that agent connection has been closed
};

namespace zep {
class CAgent2Agent;
class CAgent2Server;
}  // namespace zep

class CAgent {
 public:
  // context: the CAgent raising the event. The text is the callback's own.
  // For TE_PEER_MESSAGE and TE_SERVER_MESSAGE the result steers the reading
  // loop: 0 stops it (unread lines stay buffered), nonzero goes on.
  using EventCallback = int (*)(void* context, std::uint32_t event, std::uint32_t connectionId,
                                std::string text);

  ZEP_EXPORT CAgent();
  ZEP_EXPORT ~CAgent();
  CAgent(const CAgent&) = delete;
  CAgent& operator=(const CAgent&) = delete;

  // 1, or 0 when the socket layer is unavailable or the callback is null.
  ZEP_EXPORT int Init(EventCallback callback);
  // Connects to the lobby server (dotted address or host name), replacing
  // any previous server connection without an event. 1 when connected.
  ZEP_EXPORT int ASConnectCreate(const char* address, unsigned port);
  // Listens on the first free port of firstPort .. firstPort + 99; returns
  // that port, or 0 when none was free. A listener made before is released.
  ZEP_EXPORT unsigned AAListnerCreate(unsigned firstPort);
  // Connects to another agent; 1 and *id written when connected, else 0 (and
  // "CPIN ID=<address>:<port>;" is sent to the server when a server
  // connection object exists, at most once per id within 30 s).
  ZEP_EXPORT int AAConnectCreate(std::uint32_t* id, const char* address, unsigned port);
  // Sends one line to an agent connection, or (closeFlag nonzero) closes it
  // without sending. 1 when sent or closed, 0 for an unknown id or a failed
  // send (TE_PEER_SEND_FAILED follows).
  ZEP_EXPORT int AASend(std::uint32_t id, std::string text, int closeFlag);
  // Sends one line to the server, or closes and deletes the server
  // connection. 1 whenever a server connection object exists.
  ZEP_EXPORT int ASSend(std::string text, int closeFlag);
  // Passes an event to the callback; 0 while no callback is set.
  ZEP_EXPORT int ClientCallBack(std::uint32_t event, std::uint32_t connectionId, std::string text);
  // Local / peer address (dotted IPv4) and port of an agent connection;
  // nonzero when the connection exists and its name was read.
  ZEP_EXPORT int GetSockName(std::uint32_t connectionId, std::string& address, unsigned& port);
  ZEP_EXPORT int GetPeerName(std::uint32_t connectionId, std::string& address, unsigned& port);

  // Inside the library only: releases the server connection, then every
  // agent connection and the listener, without sending or reporting.
  int ReleaseConnections();
  // Closes and deletes the server connection silently; 1 when there was one.
  int DropServerConnection();
  // Sends `text` on a new connection to each agent (dotted address, port)
  // and closes it after; the connects are made together, so the whole call
  // takes no longer than one connect. An agent that cannot be reached is
  // reported to the server as by AAConnectCreate. No event is raised.
  void AASendToEach(const std::vector<std::pair<std::string, unsigned>>& agents,
                    const std::string& text);
  // The manager of agent connections, null before the first listener or
  // connect (its limits are set here by tests).
  zep::CAgent2Agent* PeerManager() { return peers_.get(); }

 private:
  std::unique_ptr<zep::CAgent2Agent> peers_;
  std::unique_ptr<zep::CAgent2Server> server_;
  EventCallback callback_ = nullptr;

  friend class zep::CAgent2Agent;
  friend class zep::CAgent2Server;
};
