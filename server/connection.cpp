#include "connection.hpp"

#include <algorithm>

#include "platform/frame_codec.hpp"
#include "query_runner.hpp"
#include "record_pool.hpp"

namespace vossad {

Connection::Connection(platform::EventLoop& loop, int fd, const Limits& limits, Handler& handler,
                       ConnectionRef ref, const sockaddr_in& address, TokenBucket lineBucket)
    : StreamChannel(loop, fd, limits, handler),
      ref(ref),
      peer(address.sin_addr),
      peerPort(ntohs(address.sin_port)),
      lines(lineBucket) {}

Connection::~Connection() = default;

namespace {
using ConnectionPool = RecordPool<sizeof(Connection), alignof(Connection)>;
}  // namespace

void* Connection::operator new(std::size_t) { return ConnectionPool::Take(); }
void Connection::operator delete(void* memory) noexcept { ConnectionPool::Give(memory); }

std::string Who(const Connection& c) {
  if (c.player != nullptr) return c.player->id;
  return AddressText(c.peer, '/', c.peerPort);
}

Connection* Connections::Find(ConnectionRef ref) const {
  if (ref.descriptor < 0 || static_cast<std::size_t>(ref.descriptor) >= table_.size()) return nullptr;
  Connection* c = table_[ref.descriptor].get();
  return c != nullptr && c->ref.serial == ref.serial ? c : nullptr;
}

void Connections::Insert(std::unique_ptr<Connection> connection) {
  const auto fd = static_cast<std::size_t>(connection->ref.descriptor);
  if (fd >= table_.size()) table_.resize(std::max<std::size_t>(fd + 1, table_.size() * 2));
  ++perAddress_[connection->peer.s_addr];
  table_[fd] = std::move(connection);
  ++count_;
  metrics_.openConnections.store(static_cast<std::int64_t>(count_), std::memory_order_relaxed);
}

std::size_t Connections::FromAddress(std::uint32_t source) const {
  const auto it = perAddress_.find(source);
  return it == perAddress_.end() ? 0 : it->second;
}

void Connections::Send(Connection& c, std::string_view text) {
  if (c.closed) return;
  platform::AppendFrame(c.Output(platform::FrameSize(text.size(), false)), text, false);
  if (!c.WithinBacklog()) Close(c, DropReason::kNotReading);
}

void Connections::SendBytes(Connection& c, std::string_view bytes) {
  if (c.closed) return;
  if (!c.Append(bytes)) Close(c, DropReason::kNotReading);
}

void Connections::Flush(Connection& c) {
  if (c.closed) return;
  if (!c.Flush()) Close(c, DropReason::kSendFailed);
}

void Connections::Close(Connection& c, DropReason reason) {
  if (c.closed) return;
  c.closed = true;
  if (c.player != nullptr) {
    log_.Write(c.peer.s_addr, c.player->id, "removed: %s, %zu players left", DropReasonText(reason),
               registry_.size() - 1);
    registry_.Remove(c.player);
    c.player = nullptr;
  } else if (IsFault(reason)) {
    log_.Write(c.peer.s_addr, Who(c), "dropped: %s", DropReasonText(reason));
  }
  // Those waiting for this one's id take it once the callback is done.
  for (Challenger& challenger : c.challengers) handovers_.push_back(std::move(challenger));
  c.challengers.clear();
  c.StreamChannel::Close();
  --count_;
  metrics_.openConnections.store(static_cast<std::int64_t>(count_), std::memory_order_relaxed);
  metrics_.Dropped(reason);
  if (auto it = perAddress_.find(c.peer.s_addr); it != perAddress_.end() && --it->second == 0) {
    perAddress_.erase(it);
  }
  closed_.push_back(std::move(table_[c.ref.descriptor]));
}

std::size_t Connections::CloseAll() {
  std::size_t closed = 0;
  for (std::unique_ptr<Connection>& slot : table_) {
    if (!slot) continue;
    if (slot->player != nullptr) registry_.Remove(slot->player);
    slot->player = nullptr;
    slot->StreamChannel::Close();
    slot.reset();
    ++closed;
  }
  table_.clear();
  count_ = 0;
  metrics_.openConnections.store(0, std::memory_order_relaxed);
  closed_.clear();
  perAddress_.clear();
  handovers_.clear();
  return closed;
}

}  // namespace vossad
