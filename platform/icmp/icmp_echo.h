#pragma once
// ICMP echo ("ping") to one IPv4 address, the way the ping monitor needs it.
//
// Echo goes through a Linux ICMP datagram socket (SOCK_DGRAM, IPPROTO_ICMP), which unprivileged
// users may open when net.ipv4.ping_group_range includes their group; when that is refused and
// the process may open a raw ICMP socket (root, or CAP_NET_RAW), the raw socket is used instead.
// When neither can be opened the echo binding counts as absent and every echo fails with
// kNoSocket. Which kind is usable is probed once per process, at the first call of
// EchoAvailable or SendEcho.
//
// The request carries `dataSize` bytes of 0x45 ("E"); a reply counts only when its echoed data
// is exactly that. Every echo opens and closes its own socket, so calls from several threads at
// once are safe. The wait for the reply also ends when the given stop event is set.

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/sync/manual_reset_event.h"

namespace qv::icmp {

enum class SocketKind { kDatagram, kRaw };

// The kind of socket this process can open, probed once; nothing when echo is impossible.
std::optional<SocketKind> AvailableSocketKind();
inline bool EchoAvailable() { return AvailableSocketKind().has_value(); }

// Largest payload: what fits in one IPv4 datagram besides the IP and ICMP headers.
inline constexpr int kMaxDataSize = 65507 - 8;

struct EchoRequest {
  in_addr address{};  // the target
  int ttl = 32;
  int typeOfService = 0;
  bool dontFragment = false;
  int dataSize = 32;      // 0..kMaxDataSize
  int timeoutMs = 5000;   // how long to wait for the reply; negative counts as 0
};

struct EchoReply {
  std::string address;     // who answered, dotted
  uint32_t roundTripMs = 0;
  uint32_t status = 0;     // 0: success; only successful replies are returned
};

enum class EchoResult {
  kAnswered,    // one reply with the right data; `reply` is filled
  kNoReply,     // the timeout ran out
  kStopped,     // the stop event ended the wait
  kNoSocket,    // no ICMP socket could be opened (binding absent, or out of descriptors)
  kSendFailed,  // the request could not be sent (no route, network down, ...)
  kBadData,     // a reply came back whose echoed data differs from what was sent
  kBadRequest,  // the request's values are out of range
};

// Sends one echo request and waits for its reply. `stop` may be null. `kind` forces a socket
// kind (for tests); by default the probed kind is used.
EchoResult SendEcho(const EchoRequest& request, const CManualResetEvent* stop, EchoReply* reply,
                    std::optional<SocketKind> kind = std::nullopt);

}  // namespace qv::icmp
