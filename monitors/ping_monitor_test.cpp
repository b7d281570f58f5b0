#include "monitors/ping_monitor.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "core/settings/settings_store.h"
#include "monitors/reporter_for_test.h"
#include "testing/network_namespace.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Texts = std::vector<std::string>;
using testing::OwnNetworkNamespace;

// "<prefix> OK (RTT <digits> mSecs)"
bool IsOkWithRoundTrip(const std::string& text, const std::string& prefix) {
  const std::string head = prefix + " OK (RTT ";
  const std::string tail = " mSecs)";
  if (text.size() <= head.size() + tail.size() || text.rfind(head, 0) != 0 ||
      text.compare(text.size() - tail.size(), tail.size(), tail) != 0) {
    return false;
  }
  const std::string digits = text.substr(head.size(), text.size() - head.size() - tail.size());
  return digits.find_first_not_of("0123456789") == std::string::npos;
}

// The hosts pinged here live in a network namespace of the test's own that has only loopback:
// no echo request can leave the machine. A "silent" host is the namespace's loopback told to
// ignore echo requests.
class PingMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!OwnNetworkNamespace::Enter()) GTEST_SKIP() << "needs root for a network namespace of its own";
    ASSERT_TRUE(OwnNetworkNamespace::IgnoreEcho(false));
  }

  static void Ping(const std::vector<std::string>& hosts) {
    const CSettingsStore& settings = AppSettings();
    settings.SetInt("Settings", "pingcount", static_cast<int32_t>(hosts.size()));
    for (std::size_t i = 0; i < hosts.size(); ++i) {
      settings.SetString("Pings", ("ping" + std::to_string(i)).c_str(), hosts[i].c_str());
    }
  }

  testing::TempHome home_;
  testing::CFindingCollector collector_;
};

TEST_F(PingMonitorTest, SettingsAreReadWhenCreatedAndTheListAtEveryStart) {
  {
    CPingMonitor defaults(collector_.Reporter());
    EXPECT_EQ(defaults.PollInterval(), 30000);
    EXPECT_EQ(defaults.EchoTimeout(), 5000);
  }
  AppSettings().SetInt("Settings", "pingpoll", 0);  // would ping without pause
  AppSettings().SetInt("Settings", "pingtimeout", 250);
  Ping({"127.0.0.1", "", "localhost"});
  AppSettings().SetString("Pings", "ping3", "beyond the count");
  CPingMonitor monitor(collector_.Reporter());
  EXPECT_EQ(monitor.PollInterval(), 1000);
  EXPECT_EQ(monitor.EchoTimeout(), 250);
  monitor.Init();
  ASSERT_EQ(monitor.Hosts().size(), 2u);
  EXPECT_EQ(monitor.Hosts()[0].host, "127.0.0.1");
  EXPECT_TRUE(monitor.Hosts()[0].lastResult);
  EXPECT_EQ(monitor.Hosts()[1].host, "localhost");
}

TEST_F(PingMonitorTest, AnsweringHostsStaySilentAndAnEmptyListStillPolls) {
  Ping({"127.0.0.1", "localhost", "127.0.0.7"});
  CPingMonitor monitor(collector_.Reporter());
  monitor.SetPollInterval(50);
  monitor.Start();
  std::this_thread::sleep_for(milliseconds(400));
  EXPECT_TRUE(collector_.Texts().empty());
  EXPECT_TRUE(monitor.Stop());

  Ping({});
  monitor.Start();
  std::this_thread::sleep_for(milliseconds(150));
  EXPECT_TRUE(monitor.IsRunning()) << "only the stop event ends the loop";
  EXPECT_TRUE(monitor.Stop());
}

TEST_F(PingMonitorTest, SilentHostIsReportedOnceAndAgainWhenItAnswers) {
  AppSettings().SetInt("Settings", "pingtimeout", 150);
  Ping({"127.0.0.1", "no-such-host.invalid"});
  CPingMonitor monitor(collector_.Reporter());
  monitor.SetPollInterval(50);
  ASSERT_TRUE(OwnNetworkNamespace::IgnoreEcho(true));
  monitor.Start();
  const Texts silent = collector_.WaitForTexts(2, milliseconds(3000));
  EXPECT_EQ(silent, (Texts{"Ping Monitor: 127.0.0.1 No Reply", "Ping Monitor: no-such-host.invalid No Reply"}));
  std::this_thread::sleep_for(milliseconds(700));  // several more silent polls
  EXPECT_EQ(collector_.Texts().size(), 2u);

  ASSERT_TRUE(OwnNetworkNamespace::IgnoreEcho(false));
  const Texts texts = collector_.WaitForTexts(3, milliseconds(3000));
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_TRUE(IsOkWithRoundTrip(texts[2], "Ping Monitor: 127.0.0.1")) << texts[2];
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_EQ(collector_.Texts().size(), 3u);
  for (const auto& finding : collector_.Findings()) {
    EXPECT_EQ(finding.severity, 6);
    EXPECT_EQ(finding.sourceAddress, "127.0.0.1");
  }
}

TEST_F(PingMonitorTest, StopEndsALongEchoWaitAtOnce) {
  AppSettings().SetInt("Settings", "pingtimeout", 30000);
  Ping({"127.0.0.1"});
  ASSERT_TRUE(OwnNetworkNamespace::IgnoreEcho(true));
  CPingMonitor monitor(collector_.Reporter());
  monitor.Start();
  std::this_thread::sleep_for(milliseconds(200));
  const auto start = Clock::now();
  EXPECT_TRUE(monitor.Stop());
  EXPECT_LT(Clock::now() - start, milliseconds(1000));
  EXPECT_TRUE(collector_.Texts().empty()) << "an interrupted echo is not a finding";
}

// Without any ICMP socket (here: root that gave up CAP_NET_RAW, in a namespace that lets no group
// open datagram ICMP sockets) the monitor says so once, besides the hosts' own reports.
TEST_F(PingMonitorTest, WithoutAnyIcmpSocketTheMonitorSaysWhyOnce) {
  ASSERT_TRUE(OwnNetworkNamespace::AllowDatagramPing(false));
  AppSettings().SetInt("Settings", "pingtimeout", 100);
  Ping({"127.0.0.1"});
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(out[0]);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[_LINUX_CAPABILITY_U32S_3]{};
    if (syscall(SYS_capget, &header, caps) != 0) _exit(2);
    caps[0].effective &= ~(1U << CAP_NET_RAW);
    caps[0].permitted &= ~(1U << CAP_NET_RAW);
    if (syscall(SYS_capset, &header, caps) != 0) _exit(2);
    if (icmp::EchoAvailable()) _exit(77);  // this process probed before it gave the capability up
    testing::CFindingCollector collector;
    CPingMonitor monitor(collector.Reporter());
    monitor.SetPollInterval(50);
    monitor.Start();
    collector.WaitForTexts(2, milliseconds(2000));
    std::this_thread::sleep_for(milliseconds(300));  // several more polls
    monitor.Stop();
    std::string said;
    for (const auto& finding : collector.Findings()) said += finding.text + " (" + std::to_string(finding.severity) + ")\n";
    _exit(write(out[1], said.data(), said.size()) == static_cast<ssize_t>(said.size()) ? 0 : 3);
  }
  close(out[1]);
  std::string said;
  char chunk[512];
  for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;) said.append(chunk, static_cast<std::size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "ICMP was probed before in this process";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(said, std::string(CPingMonitor::kNoEchoText) + " (3)\nPing Monitor: 127.0.0.1 No Reply (6)\n");
}

}  // namespace
}  // namespace qv
