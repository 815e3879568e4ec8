// tcp_states.hpp - this host's TCP sockets as the kernel lists them, for
// tests that must see connects under way (a connect that is never answered
// stays in SYN_SENT until its bound runs out).
#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace testsupport {

// Sockets of this host in SYN_SENT towards `port` on any address.
inline int ConnectsUnderWayTo(unsigned port) {
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // the heading
  int count = 0;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state;
    fields >> slot >> local >> remote >> state;
    const std::size_t colon = remote.find(':');
    if (colon == std::string::npos || state != "02") continue;
    if (std::stoul(remote.substr(colon + 1), nullptr, 16) == port) ++count;
  }
  return count;
}

}  // namespace testsupport
