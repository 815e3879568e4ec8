#include "descriptor_reserve.hpp"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>

namespace platform::detail {
namespace {

std::mutex g_reserveMutex;
int g_reserveFd = -1;

}  // namespace

void KeepDescriptorReserve() {
  std::lock_guard<std::mutex> lock(g_reserveMutex);
  if (g_reserveFd < 0) g_reserveFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
}

bool ShedWaitingConnection(int listenFd) {
  std::lock_guard<std::mutex> lock(g_reserveMutex);
  if (g_reserveFd < 0) return false;
  ::close(g_reserveFd);
  const int refused = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
  if (refused >= 0) ::close(refused);
  g_reserveFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  return true;
}

}  // namespace platform::detail
