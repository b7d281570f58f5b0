#pragma once
// Where the "Send to another Syslog server" action hands a record: the owner's listening syslog
// socket, which sends it from its own port. Kept as an interface so that the rules do not depend
// on the socket.

#include <string_view>

#include "core/message/syslog_message.h"

namespace qv {

class CForwarder {
 public:
  virtual ~CForwarder() = default;

  // Sends the record as one syslog datagram to port 514 of `dottedAddress` (no name look-up).
  // Failures are not reported.
  virtual void Forward(std::string_view dottedAddress, const SyslogMessage& message) = 0;
};

}  // namespace qv
