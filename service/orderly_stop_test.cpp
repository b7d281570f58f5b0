// The service end to end with mail rules, in a network namespace of the test's own so that the
// SMTP server can have port 25. Against a slow server (each reply after 0.1 s), bursts reach the
// history while the mails wait, and SIGTERM right after a burst still writes every accepted
// message before the program ends, with one line counting the mails skipped. Against a real
// server that refuses the sender, the dialogue stops and the failures are said once.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/message/syslog_message.h"
#include "core/settings/settings_store.h"
#include "reception/udp_test_peer.h"
#include "rules/mail/smtp_test_server.h"
#include "rules/rule.h"
#include "service/dunmir_test_process.h"
#include "testing/free_udp_port.h"
#include "testing/network_namespace.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

using qv::testing::HistoryMessages;

std::size_t CountStartingWith(const std::vector<std::string>& messages, const std::string& prefix) {
  std::size_t count = 0;
  for (const std::string& message : messages) count += message.rfind(prefix, 0) == 0 ? 1 : 0;
  return count;
}


// The messages that begin with `prefix`, in the order stored.
std::vector<std::string> Starting(const std::vector<std::string>& messages, const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& message : messages) {
    if (message.rfind(prefix, 0) == 0) found.push_back(message);
  }
  return found;
}

