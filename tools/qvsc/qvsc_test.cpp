// qvsc driving the real service program through the service manager, in a data root of its own.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "platform/services/service_manager.h"
#include "core/settings/settings_store.h"
#include "reception/udp_test_peer.h"
#include "service/dunmir_test_process.h"
#include "service/service_program_test_support.h"

namespace qv {
namespace {

using testing::StartType;

struct Outcome {
  int exitCode = -1;
  std::string output;  // standard output and error together
};

Outcome Qvsc(const std::string& arguments) {
  Outcome outcome;
  const std::string command = std::string(QVSC_PATH) + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return outcome;
  char chunk[512];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) outcome.output.append(chunk, n);
  const int status = pclose(pipe);
  if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  return outcome;
}

using QvscTest = testing::ServiceProgramTest;

TEST_F(QvscTest, QueriesStartsStopsAndConfiguresTheService) {
  const Outcome absent = Qvsc("query");
  EXPECT_EQ(absent.exitCode, 1);
  EXPECT_EQ(absent.output, "qvsc: Quorvel: not installed, or the service manager cannot be used\n");
  EXPECT_EQ(Qvsc("start").exitCode, 1);

  ASSERT_EQ(testing::RunDunmir({"add"}), 0);
  EXPECT_EQ(Qvsc("query").output, "Quorvel: STOPPED\n");
  EXPECT_EQ(Qvsc("query Other").exitCode, 1);
  const Outcome stopStopped = Qvsc("stop");
  EXPECT_EQ(stopStopped.exitCode, 1);
  EXPECT_EQ(stopStopped.output, "qvsc: Quorvel: not running\n");

  const Outcome started = Qvsc("start");
  EXPECT_EQ(started.exitCode, 0);
  EXPECT_EQ(started.output, "Quorvel: RUNNING\n");
  const pid_t pid = testing::QueryStatus().processId;
  EXPECT_GT(pid, 0);
  EXPECT_EQ(Qvsc("query Quorvel").output, "Quorvel: RUNNING\n");

  EXPECT_EQ(Qvsc("demand").output, "Quorvel: DEMAND_START\n");
  EXPECT_EQ(StartType(), svc::kDemandStart);
  EXPECT_EQ(Qvsc("auto").output, "Quorvel: AUTO_START\n");
  EXPECT_EQ(StartType(), svc::kAutoStart);

  const Outcome stopped = Qvsc("stop");
  EXPECT_EQ(stopped.exitCode, 0);
  EXPECT_EQ(stopped.output, "Quorvel: STOPPED\n");
  EXPECT_TRUE(testing::WaitFor([&] { return !svc::ProcessIsAlive(pid, 0); }));

  EXPECT_EQ(Qvsc("").exitCode, 2);
  EXPECT_EQ(Qvsc("pause").exitCode, 2);
  EXPECT_EQ(Qvsc("query a b").exitCode, 2);
  EXPECT_EQ(testing::RunDunmir({"remove"}), 0);
}

TEST_F(QvscTest, AServiceThatStopsAtOnceHasItsOwnLinePrinted) {
  ASSERT_EQ(testing::RunDunmir({"add"}), 0);
  testing::UdpPeer holder;  // the viewer holding the syslog port, say
  ASSERT_TRUE(holder.bound());
  const std::string port = std::to_string(holder.port());
  AppSettings().SetInt("Settings", "udpport", holder.port());
  const Outcome taken = Qvsc("start");
  EXPECT_EQ(taken.exitCode, 1);
  EXPECT_EQ(taken.output, "Quorvel: STOPPED\nqvsc: Quorvel: it stopped again at once: cannot receive syslog on UDP port " +
                              port + ": Address already in use\n");

  // A later start that succeeds forgets the old line.
  AppSettings().SetInt("Settings", "udpport", testing::FreeUdpPort());
  EXPECT_EQ(Qvsc("start").output, "Quorvel: RUNNING\n");
  EXPECT_EQ(Qvsc("stop").exitCode, 0);
  EXPECT_EQ(testing::RunDunmir({"remove"}), 0);
}

}  // namespace
}  // namespace qv
