#pragma once
// The dotted text of an IPv4 address, as inet_ntop writes it, without the C library's
// formatted printing: every received datagram needs its sender's address as text, and
// inet_ntop costs more than the rest of the datagram's reception.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

namespace qv {

// Room for "255.255.255.255" and its zero.
inline constexpr std::size_t kDottedAddressSize = 16;

// Writes the address (network byte order) and a zero into `out`, which has room for at least
// kDottedAddressSize characters; returns the text's length.
inline std::size_t FormatDottedAddress(const in_addr& address, char* out) {
  const uint32_t number = ntohl(address.s_addr);
  std::size_t length = 0;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const unsigned part = (number >> shift) & 0xFF;
    if (part >= 100) out[length++] = static_cast<char>('0' + part / 100);
    if (part >= 10) out[length++] = static_cast<char>('0' + part / 10 % 10);
    out[length++] = static_cast<char>('0' + part % 10);
    if (shift > 0) out[length++] = '.';
  }
  out[length] = '\0';
  return length;
}

// Writes a datagram sender's address as text into `out` (room for INET6_ADDRSTRLEN characters):
// dotted for IPv4, inet_ntop's form for IPv6. Returns the sender's port.
inline int32_t FormatSenderAddress(const sockaddr_storage& sender, char* out) {
  const auto& v4 = reinterpret_cast<const sockaddr_in&>(sender);
  const auto& v6 = reinterpret_cast<const sockaddr_in6&>(sender);
  if (sender.ss_family == AF_INET6) {
    inet_ntop(AF_INET6, &v6.sin6_addr, out, INET6_ADDRSTRLEN);
  } else {
    FormatDottedAddress(v4.sin_addr, out);
  }
  return ntohs(v4.sin_port);  // at the same offset in both families
}

}  // namespace qv
