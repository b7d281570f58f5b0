#pragma once
// The two fixed loopback ports of the relay from the service to the windowed program. While the
// service runs it owns "udpport"; every message it accepts is sent on as a record line from
// 127.0.0.1:RELAY_SOURCE_PORT to 127.0.0.1:RELAY_PORT, where the windowed program listens. The
// windowed program tells a relayed record from an ordinary datagram by its source port.

#include <cstdint>

namespace qv {

// The port the service's relay socket binds; every relay datagram comes from it.
inline constexpr int32_t RELAY_SOURCE_PORT = 32514;
// The port the windowed program listens on while the service runs.
inline constexpr int32_t RELAY_PORT = 32515;

}  // namespace qv
