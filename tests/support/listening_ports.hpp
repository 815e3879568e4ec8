// listening_ports.hpp - the TCP ports this process listens on, read from its
// own descriptors: a session's listener port is whatever is new after it
// opened (other programs may hold ports of the agents' range).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <set>
#include <string>

namespace testsupport {

inline std::set<unsigned> OwnListeningPorts() {
  std::set<unsigned> ports;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int fd = std::stoi(entry.path().filename().string());
    int listening = 0;
    socklen_t len = sizeof listening;
    sockaddr_in a{};
    socklen_t alen = sizeof a;
    if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &len) == 0 && listening &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &alen) == 0 && a.sin_family == AF_INET)
      ports.insert(ntohs(a.sin_port));
  }
  return ports;
}

}  // namespace testsupport
