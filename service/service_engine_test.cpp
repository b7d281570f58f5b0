// The service end to end: a real dunmir in the foreground on a free port, real logger as the
// sender, a receiver on the relay socket standing in for the windowed program, and the history
// files read back from the data root.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/message/syslog_message.h"
#include "core/settings/settings_store.h"
#include "platform/registry/registry.h"
#include "reception/relay.h"
#include "reception/relay_receiver.h"
#include "reception/udp_test_peer.h"
#include "service/dunmir_test_process.h"
#include "testing/free_udp_port.h"
#include "testing/network_namespace.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

using namespace std::chrono_literals;


std::vector<std::string> HistoryLines(const qv::testing::TempHome& home) {
  std::vector<std::string> lines;
  for (const char* name : {"qvhista.txt", "qvhistb.txt"}) {
    std::ifstream file(home.file(name));
    for (std::string line; std::getline(file, line);) lines.push_back(line);
  }
  return lines;
}

class ServiceEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(viewer_.Bind(RelaySocketPath(), &error)) << error;
    port_ = qv::testing::FreeUdpPort();
    AppSettings().SetInt("Settings", "udpport", port_);
    AppSettings().SetInt("Settings", "SNMPTrapMonitor", 0);  // one test turns it back on
  }
  void TearDown() override {
    if (dunmir_ > 0) {
      kill(dunmir_, SIGTERM);
      EXPECT_EQ(qv::testing::WaitForExit(dunmir_), 0);
    }
  }

  void StartDunmir() {
    dunmir_ = qv::testing::SpawnDunmir({"debug"});
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!qv::testing::UdpPortIsTaken(port_) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(qv::testing::UdpPortIsTaken(port_));
  }

  void Logger(const std::string& text) {
    const std::string command = "logger --rfc3164 -d -n 127.0.0.1 -P " + std::to_string(port_) +
                                " -p local3.err -t qvtest '" + text + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  // Stored lines carry CR LF; relayed ones do not.
  static std::string WithoutLineEnd(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

  // Reads relayed lines into relayed_ until it holds `count` or `timeout` has passed.
  bool ReceiveUntil(std::size_t count, std::chrono::milliseconds timeout = 3s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (relayed_.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd watched{viewer_.fd(), POLLIN, 0};
      if (poll(&watched, 1, 20) == 1) viewer_.ReceiveBatch(relayed_, CRelayReceiver::kMaxBatch);
    }
    return relayed_.size() >= count;
  }

  qv::testing::TempHome home_;
  int32_t port_ = 0;
  pid_t dunmir_ = -1;
  CRelayReceiver viewer_;
  std::vector<std::string> relayed_;
};

TEST_F(ServiceEngineTest, EachAcceptedMessageIsRelayedAndWrittenOnceAsItsRecordLine) {
  // Rule 0 discards, rule 1 highlights.
  const CSettingsStore& store = AppSettings();
  store.SetInt("Settings", "rulescount", 2);
  store.SetString("Rules\\rule0", "Message", "drop me");
  store.SetInt("Rules\\rule0", "Action", 3);
  store.SetString("Rules\\rule1", "Message", "mark me");
  store.SetInt("Rules\\rule1", "Action", 7);
  StartDunmir();

  Logger("link down on port 7");
  Logger("please drop me now");
  Logger("please mark me now");
  ASSERT_TRUE(ReceiveUntil(2));
  std::this_thread::sleep_for(300ms);  // anything that would follow in error
  viewer_.ReceiveBatch(relayed_, CRelayReceiver::kMaxBatch);
  ASSERT_EQ(relayed_.size(), 2u);

  std::vector<std::string> history = HistoryLines(home_);
  ASSERT_EQ(history.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(relayed_[i], WithoutLineEnd(history[i]));
  SyslogMessage first;
  first.ReadRecordLine(relayed_[0]);
  EXPECT_EQ(first.message, "qvtest: link down on port 7");
  EXPECT_EQ(first.facility, 19);
  EXPECT_EQ(first.severity, 3);
  EXPECT_EQ(first.ipAddress, "127.0.0.1");
  EXPECT_FALSE(first.hostName.empty());
  EXPECT_NE(first.timeSent, 0);
  EXPECT_FALSE(first.highlighted);
  SyslogMessage marked;
  marked.ReadRecordLine(relayed_[1]);
  EXPECT_EQ(marked.message, "qvtest: please mark me now");
  EXPECT_TRUE(marked.highlighted);
}

// A sender on another machine (a second address in a network namespace of the test's own)
// cannot make a history line that reads back as another record, and plain text from a local
// program is kept whole.
TEST_F(ServiceEngineTest, EveryRecordIsOneLineAndPlainLocalTextIsKept) {
  if (!qv::testing::OwnNetworkNamespace::Enter() ||
      !qv::testing::OwnNetworkNamespace::AddLoopbackAddress("192.0.2.1")) {
    GTEST_SKIP() << "needs root for a network namespace of its own";
  }
  StartDunmir();
  const std::string forged = "1,0,localhost,127.0.0.1,514,0,1700000000,0,\"FORGED\"";
  qv::testing::UdpPeer remote("192.0.2.1");
  ASSERT_TRUE(remote.SendTo(port_, "\n" + forged, "192.0.2.1"));
  ASSERT_TRUE(remote.SendTo(port_, "<13>Oct 11 22:14:15 host x\r" + forged, "192.0.2.1"));
  ASSERT_TRUE(remote.SendTo(port_, "<13>x\n" + forged, "192.0.2.1"));
  qv::testing::UdpPeer local;
  ASSERT_TRUE(local.SendTo(port_, "hello"));
  ASSERT_TRUE(local.SendTo(port_, "line1\nline2"));
  ASSERT_TRUE(ReceiveUntil(5));

  const std::vector<std::string> history = HistoryLines(home_);
  ASSERT_EQ(history.size(), 5u);
  for (std::size_t i = 0; i < history.size(); ++i) {
    EXPECT_EQ(relayed_[i], WithoutLineEnd(history[i]));
    SyslogMessage record;
    record.ParseFileLine(relayed_[i]);
    EXPECT_NE(record.message, "FORGED");
    if (i < 3) {
      EXPECT_EQ(record.ipAddress, "192.0.2.1") << relayed_[i];
      EXPECT_EQ(record.facility, 1);
    }
  }
  EXPECT_EQ(relayed_[0].substr(relayed_[0].find('"')), "\"\xC2\xB6" + forged + "\"");
  EXPECT_NE(relayed_[1].find("x\xC2\xAE" "1,0,localhost"), std::string::npos) << relayed_[1];
  SyslogMessage hello, lines;
  hello.ParseFileLine(relayed_[3]);
  lines.ParseFileLine(relayed_[4]);
  EXPECT_EQ(hello.message, "hello");
  EXPECT_EQ(lines.message, "line1 line2");
  EXPECT_EQ(lines.facility, 1);
  EXPECT_EQ(lines.severity, 5);
  EXPECT_NE(lines.timeReceived, 0);
}

TEST_F(ServiceEngineTest, AHistoryRenamedAwayIsStartedAgainUnderItsName) {
  StartDunmir();
  qv::testing::UdpPeer sender;
  ASSERT_TRUE(sender.SendTo(port_, "<13>before the rotation"));
  ASSERT_TRUE(ReceiveUntil(1));
  std::filesystem::rename(home_.file("qvhista.txt"), home_.file("qvhista.txt.1"));  // logrotate's move
  ASSERT_TRUE(sender.SendTo(port_, "<13>after the rotation"));
  ASSERT_TRUE(ReceiveUntil(2));
  std::ifstream rotated(home_.file("qvhista.txt.1")), current(home_.file("qvhista.txt"));
  std::string line;
  ASSERT_TRUE(std::getline(rotated, line));
  EXPECT_EQ(WithoutLineEnd(line), relayed_[0]);
  EXPECT_FALSE(std::getline(rotated, line));
  ASSERT_TRUE(std::getline(current, line));
  EXPECT_EQ(WithoutLineEnd(line), relayed_[1]);
}

TEST_F(ServiceEngineTest, AFullDiskLeavesNoHalfLinesAndIsReportedOnceAndSoIsTheRecovery) {
  // A small file system of the test's own, in a mount namespace of its own, holds the history.
  const std::filesystem::path folder = home_.path() / "small";
  std::filesystem::create_directory(folder);
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=12k") != 0) {
    GTEST_SKIP() << "needs root for a mount namespace of its own";
  }
  std::ofstream(folder / "filler") << std::string(8192, 'f');  // one 4 KiB page is left
  AppSettings().SetString("Settings", "histpath", folder.c_str());
  StartDunmir();

  qv::testing::UdpPeer sender;
  const std::string text(900, 'x');
  for (int i = 1; i <= 6; ++i) ASSERT_TRUE(sender.SendTo(port_, "<13>" + std::to_string(i) + text));
  // One batch: four lines fit, the fifth is cut and reported, the sixth fails with it.
  ASSERT_TRUE(ReceiveUntil(7));
  std::filesystem::remove(folder / "filler");
  ASSERT_TRUE(sender.SendTo(port_, "<13>7" + text));
  ASSERT_TRUE(ReceiveUntil(9));
  kill(dunmir_, SIGTERM);
  EXPECT_EQ(qv::testing::WaitForExit(dunmir_), 0);
  dunmir_ = -1;

  const std::string path = (folder / "qvhista.txt").string();
  std::vector<std::string> reports;
  for (const std::string& line : relayed_) {
    if (line.find("History: ") != std::string::npos) reports.push_back(line.substr(line.find('"')));
  }
  EXPECT_EQ(reports, (std::vector<std::string>{"\"History: cannot write " + path + ": No space left on device\"",
                                                "\"History: writing " + path + " again\""}));
  std::ifstream history(path, std::ios::binary);
  std::stringstream contents;
  contents << history.rdbuf();
  std::string expected;
  // The fifth line was cut back, which left room for the report; the sixth, in the same batch
  // or after the report, did not fit. Where the report falls among the relayed lines depends
  // on how the datagrams were batched, so the lines are picked by their text.
  auto relayedLine = [&](const std::string& start) {
    for (const std::string& line : relayed_) {
      if (line.find(",\"" + start) != std::string::npos) return line + "\r\n";
    }
    ADD_FAILURE() << "nothing relayed begins with " << start;
    return std::string();
  };
  for (const char* start : {"1x", "2x", "3x", "4x", "History: cannot", "7x", "History: writing"}) {
    expected += relayedLine(start);
  }
  EXPECT_EQ(contents.str(), expected);
  umount2(folder.c_str(), MNT_DETACH);
}

TEST_F(ServiceEngineTest, RuleActionsRunInTheServiceAndMessageBoxesBecomeLocalMessages) {
  const CSettingsStore& store = AppSettings();
  store.SetInt("Settings", "rulescount", 2);
  store.SetString("Rules\\rule0", "Message", "save me");
  store.SetInt("Rules\\rule0", "Action", 1);  // Save to file
  store.SetString("Rules\\rule0", "ActionValue", home_.file("saved-%Y.txt").c_str());
  store.SetString("Rules\\rule1", "Name", "Boxer");
  store.SetString("Rules\\rule1", "Message", "box me");
  store.SetInt("Rules\\rule1", "Action", 6);  // Message Box
  store.SetString("Rules\\rule1", "ActionValue", "seen: $msg");
  StartDunmir();

  Logger("please save me");
  Logger("please box me");
  ASSERT_TRUE(ReceiveUntil(3));
  SyslogMessage box;
  box.ReadRecordLine(relayed_[1]);  // the box comes before the message that fired it
  EXPECT_EQ(box.message, "Message box \"Boxer\": seen: qvtest: please box me");
  EXPECT_EQ(box.ipAddress, "127.0.0.1");

  const time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::ifstream saved(home_.file("saved-" + std::to_string(local.tm_year + 1900) + ".txt"));
  std::string line;
  ASSERT_TRUE(std::getline(saved, line));
  EXPECT_EQ(WithoutLineEnd(line), relayed_[0]);
}

TEST_F(ServiceEngineTest, AnEventAndALineOfAWatchedLogReachRelayAndHistory) {
  const std::string log = home_.file("router.log");
  std::ofstream(log) << "old line\n";
  const CSettingsStore& store = AppSettings();
  store.SetInt("Settings", "FileMonitor", 1);
  store.SetInt("Settings", "filecount", 1);
  store.SetString("Files", "file0", log.c_str());
  store.SetInt("Files", "filelog0", 1);
  StartDunmir();

  const std::string qvevent = std::string(QVEVENT_PATH) +
                              " write --log Application --source tester --type warning --id 0 'disk is slow'";
  const auto reported = [this](std::string_view text) {
    return std::any_of(relayed_.begin(), relayed_.end(), [text](const std::string& line) {
      SyslogMessage record;
      record.ReadRecordLine(line);
      return record.message.find(text) != std::string::npos;
    });
  };
  // The monitors take their starting point only after the port is bound, so what is written
  // before that is old to them: write again until each has reported (the file is polled every 5 s).
  for (int attempt = 0; attempt < 4 && !(reported("disk is slow") && reported("router.log: new line")); ++attempt) {
    if (!reported("disk is slow")) {
      ASSERT_EQ(std::system(qvevent.c_str()), 0);
    }
    if (!reported("router.log: new line")) std::ofstream(log, std::ios::app) << "new line\n";
    const auto deadline = std::chrono::steady_clock::now() + 7s;
    while (!(reported("disk is slow") && reported("router.log: new line")) &&
           std::chrono::steady_clock::now() < deadline) {
      ReceiveUntil(relayed_.size() + 1, 200ms);
    }
  }
  EXPECT_TRUE(reported("disk is slow"));
  EXPECT_TRUE(reported("router.log: new line"));
  // Each keeps the sender, host and severity its monitor gave it.
  for (const std::string& line : relayed_) {
    SyslogMessage record;
    record.ReadRecordLine(line);
    EXPECT_EQ(record.ipAddress, "127.0.0.1") << record.message;
    EXPECT_EQ(record.senderPort, 514) << record.message;
    if (record.facility == 24) {
      EXPECT_EQ(record.severity, 4) << record.message;
      EXPECT_FALSE(record.hostName.empty()) << "the event's computer";
    } else {
      EXPECT_EQ(record.facility, 5) << record.message;
      EXPECT_EQ(record.severity, 6) << record.message;
      EXPECT_EQ(record.hostName, "localhost") << record.message;
    }
  }
  EXPECT_EQ(HistoryLines(home_).size(), relayed_.size());
}

// An SNMPv1 trap is stored from its agent, an SNMPv2c trap from the address it came from (in a
// network namespace of the test's own, a second address that stands for another machine).
TEST_F(ServiceEngineTest, SwitchedOnTheTrapMonitorKeepsEachTrapsSender) {
  const bool apart = qv::testing::OwnNetworkNamespace::Enter() &&
                     qv::testing::OwnNetworkNamespace::AddLoopbackAddress("192.0.2.1");
  const std::string sender = apart ? "192.0.2.1" : "127.0.0.1";
  const std::string snmptrap = "snmptrap" + (apart ? " --clientaddr=" + sender : std::string()) + " -c public ";
  AppSettings().SetInt("Settings", "SNMPTrapMonitor", 1);
  StartDunmir();
  // The monitor binds port 162 on its own thread; a trap sent before that is lost, so resend.
  for (int attempt = 0; attempt < 20 && relayed_.empty(); ++attempt) {
    ASSERT_EQ(std::system((snmptrap + "-v1 127.0.0.1:162 1.3.6.1.4.1.8072 10.0.0.5 6 17 '' "
                                      "1.3.6.1.4.1.8072.1 s hello >/dev/null 2>&1").c_str()),
              0);
    ReceiveUntil(1, 500ms);
  }
  ASSERT_FALSE(relayed_.empty());
  ASSERT_EQ(std::system((snmptrap + "-v2c 127.0.0.1:162 0 1.3.6.1.6.3.1.1.5.3 >/dev/null 2>&1").c_str()), 0);
  const auto v2c = [this] {
    return std::find_if(relayed_.begin(), relayed_.end(),
                        [](const std::string& line) { return line.find("Ver=2") != std::string::npos; });
  };
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  while (v2c() == relayed_.end() && std::chrono::steady_clock::now() < deadline) ReceiveUntil(relayed_.size() + 1, 100ms);
  ASSERT_NE(v2c(), relayed_.end());

  SyslogMessage v1Trap, v2Trap;
  v1Trap.ReadRecordLine(relayed_[0]);
  v2Trap.ReadRecordLine(*v2c());
  EXPECT_EQ(v1Trap.message.rfind("SNMP Trap: Ver=1 ", 0), 0u) << v1Trap.message;
  EXPECT_EQ(v1Trap.ipAddress, "10.0.0.5");
  EXPECT_EQ(v2Trap.message.rfind("SNMP Trap: Ver=2 ", 0), 0u) << v2Trap.message;
  EXPECT_EQ(v2Trap.ipAddress, sender);
  EXPECT_EQ(v2Trap.hostName, "");
  EXPECT_EQ(v2Trap.severity, 6);
  const std::vector<std::string> history = HistoryLines(home_);
  ASSERT_EQ(history.size(), relayed_.size());
  for (std::size_t i = 0; i < history.size(); ++i) EXPECT_EQ(WithoutLineEnd(history[i]), relayed_[i]);
}

TEST_F(ServiceEngineTest, ASecondServiceOnATakenPortSaysWhyAndFails) {
  StartDunmir();
  const std::string command = std::string(DUNMIR_PATH) + " debug 2>&1";
  std::FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  std::array<char, 512> buffer{};
  while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) output += buffer.data();
  const int status = pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
  EXPECT_NE(output.find("dunmir: cannot receive syslog on UDP port " + std::to_string(port_) +
                        ": Address already in use\n"),
            std::string::npos)
      << output;
}

