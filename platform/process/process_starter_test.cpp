#include "platform/process/process_starter.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "testing/temp_home.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

// Puts the probe program's folder first on the search path for one test.
class ProcessStarterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* path = std::getenv("PATH");
    oldPath_ = path != nullptr ? path : "";
    setenv("PATH", (std::string(START_PROBE_DIR) + ":" + oldPath_).c_str(), 1);
  }
  void TearDown() override { setenv("PATH", oldPath_.c_str(), 1); }

  // The probe's report: arguments in order, and the other fields by name.
  struct Report {
    std::vector<std::string> args;
    std::map<std::string, std::string> fields;
  };

  static bool WaitForReport(const std::string& file, Report* report) {
    for (auto deadline = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < deadline;) {
      std::ifstream in(file, std::ios::binary);
      if (in) {
        std::string field;
        while (std::getline(in, field, '\0')) {
          const std::size_t equals = field.find('=');
          if (field.compare(0, 4, "arg=") == 0) {
            report->args.push_back(field.substr(4));
          } else {
            report->fields[field.substr(0, equals)] = field.substr(equals + 1);
          }
        }
        return true;
      }
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  // True once `pid` is gone completely: not running and not a zombie.
  static bool WaitUntilReaped(pid_t pid) {
    for (auto deadline = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < deadline;) {
      if (kill(pid, 0) != 0 && errno == ESRCH) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }

  qv::testing::TempHome home_;
  std::string oldPath_;
};

TEST_F(ProcessStarterTest, HostileArgumentsArriveUnchangedEachAsOneArgument) {
  const std::string out = home_.file("report");
  const std::vector<std::string> argv = {
      "qv_start_probe", out, "it's \"quoted\"", "; touch " + home_.file("pwned"), "$(touch x) `id`",
      "line one\nline two\r\n", "", "*"};
  pid_t pid = 0;
  ASSERT_EQ(StartProcess(argv, &pid), 0);
  EXPECT_GT(pid, 0);
  Report report;
  ASSERT_TRUE(WaitForReport(out, &report));
  EXPECT_EQ(report.args, argv);
  EXPECT_FALSE(std::ifstream(home_.file("pwned")).good());
}

TEST_F(ProcessStarterTest, ChildGetsNoDescriptorsNullStreamsDefaultSignalsAndItsOwnSession) {
  int leaked[2];
  ASSERT_EQ(pipe(leaked), 0);  // deliberately without close-on-exec
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);
  sigset_t blocked;
  sigset_t oldMask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &blocked, &oldMask);

  const std::string out = home_.file("report");
  const int started = StartProcess({"qv_start_probe", out});

  pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
  sigaction(SIGPIPE, &previous, nullptr);
  close(leaked[0]);
  close(leaked[1]);

  ASSERT_EQ(started, 0);
  Report report;
  ASSERT_TRUE(WaitForReport(out, &report));
  EXPECT_EQ(report.fields["fds"], "");
  EXPECT_EQ(report.fields["stdin"], "/dev/null");
  // Signals 1..31; the C library reserves some real-time signals for itself.
  const auto standard = [](const std::string& hex) { return std::stoull(hex, nullptr, 16) & 0x7fffffffULL; };
  EXPECT_EQ(standard(report.fields["sigign"]), 0u) << report.fields["sigign"];
  EXPECT_EQ(standard(report.fields["sigblk"]), 0u) << report.fields["sigblk"];
  EXPECT_EQ(report.fields["leader"], "1");
}

TEST_F(ProcessStarterTest, ChildGetsNoInheritableOrAmbientCapabilitiesOfTheCaller) {
  // On a thread of its own, since capabilities belong to threads: CAP_NET_BIND_SERVICE made
  // inheritable and ambient, as a careless caller could leave it.
  std::string skipped;
  int started = -1;
  const std::string out = home_.file("report");
  std::thread([&] {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    syscall(SYS_capget, &header, data);
    data[0].inheritable |= 1U << CAP_NET_BIND_SERVICE;
    if ((data[0].permitted & (1U << CAP_NET_BIND_SERVICE)) == 0 || syscall(SYS_capset, &header, data) != 0 ||
        prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_NET_BIND_SERVICE, 0, 0) != 0) {
      skipped = "cannot raise an ambient capability here";
      return;
    }
    started = StartProcess({"qv_start_probe", out});
  }).join();
  if (!skipped.empty()) GTEST_SKIP() << skipped;
  ASSERT_EQ(started, 0);
  Report report;
  ASSERT_TRUE(WaitForReport(out, &report));
  EXPECT_EQ(std::stoull(report.fields["capinh"], nullptr, 16), 0u) << report.fields["capinh"];
  EXPECT_EQ(std::stoull(report.fields["capamb"], nullptr, 16), 0u) << report.fields["capamb"];
}

TEST_F(ProcessStarterTest, FailuresToStartAreReturnedNotThrown) {
  EXPECT_EQ(StartProcess({"qv-no-such-program-anywhere"}), ENOENT);
  EXPECT_EQ(StartProcess({}), EINVAL);
  EXPECT_EQ(StartProcess({""}), EINVAL);
  const std::string plain = home_.file("not-executable");
  std::ofstream(plain) << "data\n";
  chmod(plain.c_str(), 0644);
  EXPECT_EQ(StartProcess({plain}), EACCES);
}

TEST_F(ProcessStarterTest, ExitedChildrenAreReapedButOtherChildrenAreLeftToTheirOwners) {
  std::vector<pid_t> started;
  for (int i = 0; i < 20; ++i) {
    pid_t pid = 0;
    ASSERT_EQ(StartProcess({"true"}, &pid), 0);
    started.push_back(pid);
  }
  for (pid_t pid : started) EXPECT_TRUE(WaitUntilReaped(pid)) << pid;

  // A child of the test's own, started while the reaper runs, still reports its exit status
  // to the test.
  const pid_t own = fork();
  ASSERT_GE(own, 0);
  if (own == 0) _exit(7);
  pid_t probe = 0;
  ASSERT_EQ(StartProcess({"true"}, &probe), 0);
  EXPECT_TRUE(WaitUntilReaped(probe));
  int status = 0;
  ASSERT_EQ(waitpid(own, &status, 0), own);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
}

}  // namespace
}  // namespace qv
