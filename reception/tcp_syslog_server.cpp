#include "reception/tcp_syslog_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>

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
  bool told = false;         // the end was sent (Drain)
  std::chrono::steady_clock::time_point accepted = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point lastHeard = accepted;  // accepted, or last bytes read
};

namespace {

using Clock = std::chrono::steady_clock;

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

// How often the timer runs: often enough to end an idle connection or a handshake within a
// quarter of its limit over, at most once a second (the reports held back need no more).
std::chrono::nanoseconds TimerPeriod(const ConnectionLimits& limits) {
  const auto shortest = (limits.idle.count() > 0 ? std::min(limits.idle, limits.handshake) : limits.handshake) / 4;
  return std::chrono::nanoseconds(std::clamp<std::chrono::milliseconds>(shortest, std::chrono::milliseconds(10),
                                                                       std::chrono::seconds(1)));
}

// "300 s", or "500 ms" below a second.
std::string Duration(Clock::duration length) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(length).count();
  return ms >= 1000 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

std::string Count(uint64_t count) {
  return count > 1 ? " (" + std::to_string(count) + " times since the last report)" : "";
}

}  // namespace

int64_t CTcpSyslogServer::ReserveDescriptors(int64_t connections) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur == RLIM_INFINITY) return std::numeric_limits<int64_t>::max();
  const rlim_t wanted = static_cast<rlim_t>(std::max<int64_t>(connections, 0) + kDescriptorReserve);
  if (limit.rlim_cur < wanted) {
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  return static_cast<int64_t>(limit.rlim_cur);
}

CTcpSyslogServer::CTcpSyslogServer(CSyslogSink& owner, int32_t port, const std::vector<std::string>& bindAddresses,
                                   const ConnectionLimits& limits, std::shared_ptr<CTlsServerContext> tls)
    : owner_(owner), port_(port), limits_(limits), tls_(std::move(tls)) {
  limits_.maxConnections = std::max(limits_.maxConnections, 1);
  limits_.perAddress = std::max(limits_.perAddress, 1);
  limits_.idle = std::max(limits_.idle, std::chrono::milliseconds(0));
  limits_.handshake = std::max(limits_.handshake, std::chrono::milliseconds(1));
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
  timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  const auto period = TimerPeriod(limits_).count();
  const timespec every{static_cast<time_t>(period / 1000000000), static_cast<long>(period % 1000000000)};
  const itimerspec schedule{every, every};
  if (timer_ < 0 || timerfd_settime(timer_, 0, &schedule, nullptr) != 0) {
    error_ = errno;
    return;
  }
  Watch(timer_, EPOLLIN);
  spare_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
  buffer_.resize(kReadChunk);
}

