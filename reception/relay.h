#pragma once
// Where the relay from the service to the windowed program travels. While the service runs it
// owns "udpport"; every record it accepts is sent on, as its record line without CR LF and one
// record per datagram, to a Unix datagram socket that the windowed program binds in the data
// root. Only who may enter the data root (its user, or the group `quorvel` when shared) can
// read or feed the relay; no UDP port is involved.

#include <string>

namespace qv {

// The socket's file name inside the data root.
inline constexpr const char* kRelaySocketName = "relay";

// "<data root>/relay", read from the environment at each call like the data root itself.
std::string RelaySocketPath();

}  // namespace qv