TEST(OrderlyStopTest, BurstsReachTheHistoryWhileMailsWaitAndSigtermKeepsEveryAcceptedMessage) {
  if (!qv::testing::OwnNetworkNamespace::Enter()) GTEST_SKIP() << "needs root for a network namespace of its own";
  qv::testing::TempHome home;
  std::filesystem::create_directory(home.path() / "smtp");
  qv::testing::SmtpTestServer smtp("slow", home.path() / "smtp", 25);
  ASSERT_EQ(smtp.port(), 25);

  const int32_t port = qv::testing::FreeUdpPort();
  const CSettingsStore& store = AppSettings();
  store.SetInt("Settings", "udpport", port);
  store.SetInt("Settings", "SNMPTrapMonitor", 0);
  store.SetInt("Settings", "EventLog", 0);
  store.SetInt("Settings", "historysize", 100000);
  store.SetString("Settings", "mailserver", "127.0.0.1");
  store.SetString("Settings", "mailfrom", "quorvel");
  store.SetString("Settings", "maildomain", "example.org");
  const std::string mailRule = RuleSectionName(0);
  store.SetInt("Settings", "rulescount", 1);
  store.SetString(mailRule, "Name", "page");
  store.SetString(mailRule, "Message", "burst");
  store.SetInt(mailRule, "Action", kActionSendMail);
  store.SetString(mailRule, "ActionValue", "ops@example.org");

  const pid_t dunmir = qv::testing::SpawnDunmir({"debug"});
  const auto started = std::chrono::steady_clock::now();
  while (!qv::testing::UdpPortIsTaken(port) && std::chrono::steady_clock::now() < started + 10s) std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(qv::testing::UdpPortIsTaken(port));

  // Each message fires a mail of seven replies, 0.7 s: one at a time they would take an hour.
  constexpr int kBurst = 3000;
  qv::testing::UdpPeer sender;
  auto sendBurst = [&](const std::string& name) {
    for (int i = 0; i < kBurst; ++i) {
      ASSERT_TRUE(sender.SendTo(port, "<14>" + name + " burst " + std::to_string(i)));
      if (i % 50 == 49) std::this_thread::sleep_for(1ms);  // well within the socket's buffer
    }
  };
  const auto firstSent = std::chrono::steady_clock::now();
  sendBurst("first");
  while (CountStartingWith(HistoryMessages(home), "first burst ") < kBurst &&
         std::chrono::steady_clock::now() < firstSent + 10s) {
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(CountStartingWith(HistoryMessages(home), "first burst "), static_cast<std::size_t>(kBurst))
      << "reception waited for the mails";

  // Then a stop right behind the second burst.
  sendBurst("second");
  kill(dunmir, SIGTERM);
  const auto stopAsked = std::chrono::steady_clock::now();
  EXPECT_EQ(qv::testing::WaitForExit(dunmir, 30s), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - stopAsked, 12s);

  const std::vector<std::string> messages = HistoryMessages(home);
  std::vector<std::string> second;
  for (int i = 0; i < kBurst; ++i) second.push_back("second burst " + std::to_string(i));
  EXPECT_EQ(Starting(messages, "second burst "), second);  // each once, in the order sent
  // The mails sent are those the server saw; the rest were skipped, and one line says how many.
  std::size_t quits = 0;
  for (const std::string& line : smtp.Lines()) quits += line == "QUIT\r\n" ? 1 : 0;
  const std::string skippedStart = "Rules: ";
  ASSERT_EQ(CountStartingWith(messages, skippedStart), 1u);
  for (const std::string& message : messages) {
    if (message.rfind(skippedStart, 0) != 0) continue;
    const std::size_t skipped = std::stoul(message.substr(skippedStart.size()));
    EXPECT_NE(message.find("were still waiting when the service stopped and were skipped"), std::string::npos);
    EXPECT_GT(skipped, 2u * kBurst - 100);
    EXPECT_LE(skipped + quits, 2u * kBurst);
  }
}

TEST(OrderlyStopTest, ARefusedSenderStopsEachDialogueAndTheFailuresAreSaidOnce) {
  if (!qv::testing::OwnNetworkNamespace::Enter()) GTEST_SKIP() << "needs root for a network namespace of its own";
  qv::testing::TempHome home;
  std::filesystem::create_directory(home.path() / "smtp");
  qv::testing::SmtpTestServer smtp("smtpd", home.path() / "smtp", 25);
  ASSERT_EQ(smtp.port(), 25);

  const int32_t port = qv::testing::FreeUdpPort();
  const CSettingsStore& store = AppSettings();
  store.SetInt("Settings", "udpport", port);
  store.SetInt("Settings", "SNMPTrapMonitor", 0);
  store.SetInt("Settings", "EventLog", 0);
  store.SetString("Settings", "mailserver", "127.0.0.1");
  store.SetString("Settings", "mailfrom", "quorvel@example.com@example.com");  // "maildebug" stays off
  store.SetString("Settings", "maildomain", "example.com");
  store.SetInt("Settings", "rulescount", 1);
  store.SetString(RuleSectionName(0), "Name", "page");
  store.SetString(RuleSectionName(0), "Message", "page");
  store.SetInt(RuleSectionName(0), "Action", kActionSendMail);
  store.SetString(RuleSectionName(0), "ActionValue", "ops@example.org");

  const pid_t dunmir = qv::testing::SpawnDunmir({"debug"});
  const auto started = std::chrono::steady_clock::now();
  while (!qv::testing::UdpPortIsTaken(port) && std::chrono::steady_clock::now() < started + 10s) std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(qv::testing::UdpPortIsTaken(port));
  qv::testing::UdpPeer sender;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(sender.SendTo(port, "<14>page " + std::to_string(i)));

  // Three dialogues of HELO, the refused MAIL FROM and QUIT.
  const auto deadline = std::chrono::steady_clock::now() + 15s;
  while (smtp.Lines().size() < 9 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);
  std::this_thread::sleep_for(300ms);  // the last failure's report
  kill(dunmir, SIGTERM);
  EXPECT_EQ(qv::testing::WaitForExit(dunmir, 30s), 0);

  std::vector<std::string> expected;
  for (int i = 0; i < 3; ++i) {
    expected.insert(expected.end(),
                    {"HELO example.com\r\n", "MAIL FROM:<quorvel@example.com@example.com>\r\n", "QUIT\r\n"});
  }
  EXPECT_EQ(smtp.Lines(), expected);
  const std::vector<std::string> failures = Starting(HistoryMessages(home), "Send E-Mail: ");
  ASSERT_EQ(failures.size(), 1u) << "one report a minute per rule";
  EXPECT_EQ(failures[0].rfind("Send E-Mail: \"page\" failed: the server answered MAIL FROM with \"553 5.1.3 ", 0), 0u)
      << failures[0];
}

}  // namespace
}  // namespace qv
