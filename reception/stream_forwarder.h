#pragma once
// Forwarding over a stream for the rule action "Send to another Syslog server" when its value
// reads "tcp://host:port" (syslog over TCP) or "tls://host:port" (syslog over TLS, RFC 5425);
// host a name, a dotted address or a bracketed IPv6 address. Both send each record as one
// octet-counted frame ("LEN SP LINE") over one lasting connection per destination, the line
// that UDP forwarding sends. Other values go to UDP port 514 through the listening socket.
//
// TLS: the server's certificate is checked (chain and host name, see forward_connection.h)
// against the CA file of Options::tls, or the system's CA store; a client certificate is
// presented when one is set. A connection that is refused, an untrusted certificate, a file
// that cannot be loaded: each failed attempt is counted, and said through the report callback
// at most once per Options::reportInterval per destination, with its reason.
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
// Forward(), ReportHeldBack() and the report callback run on one thread (the owner's);
// destruction stops every destination thread (within a second or so) and drops what is still
// queued.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
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

  // Queues the record's line for `target` ("tcp://host:port" or "tls://host:port"). A target without a host or a port 1..65535 is ignored.
  void Forward(std::string_view target, const SyslogMessage& record);

  // Says the drops and failures held back once their interval has passed, and the failures
  // the destinations met since the last call.
  void ReportHeldBack();

  // Bytes of frames waiting, over all destinations.
  std::size_t queuedBytes() const;

 private:
  class Destination;
  // Counts the failed connection attempts of `destination` since the last look, saying them
  // as the throttle allows.
  void TakeFailures(const std::string& name, Destination& destination);
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
  std::map<std::string, std::unique_ptr<Destination>, std::less<>> destinations_;
};

}  // namespace qv
