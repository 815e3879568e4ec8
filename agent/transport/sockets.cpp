#include "sockets.hpp"

#include <algorithm>
#include <cstring>

#include "agent2agent.hpp"
#include "agent2server.hpp"
#include "platform/hot_path.hpp"
#include "player_id.hpp"

namespace zep {

ZEP_IMPLEMENT_DYNCREATE(CClientSocket, CObject);
ZEP_IMPLEMENT_DYNCREATE(CListeningSocket, CObject);
ZEP_IMPLEMENT_DYNCREATE(CAgent2ServerSocket, CObject);

namespace {
// Large enough that one receive call takes most bursts at once, small enough
// that a flooding peer cannot make one notification buffer without bound.
constexpr std::size_t kReadSlice = 64 * 1024;
}  // namespace

PLAT_HOT_PATH InputState FillInput(platform::AsyncSocket& socket, ByteBuffer& input, std::size_t limit) {
  if (limit == 0) {
    // No room: nothing is read, but asking for nothing keeps the socket's
    // notifications coming, so the buffered lines are taken up next time.
    socket.Receive(nullptr, 0);
    return InputState::kDrained;
  }
  std::size_t taken = 0;
  while (taken < limit) {
    const std::size_t want = std::min(kReadSlice, limit - taken);
    input.EnsureWritable(want);
    std::ptrdiff_t n = socket.Receive(input.BeginWrite(), want);
    if (n > 0) {
      // Less than there was room for: the kernel had no more just now. Not
      // asking again saves a receive that would only say so; bytes arriving
      // meanwhile are notified afresh.
      const bool drained = static_cast<std::size_t>(n) < want;
      input.HasWritten(static_cast<std::size_t>(n));
      taken += static_cast<std::size_t>(n);
      if (drained) return InputState::kDrained;
      continue;
    }
    if (n == platform::AsyncSocket::kWouldBlock) return InputState::kDrained;
    if (n == platform::AsyncSocket::kPeerClosed) return InputState::kEnded;
    return InputState::kFailed;
  }
  return InputState::kMore;
}

void CClientSocket::InitStreams() {
  input_ = std::make_unique<ByteBuffer>();
}

bool CClientSocket::SendMsg(const CMsg& record) {
  if (!input_) return true;
  return SendFrame(*this, record.text, true, static_cast<std::uint8_t>(record.closeFlag));
}

bool SendFrame(platform::AsyncSocket& socket, std::string_view text, bool withMarker,
               std::uint8_t marker) {
  if (text.size() > 0xFFFFFFFFu) return false;
  char header[kMaxFrameHeader];
  const std::size_t headerSize = WriteFrameHeader(header, text.size(), withMarker, marker);
  return socket.SendAll(header, headerSize, text.data(), text.size());
}

PLAT_HOT_PATH bool SendLineFrame(platform::AsyncSocket& socket, std::string_view command, std::string_view id,
                   std::string_view message, std::uint8_t marker) {
  const std::size_t size = command.size() + id.size() + message.size() + 2;
  // A user message with its ids fits; the frame goes out as one piece (see
  // AsyncSocket::SendAll).
  char frame[512];
  if (size > sizeof frame - kMaxFrameHeader) {
    std::string text = TakeSpareLine();
    text.reserve(size);
    text.append(command).append(" ").append(id).append(" ").append(message);
    const bool sent = SendFrame(socket, text, true, marker);
    ReturnSpareLine(std::move(text));
    return sent;
  }
  // The header is written in place; the text follows it.
  const std::size_t headerSize =
      WriteFrameHeader(*reinterpret_cast<char(*)[kMaxFrameHeader]>(frame), size, true, marker);
  // copy_n, not memcpy: an empty view may hold a null pointer.
  char* out = std::copy_n(command.data(), command.size(), frame + headerSize);
  *out++ = ' ';
  out = std::copy_n(id.data(), id.size(), out);
  *out++ = ' ';
  std::copy_n(message.data(), message.size(), out);
  return socket.SendAll(frame, headerSize + size, nullptr, 0);
}

bool CClientSocket::LearnNamesOf(int fd) const {
  Names learnt;
  // The peer's name exists only once connected; from then on neither name
  // changes for this descriptor.
  if (!AsyncSocket::GetPeerName(learnt.peerAddress, learnt.peerPort) ||
      !AsyncSocket::GetSockName(learnt.sockAddress, learnt.sockPort))
    return false;
  learnt.fd = fd;
  learnt.sockId = FormatPlayerId(learnt.sockAddress, learnt.sockPort);
  learnt.peerId = FormatPlayerId(learnt.peerAddress, learnt.peerPort);
  names_ = std::move(learnt);
  return true;
}

bool CClientSocket::GetSockName(std::string& address, unsigned& port) const {
  if (!LearnNames()) return AsyncSocket::GetSockName(address, port);
  address = names_.sockAddress;
  port = names_.sockPort;
  return true;
}

bool CClientSocket::GetPeerName(std::string& address, unsigned& port) const {
  if (!LearnNames()) return AsyncSocket::GetPeerName(address, port);
  address = names_.peerAddress;
  port = names_.peerPort;
  return true;
}

PLAT_HOT_PATH InputState CClientSocket::ReadInput(std::size_t limit) {
  const std::size_t held = input_->ReadableBytes();
  const std::size_t room = held < kMaxAgentInputBytes ? kMaxAgentInputBytes - held : 0;
  return FillInput(*this, *input_, std::min(limit, room));
}

bool CClientSocket::HasIncompleteFrame() const {
  if (!input_ || input_->ReadableBytes() == 0) return false;
  return ProbeFrame(input_->Readable(), true, kMaxAgentFrameText).status == FrameStatus::kNeedMore;
}

PLAT_HOT_PATH void CClientSocket::OnReceive(int) {
  if (owner_) owner_->HandleReceive(this);
}

void CClientSocket::OnClose(int) {
  if (owner_) owner_->HandleClose(this);
}

void CListeningSocket::OnAccept(int) {
  if (owner_) owner_->HandleAccept();
}

void CAgent2ServerSocket::OnReceive(int) {
  if (owner_) owner_->HandleReceive();
}

void CAgent2ServerSocket::OnClose(int) {
  if (owner_) owner_->HandleClose();
}

}  // namespace zep
