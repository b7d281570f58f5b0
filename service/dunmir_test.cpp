// The service program as a process: its command words, running with and without the service
// manager, and ending on signals.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/registry/registry.h"
#include "platform/services/service_manager.h"
#include "platform/services/service_record.h"
#include "platform/services/service_state.h"
#include "service/control/service_control.h"
#include "service/dunmir_test_process.h"
#include "service/service_program_test_support.h"
#include "service/service_app.h"
#include "core/settings/settings_store.h"

namespace qv {
namespace {

using testing::QueryStatus;
using testing::WaitFor;

std::string Value(std::string_view name) {
  reg::ScopedKey key;
  std::string data = "<absent>";
  if (reg::OpenKey(reg::LocalMachine(), "SYSTEM\\CurrentControlSet\\Services\\Quorvel", reg::Access::kRead,
                   key.out()) == reg::kSuccess) {
    reg::QueryValue(key.get(), name, nullptr, &data);
  }
  return data;
}

uint32_t DwordValue(std::string_view name) {
  const std::string data = Value(name);
  uint32_t value = 0;
  if (data.size() == 4) std::memcpy(&value, data.data(), 4);
  return value;
}

// True once the process handles both SIGTERM and SIGINT itself (the "SigCgt" mask).
bool CatchesTerminationSignals(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigCgt:", 0) != 0) continue;
    const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
    const unsigned long long wanted = (1ULL << (SIGTERM - 1)) | (1ULL << (SIGINT - 1));
    return (mask & wanted) == wanted;
  }
  return false;
}

using DunmirTest = testing::ServiceProgramTest;

TEST(CommandWordTest, TheWholeTailCountsInAnyCase) {
  const auto word = [](std::vector<std::string> arguments) {
    std::string program = "dunmir";
    std::vector<char*> argv{program.data()};
    for (std::string& argument : arguments) argv.push_back(argument.data());
    return CommandWordOf(static_cast<int>(argv.size()), argv.data());
  };
  EXPECT_EQ(word({"add"}), CommandWord::kAdd);
  EXPECT_EQ(word({"ReMoVe"}), CommandWord::kRemove);
  EXPECT_EQ(word({"DEBUG"}), CommandWord::kDebug);
  EXPECT_EQ(word({}), CommandWord::kNormalStart);
  EXPECT_EQ(word({"debug", "now"}), CommandWord::kNormalStart);
  EXPECT_EQ(word({"add "}), CommandWord::kNormalStart);
  EXPECT_EQ(word({"install"}), CommandWord::kNormalStart);
}

TEST_F(DunmirTest, AddInstallsTheServiceOnceAndRemoveInAnyCaseTakesItAway) {
  ASSERT_EQ(testing::RunDunmir({"add"}), 0);
  EXPECT_EQ(Value("ImagePath"), std::filesystem::canonical(DUNMIR_PATH).string());
  EXPECT_EQ(Value("DisplayName"), "Quorvel Syslog");
  EXPECT_EQ(Value("Description"), "Listens for and acts on syslog messages");
  EXPECT_EQ(Value("DependOnService"), "Tcpip");
  EXPECT_EQ(DwordValue("Start"), svc::kAutoStart);
  EXPECT_EQ(DwordValue("Type"), svc::kOwnProcess | svc::kInteractiveProcess);
  EXPECT_TRUE(std::filesystem::exists(units_ / "quorvel.service"));
  EXPECT_TRUE(std::filesystem::is_symlink(units_ / "multi-user.target.wants" / "quorvel.service"));

  EXPECT_EQ(testing::RunDunmir({"add"}), 1);
  EXPECT_EQ(testing::RunDunmir({"ADD"}), 1);

  // Removing stops the running service first.
  ASSERT_TRUE(CServiceControl().Start());
  const pid_t pid = QueryStatus().processId;
  ASSERT_GT(pid, 0);
  EXPECT_EQ(testing::RunDunmir({"REMOVE"}), 0);
  EXPECT_TRUE(WaitFor([&] { return !svc::ProcessIsAlive(pid, 0); }));
  EXPECT_FALSE(CServiceControl().IsInstalled());
  EXPECT_EQ(Value("Description"), "<absent>");
  EXPECT_FALSE(std::filesystem::exists(units_ / "quorvel.service"));
  EXPECT_EQ(testing::RunDunmir({"remove"}), 1);
}

TEST_F(DunmirTest, AddAndRemoveFailWithoutAUsableManager) {
  std::ofstream(home_.file("plain-file")) << "x";
  setenv("QUORVEL_HOME", home_.file("plain-file/below").c_str(), 1);
  EXPECT_EQ(testing::RunDunmir({"add"}), 1);
  EXPECT_EQ(testing::RunDunmir({"remove"}), 1);
  setenv("QUORVEL_HOME", home_.path().c_str(), 1);
}

TEST_F(DunmirTest, OutsideTheManagerTheNormalStartRunsUntilASignalEndsIt) {
  ASSERT_EQ(testing::RunDunmir({"add"}), 0);
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{}, std::vector<std::string>{"run"}}) {
    const pid_t pid = testing::SpawnDunmir(arguments);
    ASSERT_TRUE(WaitFor([&] { return CatchesTerminationSignals(pid); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "the program ended by itself";
    EXPECT_FALSE(CServiceControl().IsRunning());  // it did not pose as the service
    kill(pid, SIGTERM);
    EXPECT_EQ(testing::WaitForExit(pid), 0);
  }
}

TEST_F(DunmirTest, DebugEndsCleanlyOnSigtermAndSigint) {
  for (const int signal : {SIGTERM, SIGINT}) {
    const pid_t pid = testing::SpawnDunmir({"Debug"});
    ASSERT_TRUE(WaitFor([&] { return CatchesTerminationSignals(pid); }));
    kill(pid, signal);
    EXPECT_EQ(testing::WaitForExit(pid), 0) << "signal " << signal;
  }
}

TEST_F(DunmirTest, SigtermToTheServiceReportsItStoppedBeforeItEnds) {
  ASSERT_EQ(testing::RunDunmir({"add"}), 0);
  ASSERT_TRUE(CServiceControl().Start());
  ASSERT_TRUE(CServiceControl().IsRunning());
  const pid_t pid = QueryStatus().processId;
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitFor([&] { return CatchesTerminationSignals(pid); }));
  kill(pid, SIGTERM);
  ASSERT_TRUE(WaitFor([&] { return !svc::ProcessIsAlive(pid, 0); }));
  const svc::ServiceStatus status = QueryStatus();
  EXPECT_EQ(status.currentState, svc::kStopped);
  EXPECT_EQ(status.win32ExitCode, 0u);  // not "process aborted": it went through its stop
}

}  // namespace
}  // namespace qv
