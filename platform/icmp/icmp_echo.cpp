#include "platform/icmp/icmp_echo.h"
#include "platform/icmp/reply_wait.h"

#include <arpa/inet.h>
#include <linux/icmp.h>
#include <netinet/ip.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace qv::icmp {
namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned char kFill = 0x45;  // "E"
constexpr std::size_t kIcmpHeader = 8;
constexpr uint8_t kEchoRequest = 8;
constexpr uint8_t kEchoReply = 0;

class CSocket {
 public:
  explicit CSocket(int fd) : fd_(fd) {}
  ~CSocket() {
    if (fd_ >= 0) close(fd_);
  }
  CSocket(const CSocket&) = delete;
  CSocket& operator=(const CSocket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

int OpenSocket(SocketKind kind) {
  return socket(AF_INET, (kind == SocketKind::kDatagram ? SOCK_DGRAM : SOCK_RAW) | SOCK_CLOEXEC | SOCK_NONBLOCK,
                IPPROTO_ICMP);
}

std::optional<SocketKind> Probe() {
  for (const SocketKind kind : {SocketKind::kDatagram, SocketKind::kRaw}) {
    const CSocket probe(OpenSocket(kind));
    if (probe.fd() >= 0) return kind;
  }
  return std::nullopt;
}

// Folds a sum of 16-bit words into the internet checksum.
uint16_t FoldChecksum(uint32_t sum) {
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

// Identifier and sequence number of one request. A datagram socket's identifier is chosen by the
// kernel, which also delivers only its own replies to it; a raw socket sees every echo reply of
// the machine and tells ours by both numbers.
struct EchoTag {
  uint16_t id;
  uint16_t sequence;
};

EchoTag NextTag() {
  static std::atomic<uint32_t> counter{0};
  const uint32_t n = counter++;
  return {static_cast<uint16_t>(static_cast<uint32_t>(getpid()) ^ (n >> 16)), static_cast<uint16_t>(n)};
}

std::vector<unsigned char> BuildRequest(const EchoTag& tag, int dataSize) {
  std::array<unsigned char, kIcmpHeader> header = {kEchoRequest,
                                                   0,
                                                   0,
                                                   0,
                                                   static_cast<unsigned char>(tag.id >> 8),
                                                   static_cast<unsigned char>(tag.id),
                                                   static_cast<unsigned char>(tag.sequence >> 8),
                                                   static_cast<unsigned char>(tag.sequence)};
  // The data is all fill bytes starting at an even offset, so its words can be counted.
  const auto size = static_cast<uint32_t>(dataSize);
  uint32_t sum = (size / 2) * (kFill << 8 | kFill) + (size % 2) * (kFill << 8);
  for (std::size_t i = 0; i < kIcmpHeader; i += 2) sum += static_cast<uint32_t>(header[i] << 8 | header[i + 1]);
  const uint16_t checksum = FoldChecksum(sum);
  header[2] = static_cast<unsigned char>(checksum >> 8);
  header[3] = static_cast<unsigned char>(checksum);

  std::vector<unsigned char> packet(header.begin(), header.end());
  packet.insert(packet.end(), size, kFill);
  return packet;
}

bool SetOptions(int fd, const EchoRequest& request) {
  const int ttl = request.ttl;
  const int tos = request.typeOfService;
  const int pmtu = request.dontFragment ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
  return setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) == 0 &&
         setsockopt(fd, IPPROTO_IP, IP_TOS, &tos, sizeof tos) == 0 &&
         setsockopt(fd, IPPROTO_IP, IP_MTU_DISCOVER, &pmtu, sizeof pmtu) == 0;
}

enum class Match { kOther, kOurs, kOursBadData };

// Looks at one received packet of `realLength` bytes, of which the first `length` were kept:
// is it the reply to our request, and is its data intact?
Match Examine(const unsigned char* packet, std::size_t length, std::size_t realLength, SocketKind kind,
              const EchoTag& tag, const sockaddr_in& from, const in_addr& target, int dataSize) {
  if (kind == SocketKind::kRaw) {
    // Raw sockets deliver the IP header as well.
    if (length < 20) return Match::kOther;
    const std::size_t ipHeader = static_cast<std::size_t>(packet[0] & 0x0f) * 4;
    if (ipHeader < 20 || ipHeader > length) return Match::kOther;
    packet += ipHeader;
    length -= ipHeader;
    realLength -= ipHeader;
  }
  if (length < kIcmpHeader || packet[0] != kEchoReply || packet[1] != 0) return Match::kOther;
  const uint16_t id = static_cast<uint16_t>(packet[4] << 8 | packet[5]);
  const uint16_t sequence = static_cast<uint16_t>(packet[6] << 8 | packet[7]);
  if (sequence != tag.sequence) return Match::kOther;
  if (kind == SocketKind::kRaw && (id != tag.id || from.sin_addr.s_addr != target.s_addr)) return Match::kOther;
  const std::size_t echoed = length - kIcmpHeader;
  if (realLength != length || echoed != static_cast<std::size_t>(dataSize)) return Match::kOursBadData;
  for (std::size_t i = 0; i < echoed; ++i) {
    if (packet[kIcmpHeader + i] != kFill) return Match::kOursBadData;
  }
  return Match::kOurs;
}

}  // namespace

std::optional<SocketKind> AvailableSocketKind() {
  static const std::optional<SocketKind> kind = Probe();
  return kind;
}

EchoResult SendEcho(const EchoRequest& request, const CManualResetEvent* stop, EchoReply* reply,
                    std::optional<SocketKind> kind) {
  if (request.dataSize < 0 || request.dataSize > kMaxDataSize || request.ttl < 1 || request.ttl > 255 ||
      request.typeOfService < 0 || request.typeOfService > 255) {
    return EchoResult::kBadRequest;
  }
  if (!kind) kind = AvailableSocketKind();
  if (!kind) return EchoResult::kNoSocket;
  const CSocket sock(OpenSocket(*kind));
  if (sock.fd() < 0) return EchoResult::kNoSocket;
  if (*kind == SocketKind::kRaw) {
    // Only echo replies are of interest; everything else the machine receives stays out.
    const icmp_filter filter{~(1u << ICMP_ECHOREPLY)};
    setsockopt(sock.fd(), SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
  }
  if (!SetOptions(sock.fd(), request)) return EchoResult::kSendFailed;

  const EchoTag tag = NextTag();
  const std::vector<unsigned char> packet = BuildRequest(tag, request.dataSize);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr = request.address;

  const auto sent = Clock::now();
  if (sendto(sock.fd(), packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&target), sizeof target) !=
      static_cast<ssize_t>(packet.size())) {
    return EchoResult::kSendFailed;
  }

  const auto deadline = sent + std::chrono::milliseconds(request.timeoutMs < 0 ? 0 : request.timeoutMs);
  // Room for the largest IP header, the ICMP header, our data and one byte that shows a longer reply.
  std::vector<unsigned char> buffer(60 + kIcmpHeader + static_cast<std::size_t>(request.dataSize) + 1);
  auto read = [&]() -> ReadOutcome {
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    ssize_t got = -1;
    do {
      got = recvfrom(sock.fd(), buffer.data(), buffer.size(), MSG_TRUNC, reinterpret_cast<sockaddr*>(&from),
                     &fromLength);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? ReadOutcome::kEmpty : ReadOutcome::kFailed;
    // With MSG_TRUNC `got` is the real length even when the buffer kept less.
    const std::size_t realLength = static_cast<std::size_t>(got);
    const std::size_t kept = realLength < buffer.size() ? realLength : buffer.size();
    const Match match = Examine(buffer.data(), kept, realLength, *kind, tag, from, request.address, request.dataSize);
    if (match == Match::kOther) return ReadOutcome::kOther;  // a late answer to an earlier request
    if (match == Match::kOursBadData) return ReadOutcome::kOursBadData;
    if (reply != nullptr) {
      char text[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
      reply->address = text;
      reply->roundTripMs =
          static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count());
      reply->status = 0;
    }
    return ReadOutcome::kOurs;
  };
  return AwaitReply(sock.fd(), stop, deadline, read);
}

EchoResult AwaitReply(int fd, const CManualResetEvent* stop, Clock::time_point deadline,
                      const std::function<ReadOutcome()>& read) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const int fds[] = {stop != nullptr ? stop->Fd() : -1, fd};  // poll ignores -1
    const int ready = WaitForAny(fds, left > 0 ? static_cast<int>(left) : 0);
    if (ready == 0) return EchoResult::kStopped;
    if (ready == kWaitTimeout) return EchoResult::kNoReply;
    if (ready == kWaitFailed) return EchoResult::kSendFailed;

    // Read everything queued, but no longer than the wait may last.
    for (bool queued = true; queued;) {
      switch (read()) {
        case ReadOutcome::kOurs: return EchoResult::kAnswered;
        case ReadOutcome::kOursBadData: return EchoResult::kBadData;
        case ReadOutcome::kFailed: return EchoResult::kSendFailed;  // an ICMP error reported on the socket
        case ReadOutcome::kEmpty: queued = false; break;
        case ReadOutcome::kOther:
          if (stop != nullptr && stop->IsSet()) return EchoResult::kStopped;
          if (Clock::now() >= deadline) return EchoResult::kNoReply;
          break;
      }
    }
  }
}

}  // namespace qv::icmp
