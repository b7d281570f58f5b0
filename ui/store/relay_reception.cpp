#include "ui/store/relay_reception.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <utility>

namespace qv {

CRelayReception::CRelayReception(std::function<void()> wake) : handOver_(kMaxWaiting, std::move(wake)) {}

CRelayReception::~CRelayReception() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(stopFd_, &one, sizeof one);
    thread_.join();
  }
  if (stopFd_ >= 0) close(stopFd_);
  receiver_.Close();
}

bool CRelayReception::Start(const std::string& path, std::string* error) {
  if (!receiver_.Bind(path, error)) return false;
  stopFd_ = eventfd(0, EFD_CLOEXEC);
  if (stopFd_ < 0) {
    *error = "cannot make the relay's stop event";
    receiver_.Close();
    return false;
  }
  thread_ = std::thread([this] { Drain(); });
  return true;
}

void CRelayReception::Drain() {
  std::vector<std::string> lines;
  pollfd waits[2] = {{receiver_.fd(), POLLIN, 0}, {stopFd_, POLLIN, 0}};
  for (;;) {
    if (poll(waits, 2, -1) < 0) continue;  // interrupted
    if (waits[1].revents != 0) return;
    lines.clear();
    while (lines.size() < kMaxPerHandOver && receiver_.ReceiveBatch(lines, CRelayReceiver::kMaxBatch) > 0) {
    }
    if (lines.empty()) {
      // Readable yet nothing to read: a socket error. Do not spin on it.
      if ((waits[0].revents & (POLLERR | POLLNVAL)) != 0) poll(&waits[1], 1, 10);
      continue;
    }
    handOver_.Hand(lines);
  }
}

}  // namespace qv
