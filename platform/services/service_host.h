#pragma once
// What a program needs to run as a service of our manager, in the manner of the platform's
// service programs: StartDispatcher connects to the manager on a thread of its own, and the
// service's main function, control handler and status reports live here. The program's own
// work does not depend on any of it: it runs the same whether or not the manager started it.
//
// Reports: start pending (wait hint 3000 ms) when the service begins, running at once after,
// stop pending (wait hint 35000 ms) when the stop control arrives, and stopped when the
// service ends. Every state but start pending accepts the stop control. The check point is 0
// while running or stopped and otherwise counts up by one with every report.
//
// Threads: the dispatcher thread (which also runs the control handler) and the service's main
// thread are the host's; the program's thread only starts the dispatcher, may ask for a stop,
// and destroys the host. The only state they share is the stop event.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/services/service_dispatcher.h"

namespace qv::svc {

class CServiceHost {
 public:
  explicit CServiceHost(std::string serviceName);
  // Sets the stop event, so a service still running reports stopped, and waits for the
  // dispatcher thread. Destroy the host before whatever `onServiceStopped` reaches.
  ~CServiceHost();
  CServiceHost(const CServiceHost&) = delete;
  CServiceHost& operator=(const CServiceHost&) = delete;

  // Starts the dispatcher thread, once. When the manager started this program, the thread runs
  // the service until it is stopped and then calls `onServiceStopped` (on that thread), upon
  // which the program should end. Otherwise it sets the stop event and ends at once, and the
  // program simply keeps running.
  void StartDispatcher(std::function<void()> onServiceStopped);
  // As above; when the stop control arrives, `onStopRequested` is called on the host's thread
  // and the service stays stop pending until the program calls Finished (at most the stop wait
  // hint, 35 s), so that the manager's stop waits for the program to finish its work.
  void StartDispatcher(std::function<void()> onServiceStopped, std::function<void()> onStopRequested);
  // The program has done its work after a stop request: the service reports stopped.
  void Finished();

  // Stops a service that runs under the manager the way the manager's stop control does, for a
  // program asked to end by a signal; `onServiceStopped` follows. False when the program does
  // not run under the manager, in which case the caller ends by itself.
  bool RequestStop();

  bool StopEventIsSet() const;

 private:
  static constexpr uint32_t kLastState = 0xffffffff;

  void ServiceMain();
  void ServiceCtrlHandler(uint32_t control);
  // `state` kLastState repeats the last reported state. A failed report sets the stop event.
  bool ReportStatus(uint32_t state, uint32_t exitCode, uint32_t waitHint);
  void SetStopEvent();
  void WaitForStopEvent();
  void WaitForFinished();

  const std::string serviceName_;
  std::function<void()> onServiceStopped_;
  std::function<void()> onStopRequested_;
  std::thread dispatcher_;

  mutable std::mutex stopMutex_;
  std::condition_variable stopChanged_;
  bool stopSet_ = false;
  bool finished_ = false;

  // The status block, touched by the service's main thread and the handler.
  std::mutex statusMutex_;
  ServiceStatusHandle* statusHandle_ = nullptr;
  uint32_t lastState_ = kStopped;
  uint32_t checkPoint_ = 1;
};

}  // namespace qv::svc
