#include "ui/store/service_commands.h"

#include <thread>

#include "core/settings/settings_store.h"
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
  if (start) {
    doc_.Service().Start();
  } else {
    doc_.Service().Stop();
  }
  if (!wasListening) return;
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
  if (!doc_.IsListeningOnRelay() || doc_.Service().IsRunning()) return false;
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
