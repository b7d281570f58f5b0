#include "reception/receive_thread.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <memory>

namespace qv {
namespace {

constexpr std::size_t kSlotBytes = 65536;  // the largest IPv4 datagram fits
using Clock = std::chrono::steady_clock;

// The receive buffer a small datagram takes up in the kernel's accounting, with margin.
constexpr int kBufferBytesPerDatagram = 1280;
constexpr int kFloodDatagramsPerSecond = 1'000'000;

// Half the time the socket's receive buffer holds a flood of small datagrams for.
std::chrono::microseconds PauseTheBufferHolds(int descriptor) {
  int bytes = 0;
  socklen_t length = sizeof bytes;
  if (getsockopt(descriptor, SOL_SOCKET, SO_RCVBUF, &bytes, &length) != 0 || bytes <= 0) {
    return std::chrono::microseconds(0);
  }
  const int64_t datagrams = bytes / kBufferBytesPerDatagram;
  return std::chrono::microseconds(datagrams * 1'000'000 / kFloodDatagramsPerSecond / 2);
}

}  // namespace

CReceiveThread::CReceiveThread(int descriptor, CDatagramQueue& queue, std::chrono::microseconds maxPause)
    : descriptor_(descriptor),
      queue_(queue),
      maxPause_(std::min(maxPause, PauseTheBufferHolds(descriptor))),
      stop_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (stop_ < 0 || descriptor_ < 0) return;
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    // No thread: running() says so.
  }
}

CReceiveThread::~CReceiveThread() {
  queue_.Stop();
  if (stop_ >= 0) {
    const uint64_t one = 1;
    if (write(stop_, &one, sizeof one) < 0) {
      // Cannot fail for an eventfd far from overflow.
    }
  }
  if (thread_.joinable()) thread_.join();
  if (stop_ >= 0) close(stop_);
}

bool CReceiveThread::Wait(bool forSocket, const timespec* timeout) {
  std::array<pollfd, 2> watched{{{stop_, POLLIN, 0}, {descriptor_, POLLIN, 0}}};
  while (ppoll(watched.data(), forSocket ? 2 : 1, timeout, nullptr) < 0) {
    if (errno != EINTR) return false;  // cannot happen with valid descriptors
  }
  return (watched[0].revents & POLLIN) == 0;
}

void CReceiveThread::Run() {
  // Not zeroed: slots are touched only as far as datagrams fill them.
  const std::unique_ptr<char[]> buffers(new char[kBatch * kSlotBytes]);
  std::array<sockaddr_storage, kBatch> senders{};
  std::array<iovec, kBatch> slots{};
  std::array<mmsghdr, kBatch> headers{};
  auto previousRead = Clock::now();
  for (;;) {
    if (!queue_.WaitForRoom()) return;
    for (int i = 0; i < kBatch; ++i) {
      slots[i] = {&buffers[i * kSlotBytes], kSlotBytes};
      headers[i] = {};
      headers[i].msg_hdr.msg_name = &senders[i];
      headers[i].msg_hdr.msg_namelen = sizeof(sockaddr_storage);
      headers[i].msg_hdr.msg_iov = &slots[i];
      headers[i].msg_hdr.msg_iovlen = 1;
    }
    const auto now = Clock::now();
    const int received = recvmmsg(descriptor_, headers.data(), kBatch, MSG_DONTWAIT, nullptr);
    for (int i = 0; i < received; ++i) {
      queue_.Add(senders[i], std::string_view(&buffers[i * kSlotBytes], headers[i].msg_len));
    }
    queue_.Publish();
    const auto sincePrevious = now - previousRead;
    previousRead = now;
    if (received == kBatch) continue;  // more may wait
    if (received <= 0 || maxPause_.count() <= 0) {
      if (!Wait(true, nullptr)) return;
      continue;
    }
    // A part batch: at the rate this read's datagrams came in since the previous read (the
    // idle wait included, so that the first datagrams after a quiet spell do not look like a
    // flood), a whole batch takes this long.
    const auto fill = std::chrono::duration_cast<std::chrono::nanoseconds>(sincePrevious) * kBatch / received;
    const auto pause = std::min<std::chrono::nanoseconds>(fill, maxPause_);
    const timespec timeout{static_cast<time_t>(pause.count() / 1'000'000'000), static_cast<long>(pause.count() % 1'000'000'000)};
    if (!Wait(false, &timeout)) return;
  }
}

}  // namespace qv
