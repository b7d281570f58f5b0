#pragma once
// Turns a host text into one IPv4 address: a dotted address is taken as it is, anything else is
// looked up as a name and its first IPv4 address is used.
//
// A name look-up can take as long as the resolver's own time-outs, and it cannot be cancelled,
// so it runs on a helper thread of its own while the caller waits for it or for its stop event.
// When the stop event wins, the caller returns at once and the helper finishes on its own time,
// touching nothing but state it shares with nobody else.

#include <netinet/in.h>

#include <string>

#include "platform/sync/manual_reset_event.h"

namespace qv {

enum class ResolveResult { kResolved, kFailed, kStopped };

ResolveResult ResolveHostIPv4(const std::string& host, const CManualResetEvent& stop, in_addr* address);

}  // namespace qv
