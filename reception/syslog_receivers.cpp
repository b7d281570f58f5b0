#include "reception/syslog_receivers.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "core/settings/settings_store.h"
#include "reception/tls_session.h"

namespace qv {
namespace {

std::vector<std::string> BindAddresses(bool ipv6) {
  if (ipv6) return {"0.0.0.0", "::"};
  return {"0.0.0.0"};
}

std::string CannotReceive(const char* transport, int32_t port, int error) {
  return std::string("cannot receive syslog on ") + transport + " port " + std::to_string(port) + ": " +
         std::strerror(error);
}

}  // namespace

ReceiverSettings ReceiverSettings::Read() {
  const CSettingsStore& store = AppSettings();
  const ReceiverSettings defaults;
  ReceiverSettings settings;
  settings.udpPort = store.GetInt("Settings", "udpport", defaults.udpPort);
  settings.ipv6 = store.GetInt("Settings", "ipv6", defaults.ipv6 ? 1 : 0) != 0;
  settings.tcpPort = store.GetInt("Settings", "tcpport", defaults.tcpPort);
  settings.tcpMaxConnections = store.GetInt("Settings", "tcpmaxconn", defaults.tcpMaxConnections);
  settings.tcpPerAddress = store.GetInt("Settings", "tcpperaddr", defaults.tcpPerAddress);
  settings.tcpIdleSeconds = store.GetInt("Settings", "tcpidle", defaults.tcpIdleSeconds);
  settings.tlsPort = store.GetInt("Settings", "tlsport", defaults.tlsPort);
  settings.tlsCertificate = store.GetString("Settings", "tlscert", defaults.tlsCertificate.c_str());
  settings.tlsKey = store.GetString("Settings", "tlskey", defaults.tlsKey.c_str());
  settings.tlsCa = store.GetString("Settings", "tlsca", defaults.tlsCa.c_str());
  return settings;
}

CSyslogReceivers::CSyslogReceivers(CSyslogSink& owner, const ReceiverSettings& settings) {
  ConnectionLimits limits;
  limits.maxConnections = std::max(settings.tcpMaxConnections, 1);
  limits.perAddress = settings.tcpPerAddress;
  limits.idle = std::chrono::seconds(std::max(settings.tcpIdleSeconds, 0));  // 0: never
  const int servers = (settings.tcpPort != 0 ? 1 : 0) + (settings.tlsPort != 0 ? 1 : 0);
  if (servers > 0) {
    const int64_t connections = int64_t{servers} * limits.maxConnections;
    const int64_t needed = connections + CTcpSyslogServer::kDescriptorReserve;
    const int64_t limit = CTcpSyslogServer::ReserveDescriptors(connections);
    if (limit < needed) {
      warning_ = "TCP and TLS syslog: the limit of open files is " + std::to_string(limit) + ", fewer than the " +
                 std::to_string(needed) + " that " + std::to_string(connections) +
                 " connections (setting \"tcpmaxconn\") need; raise its hard limit (LimitNOFILE= in the "
                 "service's unit, or ulimit -Hn) or lower \"tcpmaxconn\"";
    }
  }
  if (settings.ipv6) {
    udp6_ = std::make_unique<CSyslogSocket>(owner, settings.udpPort, "::");
    if (!udp6_->created()) failure_ = CannotReceive("UDP over IPv6", settings.udpPort, udp6_->error());
  }
  if (failure_.empty() && settings.tcpPort != 0) {
    tcp_ = std::make_unique<CTcpSyslogServer>(owner, settings.tcpPort, BindAddresses(settings.ipv6), limits);
    if (!tcp_->created()) failure_ = CannotReceive("TCP", settings.tcpPort, tcp_->error());
  }
  if (failure_.empty() && settings.tlsPort != 0) {
    std::string why;
    auto context = CTlsServerContext::Create(settings.tlsCertificate, settings.tlsKey, settings.tlsCa, &why);
    if (!context) {
      failure_ = "cannot receive syslog on TLS port " + std::to_string(settings.tlsPort) + ": " + why;
    } else {
      tls_ = std::make_unique<CTcpSyslogServer>(owner, settings.tlsPort, BindAddresses(settings.ipv6), limits,
                                                std::move(context));
      if (!tls_->created()) failure_ = CannotReceive("TLS", settings.tlsPort, tls_->error());
    }
  }
  if (!failure_.empty()) {
    tls_.reset();
    tcp_.reset();
    udp6_.reset();
  }
}

CSyslogReceivers::~CSyslogReceivers() = default;

void CSyslogReceivers::Drain(std::chrono::milliseconds bound) {
  CTcpSyslogServer::Drain({tcp_.get(), tls_.get()}, std::chrono::steady_clock::now() + bound);
}

std::vector<CSyslogReceivers::Watch> CSyslogReceivers::watches() {
  std::vector<Watch> result;
  if (udp6_) result.push_back({udp6_->descriptor(), [this] { udp6_->OnReceive(); }});
  if (tcp_) result.push_back({tcp_->descriptor(), [this] { tcp_->OnReceive(); }});
  if (tls_) result.push_back({tls_->descriptor(), [this] { tls_->OnReceive(); }});
  return result;
}

}  // namespace qv
