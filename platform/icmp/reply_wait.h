#pragma once
// The wait for an echo reply, apart from the sockets and packets, so that its bounds can be
// shown with a reader that never runs dry. SendEcho is its one user in the programs.

#include <chrono>
#include <functional>

#include "platform/icmp/icmp_echo.h"
#include "platform/sync/manual_reset_event.h"

namespace qv::icmp {

// What one read of the socket found.
enum class ReadOutcome { kOurs, kOursBadData, kOther, kEmpty, kFailed };

// Waits until `fd` is readable, then calls `read` until the queue is empty (kEmpty), and so on
// until `read` finds our reply (kAnswered), a reply with other data (kBadData) or fails
// (kSendFailed). Ends with kNoReply at `deadline` and with kStopped when `stop` (may be null) is
// set, also while other packets keep arriving faster than they are read: a flood of stray
// replies cannot hold the caller.
EchoResult AwaitReply(int fd, const CManualResetEvent* stop, std::chrono::steady_clock::time_point deadline,
                      const std::function<ReadOutcome()>& read);

}  // namespace qv::icmp
