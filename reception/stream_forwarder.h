#pragma once
// Forwarding over a stream for the rule action "Send to another Syslog server" when its value
// reads "tcp://host:port" (syslog over TCP) or "tls://host:port" (syslog over TLS, RFC 5425);
// host a name, a dotted address or a bracketed IPv6 address. Both send each record as one
// octet-counted frame ("LEN SP LINE") over one lasting connection per destination. The line is
// the one UDP forwarding sends, or, when the value ends in "#5424" (kRfc5424Suffix), the
// record's RFC 5424 line, which keeps the sender's time stamp (with its year) and host, so that
// a central server stores them. Other values go to UDP port 514 through the listening socket.
//
// TLS: the server's certificate is checked (chain and host name, see forward_connection.h)
// against the CA file of Options::tls, or the system's CA store; a client certificate is
// presented when one is set. A connection that is refused, an untrusted certificate, a file
// that cannot be loaded: each failed attempt is counted, and said through the report callback
// at most once per Options::reportInterval per destination, with its reason; once lines go out
// again, that is said too.
//
// Forward() never blocks the caller: each destination has a thread of its own that connects,
// sends and reconnects (after 1 s, doubling up to 30 s) while its queue holds frames. While a
// destination is down or does not read, its frames wait in order, at most Options::maxBytes of
// them per destination: to make room for a new frame the oldest are dropped, so a destination
// keeps the newest lines and memory stays bounded. Dropped lines are counted and said through
// the report callback at most once per interval per destination, with the count since the last
// report; ReportHeldBack says what was held back once its interval passed.
//
// A server that closes a connection in order (its FIN, or TLS close_notify) is noticed before
// the next send, and within half a second while idle; the connection is then ended from this
// side too, and what was not yet sent goes over the next one, so a server that reads until the
// client's end (CTcpSyslogServer::Drain) gets every line exactly once. Frames being sent when a
// connection broke otherwise are sent again on the next, so the server may see them twice.
//
// Forward(), ReportHeldBack(), Finish() and the report callback run on one thread (the
// owner's); destruction stops every destination thread (within a second or so, unless a name
// look-up is under way) and drops what is still queued, which Finish says first.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "core/report/report_throttle.h"
#include "reception/forward_connection.h"

namespace qv {

struct SyslogMessage;

class CStreamForwarder {
 public:
  // Receives one report text (a local message for the user).
  using Report = std::function<void(const std::string&)>;
  struct Options {
    std::size_t maxBytes = std::size_t{64} * 1024 * 1024;  // per destination
    std::chrono::milliseconds reportInterval = std::chrono::minutes(1);
    CTlsClientContext::Files tls;

    // From section "Settings": "forwardqueue" (MiB, default 64, at least 1), "forwardca",
    // "forwardcert" and "forwardkey" (PEM files; all empty by default).
    static Options Read();
  };

  // Without a report callback, drops and failures are counted and not said.
  CStreamForwarder(Report report, Options options);
  ~CStreamForwarder();
  CStreamForwarder(const CStreamForwarder&) = delete;
  CStreamForwarder& operator=(const CStreamForwarder&) = delete;

  // Whether a rule value names a TCP or TLS destination.
  static bool Handles(std::string_view target);

  // Queues the record's line for `target` ("tcp://host:port" or "tls://host:port", either
  // possibly followed by "#5424"). A target without a host or a port 1..65535 is ignored.
  void Forward(std::string_view target, const SyslogMessage& record);

  // Says the drops and failures held back once their interval has passed, and the drops and
  // failures the destinations met since the last call.
  void ReportHeldBack();

  // The owner stops: gives the destinations up to `bound` to send what waits (the frames
  // queued or being sent), then says every report held back and, for each destination, how
  // many lines it still held, which are lost when the forwarder is destroyed. Returns that
  // count over all destinations.
  uint64_t Finish(std::chrono::milliseconds bound);

  // Bytes of frames waiting, over all destinations.
  std::size_t queuedBytes() const;

 private:
  class Destination;
  // Counts the lines `destination` dropped and its failed connection attempts since the last
  // look, saying them as the throttle allows.
  void TakeReports(const std::string& name, Destination& destination);
  // Says the reports of the destinations and those held back whose interval has passed by `now`.
  void SayHeldBack(CReportThrottle::Clock::time_point now);
  void SayDropped(const std::string& name, uint64_t dropped, bool more);
  void SayFailure(const std::string& name, const std::string& reason, uint64_t count);
  // The TLS context, made at the first TLS destination; null with `tlsError_` when it failed.
  std::shared_ptr<CTlsClientContext> TlsContext();

  Report report_;
  Options options_;
  CReportThrottle throttle_;  // kinds: the destinations' values, and "connect " + value
  std::shared_ptr<CTlsClientContext> tls_;
  bool tlsTried_ = false;
  std::string tlsError_;
  std::map<std::string, std::string, std::less<>> lastFailure_;  // by value, for the held-back reports
  std::set<std::string, std::less<>> saidDown_;  // values whose failure was said and no recovery yet
  std::map<std::string, std::unique_ptr<Destination>, std::less<>> destinations_;
};

}  // namespace qv
