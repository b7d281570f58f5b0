#pragma once
// A UDP or TCP port on 127.0.0.1 that nothing holds at the moment of the call, for tests that
// start a program listening on "udpport" or "tcpport". The kernel chooses it from its ephemeral
// range; 0 when no socket could be made.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace qv::testing {

inline int32_t FreeLoopbackPort(int socketType) {
  const int fd = socket(AF_INET, socketType, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int32_t port = 0;
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  if (fd >= 0) close(fd);
  return port;
}

inline int32_t FreeUdpPort() { return FreeLoopbackPort(SOCK_DGRAM); }

// True once something holds the UDP port on all addresses (our own bind is refused): a program
// started on it is ready to receive.
inline bool UdpPortIsTaken(int32_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool taken = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0;
  close(fd);
  return taken;
}
inline int32_t FreeTcpPort() { return FreeLoopbackPort(SOCK_STREAM); }

}  // namespace qv::testing
