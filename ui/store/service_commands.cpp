#include "ui/store/service_commands.h"

#include <thread>

#include "core/settings/settings_store.h"
#include "ui/store/listen_problem.h"
#include "ui/store/quorvel_doc.h"

namespace qv {

CServiceCommands::CServiceCommands(CQuorvelDoc& doc, Sleep sleep) : doc_(doc), sleep_(std::move(sleep)) {
  if (!sleep_) sleep_ = [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); };
}

int32_t CServiceCommands::UdpPort() const { return AppSettings().GetInt("Settings", "udpport", 514); }

void CServiceCommands::StartService() { SwitchService(true); }

void CServiceCommands::StopService() { SwitchService(false); }

void CServiceCommands::SwitchService(bool start) {
  const bool wasListening = doc_.UpdateStatus();
  if (wasListening) doc_.StopServer(true);
  CServiceAccess& service = doc_.Service();
  if (start && !service.IsInstalled()) {
    doc_.ReportListenProblem(ServiceStartProblem(false, ""));
  } else if (start && (!service.Start() || !service.IsRunning())) {
    doc_.ReportListenProblem(ServiceStartProblem(true, service.Failure()));
  } else if (!start) {
    service.Stop();
  }
  // A service started here is followed whatever the document's own listening was.
  const bool follow = start && service.IsRunning();
  if (!wasListening && !follow) return;
  // The port may be released a moment after the service stopped.
  for (int attempt = 0; attempt < kRelistenTries; ++attempt) {
    if (doc_.UpdateStatus() || doc_.StartServer(UdpPort())) return;
    sleep_(kRelistenPause);
  }
}

void CServiceCommands::RestartService() {
  CServiceAccess& service = doc_.Service();
  if (!service.IsRunning()) return;
  service.Stop();
  service.Start();
}

void CServiceCommands::ApplySettings() {
  if (!doc_.UpdateStatus()) {
    RestartService();
    return;
  }
  doc_.StopServer(true);
  RestartService();
  doc_.StartServer(UdpPort());
}

bool CServiceCommands::Watch() {
  const bool running = doc_.Service().IsRunning();
  // On the relay without the service, or on "udpport" while the service runs (started from
  // outside): the document listens again, which chooses the arrangement anew.
  const bool stale = running ? doc_.GetListenPort() != 0 : doc_.IsListeningOnRelay();
  if (!stale) return false;
  doc_.StopServer(true);
  doc_.StartServer(UdpPort());
  return true;
}

CServiceWatch::CServiceWatch(CServiceCommands& commands, CQuorvelDoc& doc, QObject* parent)
    : QObject(parent), commands_(commands), doc_(doc) {
  timer_.setInterval(kPeriod);
  connect(&timer_, &QTimer::timeout, this, &CServiceWatch::Poll);
  timer_.start();
}

void CServiceWatch::Poll() {
  const bool installed = doc_.Service().IsInstalled();
  const bool running = installed && doc_.Service().IsRunning();
  const bool moved = commands_.Watch();
  if (!moved && installed == installed_ && running == running_) return;
  installed_ = installed;
  running_ = running;
  emit stateChanged();
}

}  // namespace qv
