#include "reception/relay_sender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>

#include "reception/relay.h"

namespace qv {
namespace {

sockaddr_in Loopback(int32_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

CRelaySender::CRelaySender() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
  const sockaddr_in source = Loopback(RELAY_SOURCE_PORT);
  bound_ = fd_ >= 0 && bind(fd_, reinterpret_cast<const sockaddr*>(&source), sizeof source) == 0;
}

CRelaySender::~CRelaySender() {
  if (fd_ >= 0) close(fd_);
}

void CRelaySender::Relay(std::string_view recordLine) {
  if (fd_ < 0 || recordLine.size() < 2) return;
  if (queued_.size() < kMaxQueued) queued_.resize(kMaxQueued);
  queued_[count_++].assign(recordLine.substr(0, recordLine.size() - 2));
  if (count_ == kMaxQueued) Flush();
}

void CRelaySender::Flush() {
  static sockaddr_in viewer = Loopback(RELAY_PORT);
  std::array<iovec, kMaxQueued> lines{};
  std::array<mmsghdr, kMaxQueued> datagrams{};
  for (std::size_t i = 0; i < count_; ++i) {
    lines[i] = {queued_[i].data(), queued_[i].size()};
    datagrams[i].msg_hdr.msg_name = &viewer;
    datagrams[i].msg_hdr.msg_namelen = sizeof viewer;
    datagrams[i].msg_hdr.msg_iov = &lines[i];
    datagrams[i].msg_hdr.msg_iovlen = 1;
  }
  // A datagram the kernel refuses is skipped, not retried: the relay is never checked.
  for (std::size_t sent = 0; sent < count_;) {
    const int n = sendmmsg(fd_, datagrams.data() + sent, static_cast<unsigned>(count_ - sent), MSG_DONTWAIT);
    sent += n > 0 ? static_cast<std::size_t>(n) : 1;
  }
  count_ = 0;
}

}  // namespace qv
