// async_socket.hpp - the platform's asynchronous TCP socket (public).
//
// Modelled on what the agent expects of a window-message socket: create on a
// local port, connect (waiting inside the call), listen, accept into a fresh
// object, send all bytes, receive what has arrived, local and peer names, and
// receive / accept / close notifications delivered through the process loop
// on the loop thread. Underneath the descriptor is always non-blocking, and
// every wait is bounded by plat_io_timeout_ms(): a peer that never answers or
// never reads makes the call fail instead of freezing the program.
//
// A socket may be destroyed from inside its own notification.
//
// It is not a StreamChannel (stream_channel.hpp), which never waits: the
// agent's callers expect Connect and SendAll to return only once the bytes
// are connected or sent, and read what arrived in their own notification.
#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <memory>
#include <span>
#include <string>

#include "platform/event_loop.hpp"
#include "platform/liveness_guard.hpp"

namespace platform {

namespace detail {
class ReceiveRing;
}

class PLAT_EXPORT AsyncSocket {
 public:
  // Results of Receive besides a positive byte count.
  static constexpr std::ptrdiff_t kPeerClosed = 0;
  static constexpr std::ptrdiff_t kWouldBlock = -1;
  static constexpr std::ptrdiff_t kError = -2;

  AsyncSocket();
  virtual ~AsyncSocket();
  AsyncSocket(const AsyncSocket&) = delete;
  AsyncSocket& operator=(const AsyncSocket&) = delete;

  // Makes a TCP socket bound to any local address and the given port (0: any
  // port). Fails when the port cannot be bound.
  bool Create(unsigned port = 0);
  // Connects to a dotted IPv4 address or a host name. Returns once connected
  // (true) or failed (false), at the latest after the io timeout.
  bool Connect(const char* host, unsigned port);
  // Starts connecting to a dotted IPv4 address without waiting (no name is
  // looked up). True while the connect is under way; FinishConnects ends it.
  bool StartConnect(const char* dottedAddress, unsigned port);
  // Waits for the connects StartConnect began on these sockets, all of them
  // together within one io timeout: however many there are, the call takes
  // no longer than one Connect. Each that connected is then as after
  // Connect; each that failed, or was still connecting when the bound ran
  // out, is closed. Sockets without a connect under way are left alone.
  static void FinishConnects(std::span<AsyncSocket* const> sockets);
  // The system's usual backlog: a burst of connections must not wait for
  // the kernel to resend dropped handshakes.
  bool Listen(int backlog = SOMAXCONN);
  // Hands the pending connection to `into`, which must not be open yet.
  // When the process is out of descriptors the pending connection is taken
  // with a descriptor held in reserve and closed at once (false): left
  // waiting, it would keep the listener readable and the loop spinning.
  bool Accept(AsyncSocket& into);
  // Sends every byte, waiting while the peer's window is full, but fails
  // when the io timeout passes without progress or on any error.
  bool SendAll(const void* data, std::size_t length);
  // The same for two pieces sent as one stream (a header and its body):
  // short ones are copied together and sent as one, longer ones gathered.
  bool SendAll(const void* head, std::size_t headLength, const void* body, std::size_t bodyLength);
  // What has arrived, never blocking: a byte count, kPeerClosed, kWouldBlock
  // or kError.
  std::ptrdiff_t Receive(void* buffer, std::size_t length);
  bool GetSockName(std::string& address, unsigned& port) const;
  bool GetPeerName(std::string& address, unsigned& port) const;
  // Releases the descriptor; no notification follows.
  void Close();

  bool IsOpen() const { return fd_ >= 0; }
  int Descriptor() const { return fd_; }

 protected:
  // Data has arrived (or the end of the stream, which Receive reports).
  virtual void OnReceive(int error);
  // A connection waits to be accepted.
  virtual void OnAccept(int error);
  // The peer closed the connection or it failed. Delivered once, after any
  // data that arrived before the end was offered to OnReceive.
  virtual void OnClose(int error);

 private:
  void Attach(int fd, bool listening);
  // Watched through the loop, by its ring or its epoll set.
  bool Attached() const { return watch_.active() || receiveId_ != 0; }
  void HandleEvents(std::uint32_t events);
  // The same for a connection whose bytes the loop's ring receives.
  void HandleReceived();
  std::ptrdiff_t ReceiveHeld(void* buffer, std::size_t length);
  void StopReceiving();
  // The last read may have left bytes in the socket.
  void LeftBehind();

  int fd_ = -1;
  FdWatch watch_;
  // Where the ring receives for this connection (receive_ring.hpp), its id
  // there; 0 otherwise.
  detail::ReceiveRing* ring_ = nullptr;
  std::uint64_t receiveId_ = 0;
  bool listening_ = false;
  bool connecting_ = false;  // StartConnect began, FinishConnects not yet run
  bool sawEnd_ = false;
  bool receiveCalled_ = false;
  bool readPaused_ = false;
  bool mayHoldMore_ = false;     // the last read may have left bytes behind
  bool urgent_ = false;          // urgent data was pending at the notification
  bool inNotification_ = false;  // OnReceive is running
  // Lets an event handler notice that the object was destroyed under it
  // (liveness_guard.hpp).
  bool* gone_ = nullptr;
};

}  // namespace platform
