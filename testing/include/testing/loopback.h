// UDP on 127.0.0.1 for tests and benchmarks: addresses, a socket bound to a
// port of the system's choosing, and a free port for a server to take.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

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

}  // namespace zbx::test
