// The manager against the registry, the state files and real detached processes.

#include "platform/services/service_manager.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/registry/registry.h"
#include "platform/services/service_record.h"
#include "platform/services/service_state.h"
#include "testing/temp_home.h"

namespace qv::svc {
namespace {

template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

uint32_t DwordValue(std::string_view key, std::string_view name) {
  reg::ScopedKey opened;
  std::string data;
  if (reg::OpenKey(reg::LocalMachine(), key, reg::Access::kRead, opened.out()) != reg::kSuccess ||
      reg::QueryValue(opened.get(), name, nullptr, &data) != reg::kSuccess || data.size() != 4) {
    return 0xdeadbeef;
  }
  uint32_t value = 0;
  std::memcpy(&value, data.data(), 4);
  return value;
}

std::string TextValue(std::string_view key, std::string_view name) {
  reg::ScopedKey opened;
  std::string data = "<absent>";
  if (reg::OpenKey(reg::LocalMachine(), key, reg::Access::kRead, opened.out()) == reg::kSuccess) {
    reg::QueryValue(opened.get(), name, nullptr, &data);
  }
  return data;
}

ServiceConfig Config(const std::string& name, const std::string& image, uint32_t startType = kDemandStart) {
  ServiceConfig config;
  config.name = name;
  config.displayName = name + " display";
  config.imagePath = image;
  config.serviceType = kOwnProcess | kInteractiveProcess;
  config.startType = startType;
  config.dependencies = "Tcpip";
  return config;
}

class ServiceManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(manager_.Open(), kSuccess); }

  // A program that records its environment and then sleeps until it is killed.
  std::string SleeperScript() {
    const std::string path = home_.file("sleeper.sh");
    std::ofstream(path) << "#!/bin/sh\n"
                           "printf '%s\\n%s\\n' \"$QUORVEL_HOME\" \"$QUORVEL_SERVICE_START\" \\\n"
                           "  > \"$QUORVEL_HOME/env.txt\"\n"
                           "exec sleep 60\n";
    chmod(path.c_str(), 0755);
    return path;
  }

  testing::TempHome home_;
  ServiceManager manager_;
};

TEST_F(ServiceManagerTest, CreateWritesTheRecordAndRefusesTakenOrBadNames) {
  ServiceHandle service;
  ASSERT_EQ(manager_.CreateService(Config("Probe", "/opt/probe"), &service), kSuccess);
  const std::string key = ServiceKeyPath("Probe");
  EXPECT_EQ(DwordValue(key, "Type"), 0x110u);
  EXPECT_EQ(DwordValue(key, "Start"), kDemandStart);
  EXPECT_EQ(DwordValue(key, "ErrorControl"), kErrorNormal);
  EXPECT_EQ(TextValue(key, "ImagePath"), "/opt/probe");
  EXPECT_EQ(TextValue(key, "DisplayName"), "Probe display");
  EXPECT_EQ(TextValue(key, "DependOnService"), "Tcpip");

  ServiceHandle other;
  EXPECT_EQ(manager_.CreateService(Config("PROBE", "/opt/other"), &other), kServiceExists);
  EXPECT_EQ(TextValue(key, "ImagePath"), "/opt/probe");
  EXPECT_EQ(manager_.CreateService(Config("a/b", "/opt/x"), &other), kInvalidName);
  EXPECT_EQ(manager_.CreateService(Config("..", "/opt/x"), &other), kInvalidName);
  EXPECT_EQ(manager_.CreateService(Config("", "/opt/x"), &other), kInvalidName);
  EXPECT_FALSE(other.IsOpen());

  ASSERT_EQ(manager_.OpenService("probe", &other), kSuccess);
  EXPECT_EQ(other.ChangeStartType(kAutoStart), kSuccess);
  ServiceConfig config;
  ASSERT_EQ(other.QueryConfig(&config), kSuccess);
  EXPECT_EQ(config.startType, kAutoStart);
  EXPECT_EQ(config.imagePath, "/opt/probe");

  // A key of the platform beside the services is not a service.
  reg::ScopedKey eventlog;
  ASSERT_EQ(reg::CreateKey(reg::LocalMachine(), ServiceKeyPath("Eventlog"), reg::Access::kReadWrite, eventlog.out()),
            reg::kSuccess);
  EXPECT_EQ(manager_.OpenService("Eventlog", &other), kServiceDoesNotExist);

  ASSERT_EQ(service.Delete(), kSuccess);
  EXPECT_EQ(manager_.OpenService("Probe", &other), kServiceDoesNotExist);
  EXPECT_EQ(service.Delete(), kServiceDoesNotExist);
}

