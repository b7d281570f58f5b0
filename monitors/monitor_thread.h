#pragma once
// The thread base of the file, ping and phone-call monitors (and of the SNMP trap monitor).
//
// A monitor runs its Run body on a worker thread of its own between Start and Stop. Every wait
// inside Run must also end when the stop event is set (WaitPollInterval does this for the poll
// sleep; other waits put StopEvent().Fd() beside their own descriptor in WaitForAny), because
// threads are never killed: Stop waits at most 3000 ms for the worker to notice the event.
//
// Findings leave through the monitor's reporter, called on the worker thread: in the programs a
// PostingReporter into the owner's private channel (CLocalChannel), in tests a collector.
//
// Threading: Start, Stop and the destructor are called from the owner's thread only. Init runs
// on that thread before the worker starts, so whatever it loads needs no lock; afterwards only
// the worker touches it. A derived class must call EndWorker() in its own destructor, before its
// members go away under a still-running worker.

#include <functional>
#include <string>
#include <thread>

#include "platform/sync/manual_reset_event.h"
#include "reception/local_channel.h"

namespace qv {

// Hands one finding to the system: message text, severity 0..7, source address as dotted text.
using MonitorReporter = std::function<void(const std::string& text, int severity, const std::string& sourceAddress)>;

// The reporter of the programs: each finding becomes a record the system makes itself
// (MakeLocalRecord: facility "syslog", both times now, host "localhost" for "127.0.0.1") handed
// to `post`, the owner's private channel.
MonitorReporter PostingReporter(LocalRecordPoster post);

class CMonitorThread {
 public:
  static constexpr int kDefaultPollIntervalMs = 5000;
  static constexpr int kStopWaitMs = 3000;

  explicit CMonitorThread(MonitorReporter reporter);
  virtual ~CMonitorThread();
  CMonitorThread(const CMonitorThread&) = delete;
  CMonitorThread& operator=(const CMonitorThread&) = delete;

  // Prepares a run; called by every Start on the caller's thread. Does nothing here.
  virtual void Init();
  // Sets the stop event and waits at most kStopWaitMs for the worker to end. True when no worker
  // is left; false when it is still running, in which case its handle is kept and the next Start
  // or the destructor waits for it to end (it is never killed).
  virtual bool Stop();
  // Init, then a new worker running Run. A worker that is still running is stopped first, so a
  // monitor never has two.
  virtual void Start();

  bool IsRunning() const;
  int PollInterval() const { return pollIntervalMs_; }
  // Milliseconds between polls; takes effect at the next wait.
  void SetPollInterval(int milliseconds) { pollIntervalMs_ = milliseconds; }

 protected:
  // The worker's body; returning ends the worker.
  virtual void Run() = 0;

  // Sleeps the poll interval. False when the stop event (or a failed wait) ended it early, which
  // means Run must return.
  bool WaitPollInterval() const;
  // Stop, then wait as long as it takes for a late worker: for destructors, whose members the
  // worker may still be using.
  void EndWorker();
  const CManualResetEvent& StopEvent() const { return stopEvent_; }
  bool StopRequested() const { return stopEvent_.IsSet(); }

  // Reports one finding; monitors of the local machine use severity 6 and "127.0.0.1".
  void Report(const std::string& text, int severity = 6, const std::string& sourceAddress = "127.0.0.1") const;

 private:
  void WorkerBody();

  MonitorReporter reporter_;
  CManualResetEvent stopEvent_;
  CManualResetEvent endedEvent_;  // set by the worker as its last act
  std::thread worker_;
  int pollIntervalMs_ = kDefaultPollIntervalMs;
};

}  // namespace qv
