#pragma once
// The private road of the records a program makes on other threads (the findings of the
// monitors and event-log translators) into its owner, the service's engine or the windowed
// program's document. It never touches a socket: a record that arrives here was made inside this
// process, so its sender, host and severity are the monitor's own, while anything that comes in
// through a port (loopback included) is an ordinary syslog message and can forge none of them.
//
// Any thread posts; the owner takes the records on its own thread, in the order posted, and
// gives each the road of a received message (name look-up, rules, store, history, relay) at the
// moment it handles it, between the datagrams it handles. Posting never blocks a monitor: when
// kMaxRecords wait, a further record is dropped and counted, and the owner says how many, at
// most once a minute (TakeDropReport).
//
// The owner is woken only when it sleeps: wakeDescriptor() (an eventfd) becomes readable when a
// record is posted to an empty channel, or when Deliver stopped at its limit with records still
// waiting.
//
// Threading: Post from any thread; Deliver and TakeDropReport on the owner's thread. One mutex
// guards the queue.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "core/message/syslog_message.h"
#include "core/report/report_throttle.h"

namespace qv {

// Hands one record to a channel (CLocalChannel::Poster); callable from any thread.
using LocalRecordPoster = std::function<void(SyslogMessage record)>;

class CLocalChannel {
 public:
  // Far more than monitors find in the time the owner needs for them; a runaway watched file
  // cannot grow the program without bound.
  static constexpr std::size_t kMaxRecords = 10000;

  CLocalChannel();
  ~CLocalChannel();
  CLocalChannel(const CLocalChannel&) = delete;
  CLocalChannel& operator=(const CLocalChannel&) = delete;

  // Queues a record; drops and counts it when kMaxRecords wait.
  void Post(SyslogMessage record);
  // A poster for the monitors; the channel must outlive every caller of it.
  LocalRecordPoster Poster() {
    return [this](SyslogMessage record) { Post(std::move(record)); };
  }

  // Hands waiting records to `handle`, in order, at most `limit` of them. Returns true when
  // records still wait (the wake descriptor then stays readable).
  bool Deliver(const std::function<void(SyslogMessage& record)>& handle, std::size_t limit);

  // The local message that says how many records were dropped since it was last said, when
  // any were and the last one is a minute old; else nothing.
  std::optional<std::string> TakeDropReport(CReportThrottle::Clock::time_point now = CReportThrottle::Clock::now());

  // Readable when the owner should call Deliver; -1 when no eventfd could be made.
  int wakeDescriptor() const { return wake_; }

 private:
  void Wake();
  void ClearWake();

  const int wake_;
  std::mutex mutex_;
  std::deque<SyslogMessage> records_;
  bool ownerSleeps_ = true;
  uint64_t dropped_ = 0;  // guarded by mutex_
  uint64_t unsaid_ = 0;   // the owner's: dropped and not yet said
  CReportThrottle throttle_;
};

}  // namespace qv
