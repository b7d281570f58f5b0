#include "reception/local_channel.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <utility>
#include <vector>

namespace qv {

CLocalChannel::CLocalChannel() : wake_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

CLocalChannel::~CLocalChannel() {
  if (wake_ >= 0) close(wake_);
}

void CLocalChannel::Post(SyslogMessage record) {
  bool wake = false;
  {
    const std::lock_guard lock(mutex_);
    if (records_.size() >= kMaxRecords) {
      ++dropped_;
      return;
    }
    records_.push_back(std::move(record));
    wake = ownerSleeps_;
    ownerSleeps_ = false;
  }
  if (wake) Wake();
}

bool CLocalChannel::Deliver(const std::function<void(SyslogMessage& record)>& handle, std::size_t limit) {
  ClearWake();
  std::vector<SyslogMessage> taken;
  bool more = false;
  {
    const std::lock_guard lock(mutex_);
    while (taken.size() < limit && !records_.empty()) {
      taken.push_back(std::move(records_.front()));
      records_.pop_front();
    }
    more = !records_.empty();
    ownerSleeps_ = !more;  // the next Post wakes us
  }
  // Handled outside the lock: the monitors go on posting meanwhile.
  for (SyslogMessage& record : taken) handle(record);
  if (more) Wake();  // the rest on the next turn of the owner's event loop
  return more;
}

std::optional<std::string> CLocalChannel::TakeDropReport(CReportThrottle::Clock::time_point now) {
  {
    const std::lock_guard lock(mutex_);
    unsaid_ += std::exchange(dropped_, 0);
  }
  if (unsaid_ == 0 || !throttle_.Count("dropped", now)) return std::nullopt;
  return "Monitors: " + std::to_string(std::exchange(unsaid_, 0)) + " findings were dropped because more than " +
         std::to_string(kMaxRecords) + " waited to be handled; a watched log file that grows very fast can cause this";
}

void CLocalChannel::Wake() {
  const uint64_t one = 1;
  if (wake_ >= 0 && write(wake_, &one, sizeof one) < 0) {
    // Only fails when the counter would overflow: it is readable then anyway.
  }
}

void CLocalChannel::ClearWake() {
  uint64_t count = 0;
  if (wake_ >= 0 && read(wake_, &count, sizeof count) < 0) {
    // EAGAIN: nothing was signalled.
  }
}

}  // namespace qv
