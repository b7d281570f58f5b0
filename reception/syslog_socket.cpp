#include "reception/syslog_socket.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "core/message/record_formats.h"
#include "core/message/syslog_message.h"
#include "reception/dotted_address.h"

namespace qv {
namespace {

// Datagrams read by one recvmmsg call. Each needs a slot of a whole maximal datagram, so the
// batch is kept small: 16 slots are 1 MiB.
constexpr int kBatch = 16;
constexpr std::size_t kSlotBytes = CSyslogSocket::kMaxDatagram + 1;  // room for the zero

static_assert(CSyslogSocket::kReceiveBufferBytes >= 131072);
static_assert(INET6_ADDRSTRLEN >= kDottedAddressSize);

// The bound socket, or -1 with errno telling why not. An address holding ':' is IPv6, and the
// socket then takes only IPv6 (IPv4 senders keep their own socket and dotted addresses).
int OpenBoundSocket(int32_t port, std::string_view bindAddress) {
  if (port < 0 || port > 65535) {
    errno = EINVAL;
    return -1;
  }
  const std::string address(bindAddress);
  const bool v6 = address.find(':') != std::string::npos;
  sockaddr_storage local{};
  socklen_t length = sizeof(sockaddr_in);
  if (v6) {
    auto& v6local = reinterpret_cast<sockaddr_in6&>(local);
    v6local.sin6_family = AF_INET6;
    v6local.sin6_port = htons(static_cast<uint16_t>(port));
    length = sizeof(sockaddr_in6);
    if (inet_pton(AF_INET6, address.c_str(), &v6local.sin6_addr) != 1) {
      errno = EINVAL;
      return -1;
    }
  } else {
    auto& v4local = reinterpret_cast<sockaddr_in&>(local);
    v4local.sin_family = AF_INET;
    v4local.sin_port = htons(static_cast<uint16_t>(port));
    v4local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!address.empty() && inet_pton(AF_INET, address.c_str(), &v4local.sin_addr) != 1) {
      errno = EINVAL;
      return -1;
    }
  }
  // Close-on-exec: programs started by rule actions must not inherit the syslog port.
  const int fd = socket(local.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int on = 1;
  if (v6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&local), length) != 0) {
    const int reason = errno;
    close(fd);
    errno = reason;
    return -1;
  }
  // A privileged program may pass net.core.rmem_max; others get what the kernel allows.
  const int bytes = CSyslogSocket::kReceiveBufferBytes;
  if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
  }
  return fd;
}

}  // namespace

CSyslogSocket::CSyslogSocket(CSyslogSink& owner, int32_t port, std::string_view bindAddress)
    : owner_(owner), port_(port), fd_(OpenBoundSocket(port, bindAddress)), error_(fd_ < 0 ? errno : 0) {}

CSyslogSocket::~CSyslogSocket() {
  if (fd_ >= 0) close(fd_);
}

int32_t CSyslogSocket::boundPort() const {
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  if (fd_ < 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
  // The port sits at the same offset in both families.
  return ntohs(reinterpret_cast<const sockaddr_in&>(local).sin_port);
}

int CSyslogSocket::ReadBatch(int wanted) {
  if (buffers_.empty()) {
    buffers_.resize(kBatch * kSlotBytes);
    senders_.resize(kBatch);
    lengths_.resize(kBatch);
  }
  const int count = wanted < kBatch ? wanted : kBatch;
  std::array<iovec, kBatch> slots{};
  std::array<mmsghdr, kBatch> headers{};
  for (int i = 0; i < count; ++i) {
    slots[i].iov_base = &buffers_[i * kSlotBytes];
    slots[i].iov_len = kMaxDatagram;
    headers[i].msg_hdr.msg_name = &senders_[i];
    headers[i].msg_hdr.msg_namelen = sizeof(sockaddr_storage);
    headers[i].msg_hdr.msg_iov = &slots[i];
    headers[i].msg_hdr.msg_iovlen = 1;
  }
  const int received = recvmmsg(fd_, headers.data(), static_cast<unsigned>(count), MSG_DONTWAIT, nullptr);
  if (received <= 0) return 0;  // nothing waiting, or a failed receive: ignored
  for (int i = 0; i < received; ++i) {
    lengths_[i] = headers[i].msg_len;
    buffers_[i * kSlotBytes + lengths_[i]] = '\0';
  }
  return received;
}

void CSyslogSocket::OnReceive() {
  if (fd_ < 0 || receiving_) return;
  // Ends the receiving state however OnDatagram leaves, an exception included, unless the
  // owner destroyed us.
  struct ReceivingScope {
    CSyslogSocket& socket;
    std::weak_ptr<const int> alive;
    explicit ReceivingScope(CSyslogSocket& s) : socket(s), alive(s.lifetime_) { socket.receiving_ = true; }
    ~ReceivingScope() {
      if (!alive.expired()) socket.receiving_ = false;
    }
    ReceivingScope(const ReceivingScope&) = delete;
    ReceivingScope& operator=(const ReceivingScope&) = delete;
  } scope(*this);
  int handed = 0;
  while (handed < kMaxDatagramsPerReceive) {
    const int received = ReadBatch(kMaxDatagramsPerReceive - handed);
    for (int i = 0; i < received; ++i) {
      const char* text = &buffers_[i * kSlotBytes];
      char address[INET6_ADDRSTRLEN] = "";
      const int32_t port = FormatSenderAddress(senders_[i], address);
      // The text ends at the first zero byte, whether the sender's or ours.
      owner_.OnDatagram(address, port, std::string_view(text, strnlen(text, lengths_[i])));
      if (scope.alive.expired()) return;  // the owner closed us: `this` is gone
    }
    handed += received;
    if (received < kBatch) break;  // the queue is empty
  }
}

void CSyslogSocket::Forward(std::string_view dottedAddress, const SyslogMessage& record) {
  if (fd_ < 0) return;
  sockaddr_in server{};
  server.sin_family = AF_INET;
  server.sin_port = htons(kForwardPort);
  const bool rfc5424 = dottedAddress.ends_with(kRfc5424Suffix);
  if (rfc5424) dottedAddress.remove_suffix(kRfc5424Suffix.size());
  server.sin_addr.s_addr = inet_addr(std::string(dottedAddress).c_str());
  const std::string line = rfc5424 ? FormatRfc5424Line(record) : record.FormatSyslogLine();
  sendto(fd_, line.data(), line.size(), MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&server), sizeof server);
}

}  // namespace qv
