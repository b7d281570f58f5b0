// CServiceControl driving the real service program through the service manager.

#include "service/control/service_control.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/services/service_manager.h"
#include "platform/services/service_state.h"
#include "service/dunmir_test_process.h"
#include "service/service_program_test_support.h"
#include "core/settings/settings_store.h"

namespace qv {
namespace {

using testing::StartType;

using testing::QueryStatus;
using testing::WaitFor;

class ServiceControlTest : public testing::ServiceProgramTest {
 protected:
  const CServiceControl control_;
};

TEST_F(ServiceControlTest, AStartedServiceRunsUntilStoppedAndItsProcessEnds) {
  EXPECT_FALSE(control_.IsInstalled());
  EXPECT_FALSE(control_.Start());
  ASSERT_EQ(testing::RunDunmir({"add"}), 0);
  EXPECT_TRUE(control_.IsInstalled());
  EXPECT_FALSE(control_.IsRunning());
  EXPECT_FALSE(control_.Stop());

  ASSERT_TRUE(control_.Start());
  EXPECT_TRUE(control_.IsRunning());
  const pid_t pid = QueryStatus().processId;
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(control_.Start());
  EXPECT_EQ(QueryStatus().processId, pid);

  ASSERT_TRUE(control_.Stop());
  EXPECT_FALSE(control_.IsRunning());
  EXPECT_EQ(QueryStatus().win32ExitCode, 0u);  // it reported stopped itself
  EXPECT_TRUE(WaitFor([&] { return !svc::ProcessIsAlive(pid, 0); }));
  EXPECT_FALSE(control_.Stop());

  // It can be started again after a stop.
  ASSERT_TRUE(control_.Start());
  EXPECT_TRUE(control_.IsRunning());
  EXPECT_NE(QueryStatus().processId, pid);
  EXPECT_TRUE(control_.Stop());
}

TEST_F(ServiceControlTest, SetDemandStartChangesOnlyTheStartTypeEvenWhileAnotherHoldsTheLock) {
  EXPECT_FALSE(control_.SetDemandStart());
  ASSERT_EQ(testing::RunDunmir({"add"}), 0);
  EXPECT_EQ(StartType(), svc::kAutoStart);
  const auto wants = units_ / "multi-user.target.wants" / "quorvel.service";
  EXPECT_TRUE(std::filesystem::is_symlink(wants));

  svc::ServiceManager manager;
  ASSERT_EQ(manager.Open(), svc::kSuccess);
  svc::DatabaseLock lock;
  ASSERT_EQ(manager.LockDatabase(&lock), svc::kSuccess);
  EXPECT_TRUE(control_.SetDemandStart());
  EXPECT_EQ(StartType(), svc::kDemandStart);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(wants)));
  // The lock taken by someone else is theirs to release.
  EXPECT_TRUE(lock.IsLocked());
  svc::LockStatus lockStatus;
  ASSERT_EQ(manager.QueryLockStatus(&lockStatus), svc::kSuccess);
  EXPECT_TRUE(lockStatus.isLocked);
  lock.Unlock();

  EXPECT_TRUE(control_.SetDemandStart());
  EXPECT_EQ(StartType(), svc::kDemandStart);
  ASSERT_EQ(manager.QueryLockStatus(&lockStatus), svc::kSuccess);
  EXPECT_FALSE(lockStatus.isLocked);
}

TEST(ServiceControlWithoutManagerTest, EveryOperationIsFalse) {
  testing::TempHome home;
  std::ofstream(home.file("plain-file")) << "x";
  setenv("QUORVEL_HOME", home.file("plain-file/below").c_str(), 1);
  const CServiceControl control;
  EXPECT_FALSE(control.IsInstalled());
  EXPECT_FALSE(control.IsRunning());
  EXPECT_FALSE(control.Start());
  EXPECT_FALSE(control.Stop());
  EXPECT_FALSE(control.SetDemandStart());
  setenv("QUORVEL_HOME", home.path().c_str(), 1);
}

}  // namespace
}  // namespace qv
