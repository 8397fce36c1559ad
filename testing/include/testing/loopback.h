// UDP on 127.0.0.1 for tests and benchmarks: addresses, a socket bound to a
// port of the system's choosing, a free port for a server to take, and
// whether a port has been taken.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace zbx::test {

inline sockaddr_in loopback_address(int port = 0) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// Binds fd to 127.0.0.1 on a port the system picks; returns where it landed.
inline sockaddr_in bind_loopback(int fd) {
  sockaddr_in a = loopback_address();
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return a;
}

// A port of 127.0.0.1 that was free a moment ago.
inline int free_udp_port() {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  const int port = ntohs(bind_loopback(s).sin_port);
  close(s);
  return port;
}

// Whether some socket is bound to this UDP port, read from the kernel's table:
// binding a probe socket could take the port from a server starting up.
inline bool udp_port_bound(int port) {
  char wanted[8];
  std::snprintf(wanted, sizeof wanted, ":%04X", static_cast<unsigned>(port));
  for (const char* path : {"/proc/net/udp", "/proc/net/udp6"}) {
    std::ifstream table(path);
    std::string line;
    std::getline(table, line);  // header
    while (std::getline(table, line)) {
      std::istringstream fields(line);
      std::string slot, local;
      fields >> slot >> local;
      if (local.size() > 5 && local.compare(local.size() - 5, 5, wanted) == 0) return true;
    }
  }
  return false;
}

}  // namespace zbx::test
