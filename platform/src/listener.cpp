#include "platform/listener.hpp"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "descriptor_reserve.hpp"

namespace platform {

Listener::Listener(EventLoop& loop) : loop_(loop) {}

Listener::~Listener() {
  *alive_ = false;
  Close();
}

bool Listener::Listen(const sockaddr_in& address, int backlog, AcceptCallback onAccept,
                      const char** failedCall) {
  const auto fail = [&](const char* call, int fd) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (failedCall != nullptr) *failedCall = call;
    errno = error;
    return false;
  };
  if (fd_ >= 0) {
    errno = EISCONN;
    return fail("listen", -1);
  }
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return fail("socket", -1);
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return fail("bind", fd);
  if (listen(fd, backlog) != 0) return fail("listen", fd);
  sockaddr_in bound{};
  socklen_t size = sizeof bound;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size) != 0) return fail("getsockname", fd);
  watch_ = FdWatch(loop_, fd, EPOLLIN, [this](std::uint32_t) { OnAcceptable(); });
  if (!watch_.active()) return fail("watch", fd);
  detail::KeepDescriptorReserve();
  fd_ = fd;
  port_ = ntohs(bound.sin_port);
  address_ = bound.sin_addr;
  onAccept_ = std::move(onAccept);
  return true;
}

void Listener::Close() {
  watch_.Reset();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void Listener::OnAcceptable() {
  const std::shared_ptr<bool> alive = alive_;
  for (int i = 0; i < kAcceptsPerTurn && fd_ >= 0; ++i) {
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    const int fd = accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      // A copy: the callback may destroy this listener.
      const AcceptCallback onAccept = onAccept_;
      onAccept(fd, peer);
      if (!*alive) return;
      continue;
    }
    if (errno == EINTR || errno == ECONNABORTED) continue;
    if ((errno == EMFILE || errno == ENFILE) && detail::ShedWaitingConnection(fd_) && onShed_) {
      const std::function<void()> onShed = onShed_;
      onShed();
    }
    return;  // EAGAIN: nothing more waiting
  }
}

}  // namespace platform
