#include "reception/relay_sender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
  static const sockaddr_in viewer = Loopback(RELAY_PORT);
  sendto(fd_, recordLine.data(), recordLine.size() - 2, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&viewer),
         sizeof viewer);
}

}  // namespace qv