CTcpSyslogServer::~CTcpSyslogServer() {
  for (auto& entry : connections_) close(entry.first);
  for (int fd : listeners_) close(fd);
  for (int fd : {timer_, spare_, epoll_}) {
    if (fd >= 0) close(fd);
  }
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

std::string CTcpSyslogServer::Name() const { return tls_ ? "TLS syslog" : "TCP syslog"; }

// Reports are made also while the process has no descriptor left. The undefined-behaviour
// sanitizer's check of the owner's dynamic type then cannot open the pipe it probes memory with
// and calls every object invalid, so that check is left out here.
__attribute__((no_sanitize("vptr"))) void CTcpSyslogServer::Report(const std::string& kind, std::string text) {
  if (const auto count = reports_.Count(kind)) {
    owner_.OnLocalMessage(text + Count(*count));
    lastReport_.erase(kind);
  } else {
    lastReport_[kind] = std::move(text);
  }
}

void CTcpSyslogServer::OnReceive() {
  if (epoll_ < 0 || receiving_) return;
  receiving_ = true;
  std::array<epoll_event, kMaxEventsPerReceive> events{};
  const int ready = epoll_wait(epoll_, events.data(), kMaxEventsPerReceive, 0);
  for (int i = 0; i < ready; ++i) {
    const int fd = events[static_cast<std::size_t>(i)].data.fd;
    if (fd == timer_) {
      OnTimer();
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

void CTcpSyslogServer::Drain(const std::vector<CTcpSyslogServer*>& servers, Clock::time_point deadline) {
  std::vector<CTcpSyslogServer*> draining;
  for (CTcpSyslogServer* server : servers) {
    if (server == nullptr || server->epoll_ < 0 || server->receiving_) continue;
    server->StopListening();
    draining.push_back(server);
  }
  for (;;) {
    std::vector<pollfd> watched;
    for (CTcpSyslogServer* server : draining) {
      server->TellTheEnd();
      if (!server->connections_.empty()) watched.push_back({server->epoll_, POLLIN, 0});
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (watched.empty() || left.count() <= 0) break;
    poll(watched.data(), watched.size(),
         static_cast<int>(std::min<std::chrono::milliseconds>(left, std::chrono::milliseconds(100)).count()));
    for (CTcpSyslogServer* server : draining) server->OnReceive();
  }
  for (CTcpSyslogServer* server : draining) {
    std::vector<int> rest;
    for (const auto& entry : server->connections_) rest.push_back(entry.first);
    for (int fd : rest) server->Close(fd, true);
  }
}

void CTcpSyslogServer::StopListening() {
  // Connections waiting to be accepted may hold lines already: they are ended in order too.
  for (int fd : listeners_) {
    Accept(fd);
    close(fd);  // closing also ends its watch
  }
  listeners_.clear();
}

void CTcpSyslogServer::TellTheEnd() {
  // A TLS connection is told once its handshake is done: its client may have sent already.
  for (const auto& [fd, connection] : connections_) {
    if (!connection->established || connection->told) continue;
    connection->told = true;
    if (connection->tls) {
      connection->tls->Shutdown();
    } else {
      shutdown(fd, SHUT_WR);
    }
  }
}

void CTcpSyslogServer::Accept(int listener) {
  // A bounded number per call, so that a flood of connections cannot hold the loop.
  for (int accepted = 0; accepted < kMaxEventsPerReceive; ++accepted) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const int fd = accept4(listener, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) Shed(listener, errno);
      return;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    Describe(peer, &connection->address, &connection->port);
    if (!Admit(connection->address, connection->port)) {
      close(fd);
      continue;
    }
    ++perAddress_[connection->address];
    if (tls_) connection->tls = std::make_unique<CTlsSession>(*tls_, fd);
    connection->established = !tls_;
    Watch(fd, EPOLLIN);
    Connection& served = *connection;
    connections_.emplace(fd, std::move(connection));
    // A TLS client speaks first; its hello may already be here.
    if (tls_) Serve(served);
  }
}

bool CTcpSyslogServer::Admit(const std::string& address, int32_t port) {
  const std::string peer = address + " port " + std::to_string(port);
  const auto fromAddress = perAddress_.find(address);
  if (fromAddress != perAddress_.end() && fromAddress->second >= limits_.perAddress) {
    Report("per address", Name() + ": connection from " + peer + " refused: " + std::to_string(limits_.perAddress) +
                              " connections from this address are open (setting \"tcpperaddr\")");
    return false;
  }
  if (connections_.size() < static_cast<std::size_t>(limits_.maxConnections)) return true;
  // Full: the connection silent for longest makes room, unless every one has spoken lately.
  const auto now = Clock::now();
  const Connection* oldest = nullptr;
  for (const auto& entry : connections_) {
    if (oldest == nullptr || entry.second->lastHeard < oldest->lastHeard) oldest = entry.second.get();
  }
  if (oldest == nullptr || now - oldest->lastHeard < limits_.evictableAfter) {
    Report("full", Name() + ": connection from " + peer + " refused: " + std::to_string(limits_.maxConnections) +
                       " connections are open and none is idle (setting \"tcpmaxconn\")");
    return false;
  }
  Report("evicted", Name() + ": " + std::to_string(limits_.maxConnections) +
                        " connections are open (setting \"tcpmaxconn\"); closed the one from " + oldest->address +
                        " port " + std::to_string(oldest->port) + ", silent for " + Duration(now - oldest->lastHeard) +
                        ", to admit " + peer);
  Close(oldest->fd, true);
  return true;
}

void CTcpSyslogServer::Shed(int listener, int error) {
  const std::string why = Name() + ": cannot accept connections on port " + std::to_string(boundPort()) + ": " +
                          std::strerror(error);
  // The spare descriptor makes room to take one waiting connection and close it, so the
  // listener does not stay readable (and the client waiting) while descriptors are short.
  int shed = 0;
  while (spare_ >= 0 && shed < kMaxEventsPerReceive) {
    close(spare_);
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) close(fd);
    spare_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd < 0) break;
    ++shed;
  }
  Report("descriptors", why + (shed > 0 ? "; closed a waiting connection at once" : "") +
                            " (raise the limit of open files, or lower \"tcpmaxconn\")");
  // Without a spare, wait for a free descriptor: a connection closing, or the next timer run.
  if (spare_ < 0 || shed == 0) PauseListeners();
}

void CTcpSyslogServer::PauseListeners() {
  for (int each : listeners_) epoll_ctl(epoll_, EPOLL_CTL_DEL, each, nullptr);
  listenersPaused_ = true;
}

void CTcpSyslogServer::OnTimer() {
  uint64_t expirations = 0;
  if (read(timer_, &expirations, sizeof expirations) < 0) return;
  const auto now = Clock::now();
  std::vector<int> overdue;
  std::vector<int> idle;
  for (const auto& [fd, connection] : connections_) {
    if (!connection->established && now - connection->accepted >= limits_.handshake) {
      overdue.push_back(fd);
    } else if (limits_.idle.count() > 0 && now - connection->lastHeard >= limits_.idle) {
      idle.push_back(fd);
    }
  }
  for (int fd : overdue) {
    const Connection& connection = *connections_.at(fd);
    Report("handshake", Name() + ": handshake with " + connection.address + " port " + std::to_string(connection.port) +
                            " failed: not done within " + std::to_string(limits_.handshake.count()) + " ms");
    Close(fd, false);
  }
  for (int fd : idle) {
    const Connection& connection = *connections_.at(fd);
    Report("idle", Name() + ": closed the connection from " + connection.address + " port " +
                       std::to_string(connection.port) + ", silent for " + Duration(limits_.idle) +
                       " (setting \"tcpidle\")");
    Close(fd, true);
  }
  for (const auto& [kind, count] : reports_.TakeDue(now)) {
    const auto held = lastReport_.find(kind);
    if (held == lastReport_.end()) continue;
    owner_.OnLocalMessage(held->second + Count(count));
    lastReport_.erase(held);
  }
  if (listenersPaused_) {
    listenersPaused_ = false;
    if (spare_ < 0) spare_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
    for (int listener : listeners_) Watch(listener, EPOLLIN);
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
  Report("handshake", Name() + ": handshake with " + connection.address + " port " + std::to_string(connection.port) +
                          " failed: " + connection.tls->failure());
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
    if (count > 0) {
      connection.lastHeard = Clock::now();
      connection.reader.Feed(std::string_view(buffer_.data(), count), deliver);
    }
    if (ended) {
      Close(connection.fd, true);
      return;
    }
    more = count > 0 && connection.tls && connection.tls->HasPending();
  }
  connection.reader.ReleaseIdleBuffer();
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
  const auto fromAddress = perAddress_.find(connection->address);
  if (fromAddress != perAddress_.end() && --fromAddress->second <= 0) perAddress_.erase(fromAddress);
  if (listenersPaused_) {
    listenersPaused_ = false;
    if (spare_ < 0) spare_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
    for (int listener : listeners_) Watch(listener, EPOLLIN);
  }
}

}  // namespace qv
