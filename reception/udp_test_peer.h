#pragma once
// Test helpers for the reception tests: a sink that records what it is handed, a plain UDP
// peer, and a loop that feeds a CSyslogSocket's read notifications until enough has arrived.
// Every wait is bounded; traffic goes to 127.0.0.0/8 only.

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reception/syslog_sink.h"
#include "reception/syslog_socket.h"

namespace qv::testing {

struct ReceivedDatagram {
  std::string address;
  int32_t port = 0;
  std::string text;
  bool zeroTerminated = false;  // the byte after the text was a zero
};

class RecordingSink : public CSyslogSink {
 public:
  void OnDatagram(std::string_view senderAddress, int32_t senderPort, std::string_view text) override {
    datagrams.push_back({std::string(senderAddress), senderPort, std::string(text), text.data()[text.size()] == '\0'});
  }
  void OnLocalMessage(std::string_view) override {}

  std::vector<ReceivedDatagram> datagrams;
};

// Waits for the socket to be readable and calls OnReceive until the sink holds `count`
// datagrams or `timeout` has passed. Returns whether the count was reached.
inline bool ReceiveUntil(CSyslogSocket& socket, const RecordingSink& sink, std::size_t count,
                         std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (sink.datagrams.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd watched{socket.descriptor(), POLLIN, 0};
    if (poll(&watched, 1, static_cast<int>(left.count())) == 1) socket.OnReceive();
  }
  return true;
}

// A plain blocking UDP socket, bound to `address`:`port` (0: any free port).
class UdpPeer {
 public:
  explicit UdpPeer(const char* address = "127.0.0.1", int port = 0) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local = Address(address, port);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~UdpPeer() {
    if (fd_ >= 0) close(fd_);
  }
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  bool bound() const { return fd_ >= 0; }
  int port() const {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.sin_port);
  }
  // Returns whether the whole datagram was sent.
  bool SendTo(int port, std::string_view bytes, const char* address = "127.0.0.1") const {
    sockaddr_in destination = Address(address, port);
    return sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&destination),
                  sizeof destination) == static_cast<ssize_t>(bytes.size());
  }
  // One datagram and its sender's port, or nothing within `timeout`.
  std::optional<std::string> Receive(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000),
                                     int* senderPort = nullptr) const {
    pollfd watched{fd_, POLLIN, 0};
    if (poll(&watched, 1, static_cast<int>(timeout.count())) != 1) return std::nullopt;
    std::string bytes(65536, '\0');
    sockaddr_in sender{};
    socklen_t length = sizeof sender;
    const ssize_t n = recvfrom(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&sender), &length);
    if (n < 0) return std::nullopt;
    if (senderPort != nullptr) *senderPort = ntohs(sender.sin_port);
    bytes.resize(static_cast<std::size_t>(n));
    return bytes;
  }

 private:
  static sockaddr_in Address(const char* address, int port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address, &result.sin_addr);
    return result;
  }

  int fd_ = -1;
};

}  // namespace qv::testing
