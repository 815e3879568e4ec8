// agent2server.hpp - an agent's connection to the lobby server (internal).
//
// After the server closes, or a read or write fails, the object stays but is
// "torn down": no socket and no buffers. Sends then write nothing. The
// server's keep-alive probes ("PING...") are answered here and never reach
// the agent's callback.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "msg.hpp"
#include "runtime_class.hpp"
#include "sockets.hpp"

class CAgent;

namespace zep {

class CAgent2Server : public CObject {
  ZEP_DECLARE_RUNTIME_CLASS(CAgent2Server)

 public:
  explicit CAgent2Server(CAgent* agent = nullptr);
  ~CAgent2Server() override;

  // Connects (bounded wait) and makes the buffers; 1 or 0.
  virtual int Connect(const char* address, unsigned port);
  // Deletes the buffers and the socket; reports nothing.
  virtual void Close();

  // Writes one frame without close marker. On failure the connection is torn
  // down and TE_SERVER_SEND_FAILED raised. Torn down: nothing happens.
  void Send(std::string_view text);
  bool IsConnected() const { return socket_ != nullptr; }

  void HandleReceive();
  void HandleClose();

 private:
  CAgent* agent_;
  std::unique_ptr<CAgent2ServerSocket> socket_;
  std::unique_ptr<ByteBuffer> input_;
  // Lets a handler notice that a callback deleted this connection under it
  // (platform/liveness_guard.hpp).
  bool* gone_ = nullptr;
};

}  // namespace zep
