#include "platform/sync/manual_reset_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <system_error>
#include <vector>

namespace qv {

CManualResetEvent::CManualResetEvent() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

CManualResetEvent::~CManualResetEvent() { close(fd_); }

void CManualResetEvent::Set() {
  // Adding 1 keeps the counter non-zero, which is what "set" means; repeated sets only grow it.
  const uint64_t one = 1;
  while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void CManualResetEvent::Reset() {
  // A read returns the whole counter and zeroes it; EAGAIN means it was already clear.
  uint64_t value = 0;
  while (read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
  }
}

bool CManualResetEvent::IsSet() const { return Wait(0); }

bool CManualResetEvent::Wait(int timeoutMs) const {
  const int fds[] = {fd_};
  return WaitForAny(fds, timeoutMs) == 0;
}

int WaitForAny(std::span<const int> fds, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  std::vector<pollfd> polled;
  polled.reserve(fds.size());
  for (const int fd : fds) polled.push_back(pollfd{fd, POLLIN, 0});

  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  int waitMs = timeoutMs;
  for (;;) {
    const int ready = poll(polled.data(), polled.size(), waitMs);
    if (ready > 0) break;
    if (ready == 0) return kWaitTimeout;
    if (errno != EINTR) return kWaitFailed;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      waitMs = left > 0 ? static_cast<int>(left) : 0;
    }
  }
  for (std::size_t i = 0; i < polled.size(); ++i) {
    if (polled[i].revents != 0) return static_cast<int>(i);
  }
  return kWaitFailed;
}

}  // namespace qv
