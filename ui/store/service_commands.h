#pragma once
// The frame's commands that drive the background service and move the document between its
// listening modes, and the watch that notices a service stopped from outside.
//
//   StartService / StopService  stop listening if listening; start or stop the service; then,
//                               if it had been listening or the service now runs, try up to 20
//                               times, 250 ms apart, to listen again (the document chooses relay
//                               or "udpport" anew), so a service started here is always
//                               followed. A service that is not installed or did not start is
//                               said once, with what to do (ReportListenProblem).
//   RestartService              when the service runs: stop it and start it again, so that it
//                               rereads the settings.
//   ApplySettings               when listening: stop, restart the service, listen again on
//                               "udpport"; otherwise only restart the service.
//   Watch                       the service stopped while the document listens on the relay:
//                               listen on "udpport" again, taking over reception; or the service
//                               runs while the document listens on "udpport": attach to the
//                               relay. A document that does not listen is left so.
//
// These block the user-interface thread while the service starts or stops (at most about 5 s,
// 10 s, and 5 s for listening again), as the commands always have.

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>

namespace qv {

class CQuorvelDoc;

class CServiceCommands {
 public:
  using Sleep = std::function<void(std::chrono::milliseconds)>;
  static constexpr int kRelistenTries = 20;
  static constexpr std::chrono::milliseconds kRelistenPause{250};

  // `sleep` waits between tries (the thread's sleep unless a test supplies one).
  explicit CServiceCommands(CQuorvelDoc& doc, Sleep sleep = {});

  void StartService();
  void StopService();
  void RestartService();
  void ApplySettings();
  // One look at the service; true when the document moved between "udpport" and the relay.
  bool Watch();

 private:
  void SwitchService(bool start);
  int32_t UdpPort() const;

  CQuorvelDoc& doc_;
  Sleep sleep_;
};

// Looks at the service about once a second: runs CServiceCommands::Watch and tells the frame
// whether the service is installed and running (for the toolbar buttons).
class CServiceWatch : public QObject {
  Q_OBJECT

 public:
  static constexpr std::chrono::milliseconds kPeriod{1000};

  // Starts watching at once. `commands` must outlive the watch.
  CServiceWatch(CServiceCommands& commands, CQuorvelDoc& doc, QObject* parent = nullptr);

  bool serviceInstalled() const { return installed_; }
  bool serviceRunning() const { return running_; }
  // Looks now (also done by the timer).
  void Poll();

 signals:
  // The installed or running state changed, or the document moved back to "udpport".
  void stateChanged();

 private:
  CServiceCommands& commands_;
  CQuorvelDoc& doc_;
  QTimer timer_;
  bool installed_ = false;
  bool running_ = false;
};

}  // namespace qv
