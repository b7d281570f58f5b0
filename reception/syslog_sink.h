#pragma once
// What the owner of a syslog socket implements: the windowed program's document and the
// service's engine. Both calls arrive on the owner's receiving thread, one at a time.

#include <cstdint>
#include <string_view>

namespace qv {

class CSyslogSink {
 public:
  virtual ~CSyslogSink() = default;

  // One received datagram: the sender's dotted address and port, and the text up to its first
  // zero byte.
  virtual void OnDatagram(std::string_view senderAddress, int32_t senderPort, std::string_view text) = 0;

  // A message the program makes itself: the time mark, and the reports of the rules engine and
  // the mail client. It enters the store like a received one.
  virtual void OnLocalMessage(std::string_view text) = 0;
};

}  // namespace qv
