// sockets.hpp - the three socket classes of the agent library (internal).
//
// CClientSocket is one connection to another agent, CListeningSocket accepts
// such connections, CAgent2ServerSocket is the connection to the lobby
// server. They only turn platform notifications into calls on their owner;
// the owners (CAgent2Agent, CAgent2Server) decide what a notification means.
//
// A connection's "streams" are two byte buffers: what has arrived and not
// yet been taken as frames, and the frame being written. Reading never waits:
// FillInput moves what the kernel holds into the input buffer and the owner
// takes whole frames from it.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "msg.hpp"
#include "peer_limits.hpp"
#include "platform/async_socket.hpp"
#include "runtime_class.hpp"

namespace zep {

class CAgent2Agent;
class CAgent2Server;

// What FillInput found on the socket.
enum class InputState {
  kDrained,    // everything that had arrived is buffered; the connection is open
  kMore,       // a chunk was buffered and more may be waiting
  kEnded,      // the peer closed the stream (buffered bytes are still there)
  kFailed,     // reading failed
};

// Moves what has arrived on `socket` into `input`, at most `limit` bytes
// (none for a limit of 0, which still keeps the notifications coming).
InputState FillInput(platform::AsyncSocket& socket, ByteBuffer& input, std::size_t limit);
// Sends `text` as one whole frame (bounded wait), the header and the text
// gathered into one write without copying the text; false when the send
// failed or the text cannot be framed.
bool SendFrame(platform::AsyncSocket& socket, std::string_view text, bool withMarker,
               std::uint8_t marker = 0);
// The same for the line "<command> <id> <message>", with the marker: a
// short one is written with its header straight into one buffer and sent
// from there, a long one is put together first.
bool SendLineFrame(platform::AsyncSocket& socket, std::string_view command, std::string_view id,
                   std::string_view message, std::uint8_t marker = 0);

class CClientSocket : public platform::AsyncSocket, public CObject {
  ZEP_DECLARE_RUNTIME_CLASS(CClientSocket)

 public:
  explicit CClientSocket(CAgent2Agent* owner = nullptr) : owner_(owner) {}

  // Creates the buffers; called once the connection exists.
  void InitStreams();
  bool HasStreams() const { return input_ != nullptr; }
  // Sends the record as one frame with the close marker. Without streams it
  // does nothing and reports success, as a connection not yet established
  // has nothing to send on. False when the send failed.
  bool SendMsg(const CMsg& record);
  // Takes one frame with the close marker from the input buffer
  // (CMsg::SerializeFrame); a text over kMaxAgentFrameText is kTooLong.
  // status() tells why it returned false.
  bool ReceiveMsg(CMsg& record) {
    if (!input_) {
      lastStatus_ = FrameStatus::kNeedMore;
      return false;
    }
    lastStatus_ = record.TakeFrom(*input_, true, std::min(kMaxAgentFrameText, kMaxFrameText));
    return lastStatus_ == FrameStatus::kOk;
  }
  FrameStatus status() const { return lastStatus_; }
  // Reads at most `limit` bytes, and never so many that the buffer would
  // hold more than kMaxAgentInputBytes.
  InputState ReadInput(std::size_t limit);
  bool HasBufferedInput() const { return input_ && input_->ReadableBytes() > 0; }
  std::size_t BufferedBytes() const { return input_ ? input_->ReadableBytes() : 0; }
  // Part of a frame has arrived and the rest has not.
  bool HasIncompleteFrame() const;
  // Memory the input buffer holds.
  std::size_t InputCapacity() const { return input_ ? input_->Capacity() : 0; }

  std::uint32_t connectionId = 0;
  // When the frame under way (or, on an accepted connection, the first
  // line) must have arrived; max() while nothing is due.
  std::chrono::steady_clock::time_point frameDue = std::chrono::steady_clock::time_point::max();

  // The platform socket's, but asked of the kernel only once per connected
  // descriptor: the owner of a subgroup needs both names for every user
  // message it receives or sends.
  bool GetSockName(std::string& address, unsigned& port) const;
  bool GetPeerName(std::string& address, unsigned& port) const;
  // The same names as player ids ("address:port"), formatted once with
  // them; null while they cannot be learnt.
  const std::string* SockId() const { return LearnNames() ? &names_.sockId : nullptr; }
  const std::string* PeerId() const { return LearnNames() ? &names_.peerId : nullptr; }

 protected:
  void OnReceive(int error) override;
  void OnClose(int error) override;

 private:
  // The ids, which every user message reads, first.
  struct Names {
    int fd = -1;  // the descriptor they were learnt for
    std::string sockId, peerId;
    std::string sockAddress, peerAddress;
    unsigned sockPort = 0, peerPort = 0;
  };
  // True once the names of the present descriptor are known: a compare
  // here, as every user message asks, and the kernel only the first time.
  bool LearnNames() const {
    const int fd = Descriptor();
    return fd >= 0 && (names_.fd == fd || LearnNamesOf(fd));
  }
  bool LearnNamesOf(int fd) const;

  CAgent2Agent* owner_;
  std::unique_ptr<ByteBuffer> input_;
  FrameStatus lastStatus_ = FrameStatus::kOk;
  mutable Names names_;
};

class CListeningSocket : public platform::AsyncSocket, public CObject {
  ZEP_DECLARE_RUNTIME_CLASS(CListeningSocket)

 public:
  explicit CListeningSocket(CAgent2Agent* owner = nullptr) : owner_(owner) {}

 protected:
  void OnAccept(int error) override;

 private:
  CAgent2Agent* owner_;
};

class CAgent2ServerSocket : public platform::AsyncSocket, public CObject {
  ZEP_DECLARE_RUNTIME_CLASS(CAgent2ServerSocket)

 public:
  explicit CAgent2ServerSocket(CAgent2Server* owner = nullptr) : owner_(owner) {}

 protected:
  void OnReceive(int error) override;
  void OnClose(int error) override;

 private:
  CAgent2Server* owner_;
};

}  // namespace zep
