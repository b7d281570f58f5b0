#pragma once
// A manual-reset event: once set it stays set, waking every waiter, until someone resets it.
//
// It is an eventfd, so besides waiting on the event alone a thread can wait for the event and a
// socket (or any other descriptor) at once with WaitForAny; that is how a monitor's echo wait or
// telephony wait ends the moment its stop event is set. Waiting never consumes the signal.
//
// Set, Reset, IsSet and the waits may be called from any thread at the same time. The object
// owns its descriptor and closes it when destroyed; it cannot be copied or moved, so the
// descriptor that a waiter holds stays valid for the event's lifetime.

#include <span>

namespace qv {

class CManualResetEvent {
 public:
  // Created not signalled. Throws std::system_error when no descriptor can be had (the process
  // ran out of descriptors): an event that cannot wake anybody is worse than no object.
  CManualResetEvent();
  ~CManualResetEvent();
  CManualResetEvent(const CManualResetEvent&) = delete;
  CManualResetEvent& operator=(const CManualResetEvent&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;

  // Waits until the event is set or `timeoutMs` milliseconds have passed (a negative timeout
  // waits without limit). True when the event is set.
  bool Wait(int timeoutMs) const;

  // The descriptor, readable while the event is set. Only for polling: never read or write it.
  int Fd() const { return fd_; }

 private:
  int fd_;
};

// What WaitForAny returns besides the index of a ready descriptor.
inline constexpr int kWaitTimeout = -1;
inline constexpr int kWaitFailed = -2;

// Waits until one of `fds` is readable (or has an error or hang-up pending) or `timeoutMs`
// milliseconds have passed (negative: no limit). Returns the lowest index of a ready descriptor,
// so callers list the descriptor that must win first; kWaitTimeout when the time ran out;
// kWaitFailed when the wait itself failed. Interruptions by signals are resumed with the
// remaining time.
int WaitForAny(std::span<const int> fds, int timeoutMs);

}  // namespace qv
