#include "reception/receive_thread.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <vector>

namespace qv {
namespace {

constexpr std::size_t kSlotBytes = 65536;  // the largest IPv4 datagram fits

}  // namespace

CReceiveThread::CReceiveThread(int descriptor, CDatagramQueue& queue, std::chrono::microseconds pause)
    : descriptor_(descriptor), queue_(queue), pause_(pause), stop_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
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
  // Slots are touched only as far as datagrams fill them, so the batch costs little memory.
  std::vector<char> buffers(kBatch * kSlotBytes);
  std::array<sockaddr_storage, kBatch> senders{};
  std::array<iovec, kBatch> slots{};
  std::array<mmsghdr, kBatch> headers{};
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(pause_);
  const timespec pause{seconds.count(), std::chrono::duration_cast<std::chrono::nanoseconds>(pause_ - seconds).count()};
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
    const int received = recvmmsg(descriptor_, headers.data(), kBatch, MSG_DONTWAIT, nullptr);
    for (int i = 0; i < received; ++i) {
      queue_.Add(senders[i], std::string_view(&buffers[i * kSlotBytes], headers[i].msg_len));
    }
    queue_.Publish();
    if (received == kBatch) continue;  // more may wait
    // A part batch: at a moderate rate, let more arrive before the next read.
    const bool more = received > 0 && pause_.count() > 0 ? Wait(false, &pause) : Wait(true, nullptr);
    if (!more) return;
  }
}

}  // namespace qv
