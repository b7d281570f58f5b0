#pragma once
// The ways in beside the UDP socket on "udpport", as the settings ask (read once, at creation):
//   "ipv6" (default 0)        UDP on "udpport", and the TCP and TLS ports, also over IPv6;
//   "tcpport" (default 0=off) syslog over TCP, RFC 6587 framing;
//   "tcpmaxconn" (1000)       the most connections open at once, on each of TCP and TLS;
//   "tcpperaddr" (50)         the most connections from one address, on each of TCP and TLS;
//   "tcpidle" (300)           seconds after which a connection that sent nothing is closed
//                             (0: never);
//   "tlsport" (default 0=off) syslog over TLS, RFC 5425, with "tlscert" and "tlskey" (PEM files)
//                             and, optionally, "tlsca" to require client certificates.
// The soft limit of open files is raised once for all of them: each server's connections plus
// a reserve for everything else the program opens. Every message they receive reaches the owner's OnDatagram like a UDP datagram, with its
// sender's address (dotted IPv4 or IPv6 text) and port.
//
// The owner's event loop watches each entry of watches() and calls its handler when the
// descriptor is readable. Everything runs on that thread; the owner outlives the receivers.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "reception/syslog_sink.h"
#include "reception/syslog_socket.h"
#include "reception/tcp_syslog_server.h"

namespace qv {

// The members' initial values are the settings' defaults, for every program that reads them.
struct ReceiverSettings {
  // The values the TCP and TLS settings may take (a port of 0 switches its server off).
  static constexpr int32_t kHighestPort = 65535;
  static constexpr int32_t kMostConnections = 1000000;

  int32_t udpPort = 514;
  bool ipv6 = false;
  int32_t tcpPort = 0;
  int32_t tcpMaxConnections = 1000;
  int32_t tcpPerAddress = 50;
  int32_t tcpIdleSeconds = 300;
  int32_t tlsPort = 0;
  std::string tlsCertificate, tlsKey, tlsCa;

  // From section "Settings".
  static ReceiverSettings Read();
};

class CSyslogReceivers {
 public:
  struct Watch {
    int descriptor;
    std::function<void()> onReadable;
  };

  // Opens every receiver the settings ask for. When one cannot be opened, failure() says
  // which and why, and none of them is kept.
  CSyslogReceivers(CSyslogSink& owner, const ReceiverSettings& settings);
  ~CSyslogReceivers();
  CSyslogReceivers(const CSyslogReceivers&) = delete;
  CSyslogReceivers& operator=(const CSyslogReceivers&) = delete;

  // Empty when every receiver asked for is open; else one line such as
  // "cannot receive syslog on TCP port 601: Address already in use".
  const std::string& failure() const { return failure_; }
  // Empty, or one line for the owner to report: the limit of open files cannot hold the
  // connections "tcpmaxconn" allows, with what to do about it.
  const std::string& warning() const { return warning_; }
  std::vector<Watch> watches();
  // Ends the TCP and TLS connections in order (CTcpSyslogServer::Drain), handing on what their
  // clients still send, for at most `bound` in all.
  void Drain(std::chrono::milliseconds bound);

 private:
  std::unique_ptr<CSyslogSocket> udp6_;
  std::unique_ptr<CTcpSyslogServer> tcp_;
  std::unique_ptr<CTcpSyslogServer> tls_;
  std::string failure_;
  std::string warning_;
};

}  // namespace qv
