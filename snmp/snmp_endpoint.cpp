#include "snmp/snmp_endpoint.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

namespace qv {
namespace {

sockaddr* AsSockaddr(sockaddr_in* address) { return reinterpret_cast<sockaddr*>(address); }

}  // namespace

CSnmpEndpoint::CSnmpEndpoint(int timeoutSeconds) : timeoutSeconds_(timeoutSeconds), buffer_(kDefaultBufferSize) {
  peer_.sin_family = AF_INET;
}

CSnmpEndpoint::CSnmpEndpoint(uint16_t port, int timeoutSeconds, std::string_view host)
    : CSnmpEndpoint(timeoutSeconds) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const int status = getaddrinfo(std::string(host).c_str(), nullptr, &hints, &found);
  if (status != 0 || found == nullptr) {
    lastError_ = status == EAI_SYSTEM ? errno : status;
    if (found) freeaddrinfo(found);
    return;
  }
  peer_.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  peer_.sin_port = htons(port);
  hasPeer_ = true;
  freeaddrinfo(found);
  Open(0);
}

CSnmpEndpoint::CSnmpEndpoint(uint16_t port, int timeoutSeconds) : CSnmpEndpoint(timeoutSeconds) { Open(port); }

CSnmpEndpoint::~CSnmpEndpoint() { Close(); }

CSnmpEndpoint::CSnmpEndpoint(CSnmpEndpoint&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      timeoutSeconds_(other.timeoutSeconds_),
      buffer_(std::move(other.buffer_)),
      peer_(other.peer_),
      hasPeer_(other.hasPeer_),
      lastError_(other.lastError_) {}

CSnmpEndpoint& CSnmpEndpoint::operator=(CSnmpEndpoint&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    timeoutSeconds_ = other.timeoutSeconds_;
    buffer_ = std::move(other.buffer_);
    peer_ = other.peer_;
    hasPeer_ = other.hasPeer_;
    lastError_ = other.lastError_;
  }
  return *this;
}

bool CSnmpEndpoint::Open(uint16_t localPort) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    lastError_ = errno;
    return false;
  }
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = htons(localPort);
  if (bind(fd, AsSockaddr(&local), sizeof local) != 0) {
    lastError_ = errno;
    close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void CSnmpEndpoint::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

int CSnmpEndpoint::Send(const CSnmpMessage& message) {
  if (!Ready() || !hasPeer_) return 0;
  const Bytes datagram = message.Encode();
  const ssize_t sent = sendto(fd_, datagram.data(), datagram.size(), MSG_NOSIGNAL, AsSockaddr(&peer_), sizeof peer_);
  if (sent < 0) {
    lastError_ = errno;
    return 0;
  }
  return static_cast<int>(sent);
}

std::optional<CSnmpMessage> CSnmpEndpoint::Receive() {
  if (!Ready()) return std::nullopt;
  // poll rather than select: select cannot watch a descriptor numbered 1024 or more.
  pollfd watch{fd_, POLLIN, 0};
  const int timeoutMs = timeoutSeconds_ <= 0 ? -1 : std::min(timeoutSeconds_, INT_MAX / 1000) * 1000;
  const int ready = poll(&watch, 1, timeoutMs);
  if (ready < 0) lastError_ = errno;
  if (ready <= 0) return std::nullopt;

  sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  const ssize_t received = recvfrom(fd_, buffer_.data(), buffer_.size(), MSG_DONTWAIT, AsSockaddr(&from), &fromLength);
  if (received < 0) {
    lastError_ = errno;
    return std::nullopt;
  }
  peer_ = from;
  hasPeer_ = true;
  return CSnmpMessage::Decode(ByteSpan(buffer_.data(), static_cast<size_t>(received)));
}

std::string CSnmpEndpoint::PeerAddress() const {
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &peer_.sin_addr, text, sizeof text);
  return text;
}

uint16_t CSnmpEndpoint::PeerPort() const { return ntohs(peer_.sin_port); }

uint16_t CSnmpEndpoint::LocalPort() const {
  if (!Ready()) return 0;
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (getsockname(fd_, AsSockaddr(&local), &length) != 0) return 0;
  return ntohs(local.sin_port);
}

std::string CSnmpEndpoint::LastErrorText() const {
  if (lastError_ == 0) return "";
  return lastError_ < 0 ? gai_strerror(lastError_) : std::strerror(lastError_);
}

}  // namespace qv
