#pragma once
// The service's half of the relay: every record the service accepts is sent on, as its record
// line without CR LF, from 127.0.0.1:RELAY_SOURCE_PORT to the windowed program on
// 127.0.0.1:RELAY_PORT. One datagram per record; nothing is acknowledged or retransmitted, and
// with no viewer listening the datagram is simply lost (the record is in the history).
//
// Lines are gathered and sent together, one datagram each, by one sendmmsg call: a system call
// per record would cost more than the rest of the record's handling. The owner flushes after
// each batch of received datagrams and after each message it makes itself, so a record waits at
// most for the rest of its batch.
//
// The socket is bound to the loopback address only: nothing outside this machine has any
// business sending from or to the relay ports. Neither the binding nor the sending is checked,
// as a viewer that is not there must never hold up the service. Not locked: one thread sends.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

class CRelaySender {
 public:
  CRelaySender();
  ~CRelaySender();
  CRelaySender(const CRelaySender&) = delete;
  CRelaySender& operator=(const CRelaySender&) = delete;

  // True when the relay socket holds the relay source port.
  bool bound() const { return bound_; }

  // Queues `recordLine` without its last two characters (its CR LF); a full queue is sent.
  void Relay(std::string_view recordLine);
  // Sends the queued lines, in order.
  void Flush();

  static constexpr std::size_t kMaxQueued = 64;

 private:
  int fd_ = -1;
  bool bound_ = false;
  std::vector<std::string> queued_;  // kMaxQueued slots, reused
  std::size_t count_ = 0;
};

}  // namespace qv
