#include "reception/tcp_syslog_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "reception/tls_session.h"

namespace qv {

struct CTcpSyslogServer::Connection {
  int fd = -1;
  std::string address;
  int32_t port = 0;
  CSyslogFrameReader reader;
  std::unique_ptr<CTlsSession> tls;
  bool established = false;  // plain TCP at once; TLS once the handshake is done
  bool wantsWrite = false;   // TLS needs the socket writable before it can go on
  std::chrono::steady_clock::time_point accepted = std::chrono::steady_clock::now();
};

namespace {

// Descriptors kept free beside the connections, for files, sockets and the rules' actions.
constexpr rlim_t kDescriptorReserve = 128;

// Address and port of a socket address, the address as inet_ntop writes it.
void Describe(const sockaddr_storage& peer, std::string* address, int32_t* port) {
  char text[INET6_ADDRSTRLEN] = "";
  if (peer.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(peer);
    inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    *port = ntohs(v6.sin6_port);
  } else {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(peer);
    inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    *port = ntohs(v4.sin_port);
  }
  *address = text;
}

// A listening socket on `address`:`port`, or -1 with errno set.
int Listen(const std::string& address, int32_t port) {
  sockaddr_storage local{};
  socklen_t length = 0;
  const bool v6 = address.find(':') != std::string::npos;
  if (v6) {
    auto& v6address = reinterpret_cast<sockaddr_in6&>(local);
    v6address.sin6_family = AF_INET6;
    v6address.sin6_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET6, address.c_str(), &v6address.sin6_addr) != 1) {
      errno = EINVAL;
      return -1;
    }
    length = sizeof(sockaddr_in6);
  } else {
    auto& v4address = reinterpret_cast<sockaddr_in&>(local);
    v4address.sin_family = AF_INET;
    v4address.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &v4address.sin_addr) != 1) {
      errno = EINVAL;
      return -1;
    }
    length = sizeof(sockaddr_in);
  }
  const int fd = socket(local.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (v6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&local), length) != 0 || listen(fd, SOMAXCONN) != 0) {
    const int reason = errno;
    close(fd);
    errno = reason;
    return -1;
  }
  return fd;
}

void RaiseDescriptorLimit(int32_t connections) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  const rlim_t wanted = static_cast<rlim_t>(connections) + kDescriptorReserve;
  if (limit.rlim_cur >= wanted) return;
  limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
  setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace

CTcpSyslogServer::CTcpSyslogServer(CSyslogSink& owner, int32_t port, const std::vector<std::string>& bindAddresses,
                                   int32_t maxConnections, std::shared_ptr<CTlsServerContext> tls,
                                   std::chrono::milliseconds handshakeLimit)
    : owner_(owner),
      port_(port),
      maxConnections_(maxConnections > 0 ? maxConnections : 1),
      tls_(std::move(tls)),
      handshakeLimit_(handshakeLimit) {
  if (port < 0 || port > 65535 || bindAddresses.empty()) {
    error_ = EINVAL;
    return;
  }
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  if (epoll_ < 0) {
    error_ = errno;
    return;
  }
  int32_t bound = port;
  for (const std::string& address : bindAddresses) {
    // Port 0 binds a kernel-chosen port once; every further address takes the same one.
    const int fd = Listen(address, bound);
    if (fd < 0) {
      error_ = errno;
      return;
    }
    listeners_.push_back(fd);
    Watch(fd, EPOLLIN);
    if (bound == 0) bound = boundPort();
  }
  if (tls_) {
    // Checked every quarter of the limit, so a handshake ends at most 1.25 limits after it began.
    handshakeTimer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    const auto period = std::chrono::duration_cast<std::chrono::nanoseconds>(handshakeLimit_ / 4).count() + 1;
    const timespec every{static_cast<time_t>(period / 1000000000), static_cast<long>(period % 1000000000)};
    const itimerspec schedule{every, every};
    if (handshakeTimer_ < 0 || timerfd_settime(handshakeTimer_, 0, &schedule, nullptr) != 0) {
      error_ = errno;
      return;
    }
    Watch(handshakeTimer_, EPOLLIN);
  }
  RaiseDescriptorLimit(maxConnections_);
  buffer_.resize(kReadChunk);
}

CTcpSyslogServer::~CTcpSyslogServer() {
  for (auto& entry : connections_) close(entry.first);
  for (int fd : listeners_) close(fd);
  if (handshakeTimer_ >= 0) close(handshakeTimer_);
  if (epoll_ >= 0) close(epoll_);
}

