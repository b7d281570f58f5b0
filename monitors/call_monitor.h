#pragma once
// Watches the machine's telephony lines and reports one message per finished call, when the
// call goes idle: "Call Monitor: Incoming call from <caller>" or "Call Monitor: <program> made
// an outbound call to <number>", severity 6 from "127.0.0.1".
//
// At the start of each run it opens, with monitor privilege, every line device that negotiates
// API version 2.2 and offers the data-modem media mode (at most 256), and reports "Call Monitor:
// Listening for calls on <line name>" for each; when there is none (no provider library, no
// suitable device) it reports "Call Monitor: No Device Suitable for monitoring calls found" and
// the run ends. Calls are then read from the telephony messages until the monitor is stopped,
// which ends the wait at once; the lines are closed and the telephony application shut down at
// the end of every run.
//
// Caller text, incoming: the caller-ID number when its flags hold name, address or partial;
// "<Unavailable>" for out-of-area or unavailable; "<Withheld>" for blocked; "<Currently
// Unknown>" for unknown; a later rule wins, and no text at all reads "<Unavailable>". Outgoing:
// the called number when its flags hold address, else "<Unavailable>"; a call without a program
// name is reported as made by "<Unavailable>" as well.
//
// Threading: see CMonitorThread. The telephony binding must outlive the monitor.

#include <array>
#include <string>

#include "monitors/monitor_thread.h"
#include "platform/telephony/telephony_library.h"

namespace qv {

class CCallMonitor final : public CMonitorThread {
 public:
  static constexpr std::size_t kMaxLines = 256;

  explicit CCallMonitor(MonitorReporter reporter, CTelephonyLibrary& telephony = Telephony());
  ~CCallMonitor() override;

  // Initialises telephony and opens every suitable line. 0 when at least one line is open, -1
  // otherwise (after reporting that no device is suitable).
  int OpenLines();
  // Reports calls as they go idle until the stop event is set or a message cannot be read.
  void WaitForCalls();
  // Closes every open line and shuts the telephony application down.
  void CloseLines();
  // Reports one finished call; a call whose information cannot be read gives nothing.
  void ReportCall(tapi::HCALL call);

 protected:
  void Run() override;

 private:
  CTelephonyLibrary& tapi_;
  int messageEvent_ = -1;
  tapi::HLINEAPP lineApp_ = 0;
  std::array<tapi::HLINE, kMaxLines> lines_{};
};

}  // namespace qv