TEST_F(ServiceEngineTest, TheTimeMarkIsRelayedAndWrittenEveryTimemarkMinutes) {
  AppSettings().SetInt("Settings", "timemark", 1);
  StartDunmir();
  ASSERT_TRUE(ReceiveUntil(1, 75s));
  SyslogMessage mark;
  mark.ReadRecordLine(relayed_[0]);
  EXPECT_EQ(mark.message, "-----Time Mark-----");
  EXPECT_EQ(mark.hostName, "localhost");
  EXPECT_EQ(mark.facility, 5);
  EXPECT_EQ(mark.severity, 7);
  const std::vector<std::string> history = HistoryLines(home_);
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(WithoutLineEnd(history[0]), relayed_[0]);
}

TEST_F(ServiceEngineTest, TheServiceTranslatesEveryEventLogNotOnlySixteen) {
  // Fifteen logs that sort before "Security" and "System" push them past a table of sixteen.
  for (int n = 1; n <= 15; ++n) {
    reg::ScopedKey log;
    const std::string name = "SYSTEM\\CurrentControlSet\\Services\\Eventlog\\A" + std::string(n < 10 ? "0" : "") +
                             std::to_string(n);
    ASSERT_EQ(reg::CreateKey(reg::LocalMachine(), name, reg::Access::kReadWrite, log.out()), reg::kSuccess);
  }
  StartDunmir();
  const std::string qvevent =
      std::string(QVEVENT_PATH) + " write --log System --source kernel --type error --id 0 'late log'";
  // The translators start beside the socket; an event written before they watch is not news.
  std::vector<std::string> history;
  const auto deadline = std::chrono::steady_clock::now() + 15s;
  while (history.empty() && std::chrono::steady_clock::now() < deadline) {
    ASSERT_EQ(std::system(qvevent.c_str()), 0);
    std::this_thread::sleep_for(500ms);
    history = HistoryLines(home_);
  }
  ASSERT_FALSE(history.empty());
  SyslogMessage record;
  record.ReadRecordLine(WithoutLineEnd(history[0]));
  EXPECT_EQ(record.message.find("System/kernel"), 0u) << record.message;
}

}  // namespace
}  // namespace qv
