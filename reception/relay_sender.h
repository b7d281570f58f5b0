#pragma once
// The service's half of the relay: every record the service accepts is sent on, as its record
// line without CR LF, from 127.0.0.1:RELAY_SOURCE_PORT to the windowed program on
// 127.0.0.1:RELAY_PORT. One datagram per record; nothing is acknowledged or retransmitted, and
// with no viewer listening the datagram is simply lost (the record is in the history).
//
// The socket is bound to the loopback address only: nothing outside this machine has any
// business sending from or to the relay ports. Neither the binding nor the sending is checked,
// as a viewer that is not there must never hold up the service. Not locked: one thread sends.

#include <string_view>

namespace qv {

class CRelaySender {
 public:
  CRelaySender();
  ~CRelaySender();
  CRelaySender(const CRelaySender&) = delete;
  CRelaySender& operator=(const CRelaySender&) = delete;

  // True when the relay socket holds the relay source port.
  bool bound() const { return bound_; }

  // Sends `recordLine` without its last two characters (its CR LF).
  void Relay(std::string_view recordLine);

 private:
  int fd_ = -1;
  bool bound_ = false;
};

}  // namespace qv