TEST_F(ServiceManagerTest, NothingWorksWithoutAnOpenManager) {
  const std::string blocker = home_.file("plain-file");
  std::ofstream(blocker) << "x";
  setenv("QUORVEL_HOME", (blocker + "/below").c_str(), 1);
  ServiceManager manager;
  EXPECT_EQ(manager.Open(), kAccessDenied);
  ServiceHandle service;
  EXPECT_EQ(manager.CreateService(Config("Probe", "/bin/true"), &service), kInvalidHandle);
  EXPECT_EQ(manager.OpenService("Probe", &service), kInvalidHandle);
  ServiceStatus status;
  EXPECT_EQ(service.QueryStatus(&status), kInvalidHandle);
  EXPECT_EQ(service.Start(), kInvalidHandle);
  setenv("QUORVEL_HOME", home_.path().c_str(), 1);
}

TEST_F(ServiceManagerTest, StartRunsTheProgramDetachedMarkedAndWithoutInheritedDescriptors) {
  ServiceHandle service;
  ASSERT_EQ(manager_.CreateService(Config("Probe", SleeperScript()), &service), kSuccess);
  const int leaked = open("/dev/zero", O_RDONLY);  // deliberately without close-on-exec
  ASSERT_GE(leaked, 3);

  ASSERT_EQ(service.Start(), kSuccess);
  close(leaked);
  ServiceStatus status;
  ASSERT_EQ(service.QueryStatus(&status), kSuccess);
  const pid_t pid = status.processId;
  ASSERT_GT(pid, 0);
  // A program that never connects stays start pending and accepts no control.
  EXPECT_EQ(status.currentState, kStartPending);
  EXPECT_EQ(service.Start(), kServiceAlreadyRunning);
  EXPECT_EQ(service.Control(kControlStop, &status), kServiceCannotAcceptControl);

  ASSERT_TRUE(WaitFor([&] { return ReadText(home_.file("env.txt")).find('\n') != std::string::npos; }));
  std::istringstream env(ReadText(home_.file("env.txt")));
  std::string root;
  std::string mark;
  std::getline(env, root);
  std::getline(env, mark);
  EXPECT_EQ(root, home_.path().string());
  ASSERT_EQ(mark.size(), std::string("Probe:").size() + 32);
  EXPECT_EQ(mark.substr(0, 6), "Probe:");

  ASSERT_TRUE(WaitFor([&] { return ReadText("/proc/" + std::to_string(pid) + "/comm") == "sleep\n"; }));
  EXPECT_NE(getsid(pid), getsid(0));
  // Only the standard streams, once the program has finished loading (the loader opens
  // libraries for a moment).
  const auto descriptors = [&] {
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
      const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
      found.push_back(entry.path().filename().string() + "->" + target);
    }
    std::sort(found.begin(), found.end());
    return found;
  };
  const std::vector<std::string> standardStreams{"0->/dev/null", "1->/dev/null", "2->/dev/null"};
  EXPECT_TRUE(WaitFor([&] { return descriptors() == standardStreams; }, std::chrono::milliseconds(2000)))
      << ::testing::PrintToString(descriptors());

  // A service whose process dies reads as stopped, with the platform's "process aborted".
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  ASSERT_TRUE(WaitFor([&] { return service.QueryStatus(&status) == kSuccess && status.currentState == kStopped; }));
  EXPECT_EQ(status.win32ExitCode, kProcessAborted);
  EXPECT_EQ(status.processId, 0);
  EXPECT_EQ(service.Control(kControlStop, &status), kServiceNotActive);
}

