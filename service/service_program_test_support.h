#pragma once
// What the tests that drive the real service program share: a fresh data root with a systemd
// unit folder of its own, the service receiving on a free port (never the system's 514, never
// the trap port), its status as the manager reports it, and a clean end whatever the test did.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "core/settings/settings_store.h"
#include "platform/services/service_manager.h"
#include "platform/services/service_state.h"
#include "testing/free_udp_port.h"
#include "testing/temp_home.h"
#include "testing/wait_for.h"

namespace qv::testing {


// The installed service's start type, or 0 when it cannot be read.
inline uint32_t StartType() {
  svc::ServiceManager manager;
  svc::ServiceHandle service;
  svc::ServiceConfig config;
  if (manager.Open() != svc::kSuccess || manager.OpenService("Quorvel", &service) != svc::kSuccess ||
      service.QueryConfig(&config) != svc::kSuccess) {
    return 0;
  }
  return config.startType;
}

// The service's status; default values when it is not installed.
inline svc::ServiceStatus QueryStatus() {
  svc::ServiceManager manager;
  svc::ServiceHandle service;
  svc::ServiceStatus status;
  if (manager.Open() == svc::kSuccess && manager.OpenService("Quorvel", &service) == svc::kSuccess) {
    service.QueryStatus(&status);
  }
  return status;
}

class ServiceProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    units_ = home_.path() / "units";
    std::filesystem::create_directories(units_);
    setenv("QUORVEL_SYSTEMD_UNIT_DIR", units_.c_str(), 1);
    // "dunmir add" run as root makes the group quorvel with groupadd; without the system
    // folders on PATH it cannot, so that tests never change the machine's groups.
    const char* path = getenv("PATH");
    path_ = path != nullptr ? path : "";
    setenv("PATH", "/usr/local/bin:/usr/bin:/bin", 1);
    AppSettings().SetInt("Settings", "udpport", FreeUdpPort());
    AppSettings().SetInt("Settings", "SNMPTrapMonitor", 0);
  }
  void TearDown() override {
    // Never leave a service process behind.
    const pid_t pid = QueryStatus().processId;
    if (pid > 0) kill(pid, SIGKILL);
    unsetenv("QUORVEL_SYSTEMD_UNIT_DIR");
    setenv("PATH", path_.c_str(), 1);
  }

  TempHome home_;
  std::string path_;
  std::filesystem::path units_;
};

}  // namespace qv::testing
