// The service side in this process: the test plays the manager's part of a start (a pending
// start and the mark in the environment), then drives the host through the manager's calls.

#include "platform/services/service_host.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

#include "platform/services/service_manager.h"
#include "platform/services/service_state.h"
#include "testing/temp_home.h"

namespace qv::svc {
namespace {

template <typename Condition>
bool WaitFor(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

class ServiceHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(manager_.Open(), kSuccess);
    ServiceConfig config;
    config.name = "Probe";
    config.imagePath = "/bin/true";
    ASSERT_EQ(manager_.CreateService(config, &service_), kSuccess);
  }
  void TearDown() override { unsetenv(kStartMarkVariable); }

  // What the manager does before it launches the program.
  void PendStart(const std::string& token) {
    ASSERT_TRUE(CServiceStateFile("Probe").Update([&](ServiceState& state) {
      state = ServiceState{};
      state.status.currentState = kStartPending;
      state.startToken = token;
      state.requestedAt = time(nullptr);
      return true;
    }));
    setenv(kStartMarkVariable, ("Probe:" + token).c_str(), 1);
  }

  ServiceStatus Status() const {
    ServiceStatus status;
    EXPECT_EQ(service_.QueryStatus(&status), kSuccess);
    return status;
  }

  testing::TempHome home_;
  ServiceManager manager_;
  ServiceHandle service_;
};

TEST_F(ServiceHostTest, AStartedServiceRunsAnswersControlsAndStopsOnTheStopControl) {
  PendStart("t1");
  std::atomic<int> stoppedCalls{0};
  {
    CServiceHost host("Probe");
    host.StartDispatcher([&] { ++stoppedCalls; });
    ASSERT_TRUE(WaitFor([&] { return Status().currentState == kRunning; }));
    ServiceStatus status = Status();
    EXPECT_EQ(status.controlsAccepted, kAcceptStop);
    EXPECT_EQ(status.checkPoint, 0u);
    EXPECT_EQ(status.waitHint, 0u);
    EXPECT_EQ(status.processId, getpid());

    ASSERT_EQ(service_.Control(kControlInterrogate, &status), kSuccess);
    EXPECT_EQ(status.currentState, kRunning);
    EXPECT_FALSE(host.StopEventIsSet());

    ASSERT_EQ(service_.Control(kControlStop, &status), kSuccess);
    if (status.currentState == kStopPending) {
      EXPECT_EQ(status.waitHint, 35000u);
      EXPECT_EQ(status.checkPoint, 2u);  // the start pending report had 1
      EXPECT_EQ(status.controlsAccepted, kAcceptStop);
    } else {
      EXPECT_EQ(status.currentState, kStopped);
    }
    ASSERT_TRUE(WaitFor([&] { return stoppedCalls == 1; }));
    EXPECT_TRUE(host.StopEventIsSet());
    status = Status();
    EXPECT_EQ(status.currentState, kStopped);
    EXPECT_EQ(status.win32ExitCode, 0u);
    EXPECT_EQ(status.checkPoint, 0u);
    EXPECT_EQ(service_.Control(kControlStop, &status), kServiceNotActive);
  }
  EXPECT_EQ(stoppedCalls, 1);

  // The mark the process still carries (and its children inherit) names a start that has been
  // claimed: it cannot connect a second time.
  EXPECT_EQ(StartServiceCtrlDispatcher({"Probe", [] {}}), kFailedServiceControllerConnect);
}

TEST_F(ServiceHostTest, AStopAskedForByTheProgramGoesThroughTheControlHandler) {
  PendStart("t2");
  std::atomic<bool> stopped{false};
  CServiceHost host("Probe");
  host.StartDispatcher([&] { stopped = true; });
  ASSERT_TRUE(WaitFor([&] { return Status().currentState == kRunning; }));
  EXPECT_EQ(StartServiceCtrlDispatcher({"Probe", [] {}}), kServiceAlreadyRunning);
  ASSERT_TRUE(host.RequestStop());
  ASSERT_TRUE(WaitFor([&] { return stopped.load(); }));
  EXPECT_EQ(Status().currentState, kStopped);
  EXPECT_FALSE(host.RequestStop());
}

TEST_F(ServiceHostTest, AProgramThatFinishesItsWorkAfterTheStopControlStaysStopPendingUntilThen) {
  PendStart("t4");
  std::atomic<bool> asked{false};
  std::atomic<bool> stopped{false};
  CServiceHost host("Probe");
  host.StartDispatcher([&] { stopped = true; }, [&] { asked = true; });
  ASSERT_TRUE(WaitFor([&] { return Status().currentState == kRunning; }));
  ServiceStatus status;
  ASSERT_EQ(service_.Control(kControlStop, &status), kSuccess);
  ASSERT_TRUE(WaitFor([&] { return asked.load(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the program is still at work
  EXPECT_EQ(Status().currentState, kStopPending);
  EXPECT_FALSE(stopped);
  host.Finished();
  ASSERT_TRUE(WaitFor([&] { return stopped.load(); }));
  EXPECT_EQ(Status().currentState, kStopped);
}

TEST_F(ServiceHostTest, DestroyingTheHostReportsTheServiceStopped) {
  PendStart("t3");
  std::atomic<bool> stopped{false};
  {
    CServiceHost host("Probe");
    host.StartDispatcher([&] { stopped = true; });
    ASSERT_TRUE(WaitFor([&] { return Status().currentState == kRunning; }));
  }
  EXPECT_TRUE(stopped);
  EXPECT_EQ(Status().currentState, kStopped);
}

TEST_F(ServiceHostTest, WithoutTheManagerOnlyTheStopEventIsSet) {
  for (const char* mark : {static_cast<const char*>(nullptr), "Other:t4", "Probe:wrong-token", "Probe"}) {
    SCOPED_TRACE(mark == nullptr ? "no mark" : mark);
    PendStart("t4");
    if (mark == nullptr) {
      unsetenv(kStartMarkVariable);
    } else {
      setenv(kStartMarkVariable, mark, 1);
    }
    bool stoppedCalled = false;
    CServiceHost host("Probe");
    host.StartDispatcher([&] { stoppedCalled = true; });
    ASSERT_TRUE(WaitFor([&] { return host.StopEventIsSet(); }));
    EXPECT_FALSE(host.RequestStop());
    EXPECT_FALSE(stoppedCalled);
    EXPECT_EQ(Status().currentState, kStartPending);  // the pending start is left to its owner
  }
}

}  // namespace
}  // namespace qv::svc