TEST_F(ServiceManagerTest, StartRefusesMissingProgramsDisabledServicesAndALockedDatabase) {
  ServiceHandle missing;
  ASSERT_EQ(manager_.CreateService(Config("Missing", home_.file("no-such-program")), &missing), kSuccess);
  EXPECT_EQ(missing.Start(), kFileNotFound);
  ServiceStatus status;
  ASSERT_EQ(missing.QueryStatus(&status), kSuccess);
  EXPECT_EQ(status.currentState, kStopped);

  ServiceHandle service;
  ASSERT_EQ(manager_.CreateService(Config("Probe", SleeperScript(), kDisabled), &service), kSuccess);
  EXPECT_EQ(service.Start(), kServiceDisabled);
  ASSERT_EQ(service.ChangeStartType(kDemandStart), kSuccess);

  DatabaseLock lock;
  ASSERT_EQ(manager_.LockDatabase(&lock), kSuccess);
  DatabaseLock second;
  EXPECT_EQ(manager_.LockDatabase(&second), kServiceDatabaseLocked);
  LockStatus lockStatus;
  ASSERT_EQ(manager_.QueryLockStatus(&lockStatus), kSuccess);
  EXPECT_TRUE(lockStatus.isLocked);
  EXPECT_FALSE(lockStatus.owner.empty());
  EXPECT_LT(lockStatus.lockDuration, 5u);
  EXPECT_EQ(service.Start(), kServiceDatabaseLocked);

  ASSERT_EQ(lock.Unlock(), kSuccess);
  EXPECT_EQ(lock.Unlock(), kInvalidHandle);
  ASSERT_EQ(manager_.QueryLockStatus(&lockStatus), kSuccess);
  EXPECT_FALSE(lockStatus.isLocked);
  EXPECT_EQ(manager_.LockDatabase(&second), kSuccess);
}

TEST(ServiceStateTest, OnlyTheRecordedLiveProcessKeepsAServiceRunning) {
  testing::TempHome home;
  ASSERT_TRUE(EnsureServicesFolder());
  const CServiceStateFile stateFile("Probe");
  const auto store = [&](pid_t pid, uint64_t startTime) {
    return stateFile.Update([&](ServiceState& state) {
      state.status.currentState = kRunning;
      state.status.controlsAccepted = kAcceptStop;
      state.pid = pid;
      state.startTime = startTime;
      state.bootId = CurrentBootId();
      return true;
    });
  };
  const int64_t now = time(nullptr);

  ASSERT_TRUE(store(getpid(), ProcessStartTime(getpid())));
  ServiceStatus status = EffectiveStatus(stateFile.Read(), now);
  EXPECT_EQ(status.currentState, kRunning);
  EXPECT_EQ(status.processId, getpid());

  // The same process id with another start time is another process, and so is a process of an
  // earlier boot, where start times counted from another moment.
  ASSERT_TRUE(store(getpid(), ProcessStartTime(getpid()) + 1));
  EXPECT_EQ(EffectiveStatus(stateFile.Read(), now).currentState, kStopped);
  ASSERT_TRUE(stateFile.Update([&](ServiceState& state) {
    state.startTime = ProcessStartTime(getpid());
    state.bootId = "another-boot";
    return true;
  }));
  EXPECT_EQ(EffectiveStatus(stateFile.Read(), now).currentState, kStopped);

  // An exited process that nobody has reaped yet is not running either.
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_TRUE(WaitFor([&] { return !ProcessIsAlive(child, 0); }));
  ASSERT_TRUE(store(child, 0));
  EXPECT_EQ(EffectiveStatus(stateFile.Read(), now).currentState, kStopped);
  waitpid(child, nullptr, 0);

  // A start that no process claimed in time.
  ASSERT_TRUE(stateFile.Update([&](ServiceState& state) {
    state = ServiceState{};
    state.status.currentState = kStartPending;
    state.startToken = "t";
    state.requestedAt = now;
    return true;
  }));
  EXPECT_EQ(EffectiveStatus(stateFile.Read(), now).currentState, kStartPending);
  EXPECT_EQ(EffectiveStatus(stateFile.Read(), now + kStartClaimSeconds + 1).currentState, kStopped);

  std::ofstream(home.file("services/probe.state")) << "state=4\npid=garbage\n\x01\x02";
  EXPECT_EQ(EffectiveStatus(stateFile.Read(), now).currentState, kStopped);
}

}  // namespace
}  // namespace qv::svc
