// The service end to end: a real dunmir in the foreground on a free port, real logger as the
// sender, a listener on the relay port standing in for the windowed program, and the history
// files read back from the data root.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/message/syslog_message.h"
#include "core/settings/settings_store.h"
#include "reception/relay.h"
#include "reception/udp_test_peer.h"
#include "service/dunmir_test_process.h"
#include "testing/free_udp_port.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

// True once something holds the UDP port on all addresses (our own bind is refused).
bool PortIsTaken(int32_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool taken = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0;
  close(fd);
  return taken;
}

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
    while (!PortIsTaken(port_) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(PortIsTaken(port_));
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

  qv::testing::TempHome home_;
  int32_t port_ = 0;
  pid_t dunmir_ = -1;
  qv::testing::RecordingSink viewer_;
  CSyslogSocket relayListener_{viewer_, RELAY_PORT, "127.0.0.1"};
};

TEST_F(ServiceEngineTest, EachAcceptedMessageIsRelayedAndWrittenOnceAsItsRecordLine) {
  ASSERT_TRUE(relayListener_.created());
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
  ASSERT_TRUE(qv::testing::ReceiveUntil(relayListener_, viewer_, 2));
  std::this_thread::sleep_for(300ms);  // anything that would follow in error
  relayListener_.OnReceive();
  ASSERT_EQ(viewer_.datagrams.size(), 2u);

  std::vector<std::string> history = HistoryLines(home_);
  ASSERT_EQ(history.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(viewer_.datagrams[i].address, "127.0.0.1");
    EXPECT_EQ(viewer_.datagrams[i].port, RELAY_SOURCE_PORT);
    EXPECT_EQ(viewer_.datagrams[i].text, WithoutLineEnd(history[i]));
  }
  SyslogMessage first;
  first.ReadRecordLine(viewer_.datagrams[0].text);
  EXPECT_EQ(first.message, "qvtest: link down on port 7");
  EXPECT_EQ(first.facility, 19);
  EXPECT_EQ(first.severity, 3);
  EXPECT_EQ(first.ipAddress, "127.0.0.1");
  EXPECT_FALSE(first.hostName.empty());
  EXPECT_NE(first.timeSent, 0);
  EXPECT_FALSE(first.highlighted);
  SyslogMessage marked;
  marked.ReadRecordLine(viewer_.datagrams[1].text);
  EXPECT_EQ(marked.message, "qvtest: please mark me now");
  EXPECT_TRUE(marked.highlighted);
}

TEST_F(ServiceEngineTest, WithoutItsSwitchTheServiceStartsTheTrapMonitor) {
  ASSERT_TRUE(relayListener_.created());
  AppSettings().SetString("Settings", "SNMPTrapMonitor", nullptr);
  StartDunmir();
  // The monitor binds port 162 on its own thread; a trap sent before that is lost, so resend.
  for (int attempt = 0; attempt < 20 && viewer_.datagrams.empty(); ++attempt) {
    ASSERT_EQ(std::system("snmptrap -v1 -c public 127.0.0.1:162 1.3.6.1.4.1.8072 10.0.0.5 6 17 '' "
                          "1.3.6.1.4.1.8072.1 s hello >/dev/null 2>&1"),
              0);
    qv::testing::ReceiveUntil(relayListener_, viewer_, 1, 500ms);
  }
  ASSERT_FALSE(viewer_.datagrams.empty());
  SyslogMessage trap;
  trap.ReadRecordLine(viewer_.datagrams[0].text);
  EXPECT_EQ(trap.message.rfind("SNMP Trap: ", 0), 0u) << trap.message;
  EXPECT_EQ(trap.ipAddress, "10.0.0.5");
  EXPECT_EQ(HistoryLines(home_).size(), viewer_.datagrams.size());
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
  ASSERT_TRUE(relayListener_.created());
  AppSettings().SetInt("Settings", "timemark", 1);
  StartDunmir();
  ASSERT_TRUE(qv::testing::ReceiveUntil(relayListener_, viewer_, 1, 75s));
  SyslogMessage mark;
  mark.ReadRecordLine(viewer_.datagrams[0].text);
  EXPECT_EQ(mark.message, "-----Time Mark-----");
  EXPECT_EQ(mark.hostName, "localhost");
  EXPECT_EQ(mark.facility, 5);
  EXPECT_EQ(mark.severity, 7);
  const std::vector<std::string> history = HistoryLines(home_);
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(WithoutLineEnd(history[0]), viewer_.datagrams[0].text);
}

}  // namespace
}  // namespace qv
