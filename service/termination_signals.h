#pragma once
// Turns SIGTERM and SIGINT into a call on the program's Qt event loop, so that a request to end
// is handled like any other event, on the main thread, and never inside a signal handler. The
// handler only writes the signal number into a pipe that a QSocketNotifier watches.
//
// One object per process, made on the main thread after the QCoreApplication; it restores the
// previous handling of both signals when it goes.

#include <QSocketNotifier>

#include <csignal>
#include <functional>
#include <memory>

namespace qv {

class CTerminationSignals {
 public:
  // `onSignal` receives SIGTERM or SIGINT, on the event loop's thread.
  explicit CTerminationSignals(std::function<void(int)> onSignal);
  ~CTerminationSignals();
  CTerminationSignals(const CTerminationSignals&) = delete;
  CTerminationSignals& operator=(const CTerminationSignals&) = delete;

  // False when the pipe or the handlers could not be set up; the signals then end the program
  // the default way.
  bool IsInstalled() const { return installed_; }

 private:
  void Drain();

  std::function<void(int)> onSignal_;
  int pipe_[2] = {-1, -1};
  struct sigaction previousTerm_ {};
  struct sigaction previousInt_ {};
  bool installed_ = false;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace qv