int32_t CTcpSyslogServer::boundPort() const {
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  if (listeners_.empty() || getsockname(listeners_.front(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    return 0;
  }
  std::string unused;
  int32_t port = 0;
  Describe(local, &unused, &port);
  return port;
}

void CTcpSyslogServer::Watch(int fd, uint32_t events) {
  epoll_event event{};
  event.events = events;
  event.data.fd = fd;
  if (epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event) != 0) epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
}

void CTcpSyslogServer::OnReceive() {
  if (epoll_ < 0 || receiving_) return;
  receiving_ = true;
  std::array<epoll_event, kMaxEventsPerReceive> events{};
  const int ready = epoll_wait(epoll_, events.data(), kMaxEventsPerReceive, 0);
  for (int i = 0; i < ready; ++i) {
    const int fd = events[static_cast<std::size_t>(i)].data.fd;
    if (fd == handshakeTimer_) {
      EndOverdueHandshakes();
      continue;
    }
    bool isListener = false;
    for (int listener : listeners_) isListener = isListener || listener == fd;
    if (isListener) {
      Accept(fd);
      continue;
    }
    const auto found = connections_.find(fd);  // closed meanwhile by an earlier event: skip
    if (found != connections_.end()) Serve(*found->second);
  }
  receiving_ = false;
}

void CTcpSyslogServer::Accept(int listener) {
  // A bounded number per call, so that a flood of connections cannot hold the loop.
  for (int accepted = 0; accepted < kMaxEventsPerReceive; ++accepted) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const int fd = accept4(listener, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // The connection stays queued; stop watching the listeners until a descriptor is free.
        owner_.OnLocalMessage(std::string("TCP syslog: cannot accept connections on port ") + std::to_string(port_) +
                              ": " + std::strerror(errno));
        for (int each : listeners_) epoll_ctl(epoll_, EPOLL_CTL_DEL, each, nullptr);
        listenersPaused_ = true;
      }
      return;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    Describe(peer, &connection->address, &connection->port);
    if (connections_.size() >= static_cast<std::size_t>(maxConnections_)) {
      close(fd);
      if (!refusing_) {
        refusing_ = true;
        owner_.OnLocalMessage("TCP syslog: connection from " + connection->address + " port " +
                              std::to_string(connection->port) + " refused: " + std::to_string(maxConnections_) +
                              " connections are open (setting \"tcpmaxconn\"); further refusals are not reported "
                              "until one closes");
      }
      continue;
    }
    if (tls_) connection->tls = std::make_unique<CTlsSession>(*tls_, fd);
    connection->established = !tls_;
    Watch(fd, EPOLLIN);
    Connection& served = *connection;
    connections_.emplace(fd, std::move(connection));
    // A TLS client speaks first; its hello may already be here.
    if (tls_) Serve(served);
  }
}

void CTcpSyslogServer::EndOverdueHandshakes() {
  uint64_t expirations = 0;
  if (read(handshakeTimer_, &expirations, sizeof expirations) < 0) return;
  const auto now = std::chrono::steady_clock::now();
  std::vector<int> overdue;
  for (const auto& [fd, connection] : connections_) {
    if (!connection->established && now - connection->accepted >= handshakeLimit_) overdue.push_back(fd);
  }
  for (int fd : overdue) {
    const Connection& connection = *connections_.at(fd);
    owner_.OnLocalMessage("TLS syslog: handshake with " + connection.address + " port " +
                          std::to_string(connection.port) + " failed: not done within " +
                          std::to_string(handshakeLimit_.count()) + " ms");
    Close(fd, false);
  }
}

bool CTcpSyslogServer::Handshake(Connection& connection) {
  const CTlsSession::Status status = connection.tls->Handshake();
  if (status == CTlsSession::Status::kReady) {
    connection.established = true;
    return true;
  }
  if (status == CTlsSession::Status::kWantRead || status == CTlsSession::Status::kWantWrite) {
    const bool wantsWrite = status == CTlsSession::Status::kWantWrite;
    if (wantsWrite != connection.wantsWrite) Watch(connection.fd, wantsWrite ? EPOLLOUT : EPOLLIN);
    connection.wantsWrite = wantsWrite;
    return false;
  }
  owner_.OnLocalMessage("TLS syslog: handshake with " + connection.address + " port " +
                        std::to_string(connection.port) + " failed: " + connection.tls->failure());
  Close(connection.fd, false);
  return false;
}

void CTcpSyslogServer::Deliver(const Connection& connection, std::string_view frame) {
  // As for a datagram, the text ends at its first zero byte.
  owner_.OnDatagram(connection.address, connection.port, frame.substr(0, frame.find('\0')));
}

void CTcpSyslogServer::Serve(Connection& connection) {
  if (!connection.established && !Handshake(connection)) return;
  const auto deliver = [this, &connection](std::string_view frame) { Deliver(connection, frame); };
  // One chunk, and with TLS whatever the library already decrypted (no readiness announces it).
  bool more = true;
  for (int reads = 0; more && reads < 8; ++reads) {
    std::size_t count = 0;
    bool ended = false;
    if (connection.tls) {
      CTlsSession::Status status = CTlsSession::Status::kReady;
      count = connection.tls->Read(buffer_.data(), buffer_.size(), &status);
      ended = status == CTlsSession::Status::kClosed || status == CTlsSession::Status::kFailed;
      const bool wantsWrite = status == CTlsSession::Status::kWantWrite;
      if (wantsWrite != connection.wantsWrite) Watch(connection.fd, wantsWrite ? EPOLLOUT : EPOLLIN);
      connection.wantsWrite = wantsWrite;
    } else {
      const ssize_t received = recv(connection.fd, buffer_.data(), buffer_.size(), 0);
      if (received > 0) count = static_cast<std::size_t>(received);
      ended = received == 0 || (received < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
    }
    if (count > 0) connection.reader.Feed(std::string_view(buffer_.data(), count), deliver);
    if (ended) {
      Close(connection.fd, true);
      return;
    }
    more = count > 0 && connection.tls && connection.tls->HasPending();
  }
}

void CTcpSyslogServer::Close(int fd, bool finishFrame) {
  const auto found = connections_.find(fd);
  if (found == connections_.end()) return;
  std::unique_ptr<Connection> connection = std::move(found->second);
  connections_.erase(found);
  if (finishFrame) {
    connection->reader.Finish([this, &connection](std::string_view frame) { Deliver(*connection, frame); });
  }
  epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
  connection->tls.reset();
  close(fd);
  refusing_ = false;
  if (listenersPaused_) {
    listenersPaused_ = false;
    for (int listener : listeners_) Watch(listener, EPOLLIN);
  }
}

}  // namespace qv
