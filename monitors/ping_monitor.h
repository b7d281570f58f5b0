#pragma once
// Pings each device of a list at a fixed period and reports whenever a device changes between
// answering and not answering: "Ping Monitor: <host> No Reply" when it stops answering and
// "Ping Monitor: <host> OK (RTT <n> mSecs)" when it answers again, severity 6 from "127.0.0.1".
// Every host starts as answering, so a host that is silent at the first poll (which runs as soon
// as the worker starts) is reported at once, and one that answers is not. When this process can
// open no ICMP socket at all, every host reads as not answering; the worker then also says why,
// once per start (kNoEchoText, severity 3), so that a list of "No Reply" is not taken for a
// network that is down.
//
// The poll period ("pingpoll", seconds, default 30, at least 1) and the echo timeout
// ("pingtimeout", milliseconds, default 5000) are read when the object is created; the host
// list ("pingcount" in "Settings", "ping%d" in "Pings") at every Start. Hosts are pinged one
// after another; a name that cannot be resolved, a missing ICMP binding, no reply in time or a
// reply with the wrong data all count as not answering. Name look-ups and echo waits end at
// once when the monitor is stopped.
//
// Threading: see CMonitorThread.

#include <string>
#include <vector>

#include "monitors/monitor_thread.h"
#include "platform/icmp/icmp_echo.h"

namespace qv {

class CPingMonitor final : public CMonitorThread {
 public:
  struct Host {
    std::string host;  // a name or a dotted IPv4 address, as entered
    bool lastResult = true;
  };

  // A damaged "pingcount" of billions would keep Start reading the store for hours.
  static constexpr int32_t kMaxHosts = 10000;
  static constexpr const char* kNoEchoText =
      "Ping Monitor: no ICMP socket can be opened, so every device reads as not answering; allow the program's "
      "group in the setting net.ipv4.ping_group_range, or grant the program CAP_NET_RAW";

  explicit CPingMonitor(MonitorReporter reporter);
  ~CPingMonitor() override;

  // Empties the host list and loads it from the settings; empty values are skipped.
  void Init() override;
  void AddHost(const std::string& host) { hosts_.push_back({host, true}); }
  const std::vector<Host>& Hosts() const { return hosts_; }
  int EchoTimeout() const { return echoTimeoutMs_; }

  // One echo to `host`; true when it answered, with the replying address, round-trip time and
  // status in `reply`. Ends early, answering false, when the monitor is being stopped.
  bool PingHost(const std::string& host, icmp::EchoReply& reply, int ttl, int timeoutMs, int dataSize,
                int typeOfService, bool dontFragment) const;

 protected:
  void Run() override;

 private:
  int echoTimeoutMs_;
  std::vector<Host> hosts_;
};

}  // namespace qv
