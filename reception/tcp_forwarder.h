#pragma once
// Forwarding over TCP for the rule action "Send to another Syslog server" when its value reads
// "tcp://host:port" (host a name, a dotted address or a bracketed IPv6 address): each record's
// syslog line is sent octet-counted ("LEN SP LINE", RFC 6587) over one lasting connection per
// destination. Plain values keep going to UDP port 514 through the listening socket.
//
// Forward() never blocks the receiving thread: each destination has a thread of its own that
// resolves, connects, sends and reconnects (after 1 s, doubling up to 30 s) while its queue
// holds the lines. A queue holds at most kQueueLimit lines; beyond that new lines are dropped,
// like datagrams to a server that is down. Failures are not reported. A line that was being
// sent when a connection broke is sent again on the next, so the receiver may see it twice.
//
// Forward() may be called from one thread at a time; destruction stops every destination
// thread (within a few seconds at most) and drops what is still queued.

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace qv {

struct SyslogMessage;

class CTcpForwarder {
 public:
  static constexpr std::size_t kQueueLimit = 10000;
  static constexpr std::string_view kScheme = "tcp://";

  CTcpForwarder();
  ~CTcpForwarder();
  CTcpForwarder(const CTcpForwarder&) = delete;
  CTcpForwarder& operator=(const CTcpForwarder&) = delete;

  // Whether a rule value names a TCP destination.
  static bool Handles(std::string_view target) { return target.substr(0, kScheme.size()) == kScheme; }

  // Queues the record's syslog line for `target` ("tcp://host:port"). A target without a
  // valid port is ignored.
  void Forward(std::string_view target, const SyslogMessage& record);

 private:
  class Destination;
  std::map<std::string, std::unique_ptr<Destination>, std::less<>> destinations_;
};

}  // namespace qv
