#pragma once
// How a monitor hands a finding to the system: as a loopback datagram to the program's own
// syslog port, so that it takes the road of every received message (rules, store, history).

#include <cstdint>
#include <string_view>

namespace qv {

// Sends `text` as a record of facility "syslog" with `severity` (0..7) and `sourceAddress`
// (host "localhost" when the source is exactly "127.0.0.1", else empty), both times now and
// port 514, written as a serialised record line without CR LF, to 127.0.0.1 on the port of
// "udpport" (read at every call). Uses a socket of its own for the one send, so any thread may
// call it. Nothing is reported: with nobody listening, or a port outside 1..65535, the finding
// is lost.
void SendLocalSyslog(std::string_view text, int32_t severity, std::string_view sourceAddress);

}  // namespace qv
