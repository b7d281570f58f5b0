#pragma once
// Forwarding over TCP for the rule action "Send to another Syslog server" when its value reads
// "tcp://host:port" (host a name, a dotted address or a bracketed IPv6 address): each record's
// syslog line is sent octet-counted ("LEN SP LINE", RFC 6587) over one lasting connection per
// destination. Plain values keep going to UDP port 514 through the listening socket.
//
// Forward() never blocks the receiving thread: each destination has a thread of its own that
// resolves, connects, sends and reconnects (after 1 s, doubling up to 30 s) while its queue
// holds the lines. A queue holds at most Options::maxBytes of frames (16 MiB): to make room for
// a new line, the oldest lines are dropped, so a destination that is down or does not read
// keeps the newest lines and a bounded memory. Dropped lines are counted and reported through
// the report callback, at most once per Options::reportInterval per destination with the count
// since the last report; ReportHeldBack says the counts held back once their interval passed.
// Connection failures themselves are not reported. A line that was being sent when a
// connection broke is sent again on the next, so the receiver may see it twice.
//
// Forward(), ReportHeldBack() and the report callback run on one thread (the owner's);
// destruction stops every destination thread (within a few seconds at most) and drops what is
// still queued.

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "core/report/report_throttle.h"

namespace qv {

struct SyslogMessage;

class CTcpForwarder {
 public:
  static constexpr std::string_view kScheme = "tcp://";

  // Receives one report text (a local message for the user).
  using Report = std::function<void(const std::string&)>;
  struct Options {
    std::size_t maxBytes = 16 * 1024 * 1024;  // per destination
    std::chrono::milliseconds reportInterval = std::chrono::minutes(1);
  };

  // Without a report callback, drops are counted and not said.
  CTcpForwarder();
  explicit CTcpForwarder(Report report);
  CTcpForwarder(Report report, Options options);
  ~CTcpForwarder();
  CTcpForwarder(const CTcpForwarder&) = delete;
  CTcpForwarder& operator=(const CTcpForwarder&) = delete;

  // Whether a rule value names a TCP destination.
  static bool Handles(std::string_view target) { return target.substr(0, kScheme.size()) == kScheme; }

  // Queues the record's syslog line for `target` ("tcp://host:port"). A target without a
  // valid port is ignored.
  void Forward(std::string_view target, const SyslogMessage& record);

  // Reports the drops that were held back once their interval has passed.
  void ReportHeldBack();

  // Bytes of frames waiting, over all destinations.
  std::size_t queuedBytes() const;

 private:
  class Destination;
  void Say(const std::string& destination, uint64_t dropped, bool more);

  Report report_;
  Options options_;
  CReportThrottle throttle_;  // kinds: "host:port" of the destinations
  std::map<std::string, std::unique_ptr<Destination>, std::less<>> destinations_;
};

}  // namespace qv
