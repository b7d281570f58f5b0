// The engine in this process, driven through its event loop: lines accepted in batches reach
// the history whole, once and in order, with local messages (the reports of rules, time marks)
// between and inside the batches, and nothing is held back once the engine is idle.

#include "service/service_engine.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/settings/settings_store.h"
#include "reception/udp_test_peer.h"
#include "testing/free_udp_port.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

constexpr const char* kTimeMark = "-----Time Mark-----";

// Reports each firing of its rule at once, as a rule whose mail dialogue is shown does.
class ReportingExecutor : public CActionExecutor {
 public:
  explicit ReportingExecutor(CSyslogSink& reporter) : reporter_(reporter) {}
  void BeginLoadRules(const ActionContext&) override {}
  void RuleLoaded(const CRule&, const ActionContext&) override {}
  void Execute(const CRule&, const SyslogMessage& message, const ActionContext&) override {
    reporter_.OnLocalMessage("report on " + message.message);
  }

 private:
  CSyslogSink& reporter_;
};

// The nine fields of a record line (without CR LF), the last between double quotes.
bool IsCompleteRecordLine(std::string_view text) {
  std::size_t comma = std::string_view::npos;
  for (int field = 1; field <= 8; ++field) {
    comma = text.find(',', comma + 1);
    if (comma == std::string_view::npos) return false;
  }
  return text.size() >= comma + 3 && text[comma + 1] == '"' && text.back() == '"';
}

std::vector<SyslogMessage> HistoryRecords(const qv::testing::TempHome& home) {
  std::vector<SyslogMessage> records;
  std::ifstream file(home.file("qvhista.txt"));
  for (std::string line; std::getline(file, line);) {
    EXPECT_TRUE(!line.empty() && line.back() == '\r') << "a line without its CR LF: " << line;
    if (!line.empty()) line.pop_back();
    EXPECT_TRUE(IsCompleteRecordLine(line)) << line;
    SyslogMessage record;
    record.ReadRecordLine(line);
    records.push_back(record);
  }
  return records;
}

TEST(ServiceEngineBatchTest, EveryAcceptedLineIsInTheHistoryInOrderOnceTheEngineIsIdle) {
  qv::testing::TempHome home;
  const int32_t port = qv::testing::FreeUdpPort();
  const CSettingsStore& store = AppSettings();
  store.SetInt("Settings", "udpport", port);
  store.SetInt("Settings", "SNMPTrapMonitor", 0);
  store.SetInt("Settings", "EventLog", 0);
  store.SetInt("Settings", "rulescount", 2);
  store.SetString("Rules\\rule0", "Message", "drop");  // every tenth message is discarded
  store.SetInt("Rules\\rule0", "Action", 3);
  // Every seventh is reported on first, by an action that runs on the engine's thread (save to
  // file; those that talk to the outside report later, from their worker).
  store.SetString("Rules\\rule1", "Message", "report");
  store.SetInt("Rules\\rule1", "Action", 1);

  int argc = 1;
  char name[] = "batch_test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  CServiceEngine engine([](CSyslogSink& reporter) { return std::make_unique<ReportingExecutor>(reporter); });
  ASSERT_TRUE(engine.listening()) << engine.failure();

  // Rounds of 200 datagrams, each far more than one batch; between rounds, with datagrams still
  // waiting, a time mark as its timer makes it.
  constexpr int kRounds = 4;
  constexpr int kPerRound = 200;
  qv::testing::UdpPeer sender;
  std::vector<std::string> expected;  // the messages as the history must hold them
  for (int round = 0; round < kRounds; ++round) {
    for (int i = 0; i < kPerRound; ++i) {
      const int seq = round * kPerRound + i;
      const bool dropped = seq % 10 == 9;
      const bool reported = seq % 7 == 3;
      std::string text = "message " + std::to_string(seq);
      if (dropped) text += " drop";
      if (reported) text += " report";
      ASSERT_TRUE(sender.SendTo(port, "<14>" + text));
      if (dropped) continue;  // the discarding rule comes first
      if (reported) expected.push_back("report on " + text);
      expected.push_back(text);
    }
    // Until the engine has handled part of the round (the receiving thread queues it), so that
    // the mark falls among the datagrams, as its timer makes it.
    const std::size_t before = HistoryRecords(home).size();
    const auto waitUntil = std::chrono::steady_clock::now() + 5s;
    while (HistoryRecords(home).size() == before && std::chrono::steady_clock::now() < waitUntil) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    engine.OnLocalMessage(kTimeMark);
    expected.push_back("");  // a time mark, between two batches
  }
  // A last datagram: once its line is in the file the engine has handled everything.
  ASSERT_TRUE(sender.SendTo(port, "<14>last"));
  expected.push_back("last");
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  auto done = [&] {
    const std::vector<SyslogMessage> records = HistoryRecords(home);
    return !records.empty() && records.back().message == "last";
  };
  while (!done() && std::chrono::steady_clock::now() < deadline) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  ASSERT_TRUE(done()) << "the last message never reached the history";

  const std::vector<SyslogMessage> records = HistoryRecords(home);
  ASSERT_EQ(records.size(), expected.size());
  // Records and reports in the order sent, each report right before its record; the marks
  // among them, each with records before and after it (it came between batches).
  std::size_t next = 0;
  int marks = 0;
  int sinceMark = 0;
  for (const SyslogMessage& record : records) {
    if (record.message == kTimeMark) {
      ++marks;
      EXPECT_EQ(record.severity, 7);
      EXPECT_GT(sinceMark, 0) << "mark " << marks << " follows another with nothing between";
      sinceMark = 0;
      continue;
    }
    while (next < expected.size() && expected[next].empty()) ++next;
    ASSERT_LT(next, expected.size());
    EXPECT_EQ(record.message, expected[next]) << "line " << next;
    ++next;
    ++sinceMark;
  }
  EXPECT_EQ(marks, kRounds);
  EXPECT_GT(sinceMark, 0) << "the last datagram came before a mark";
}

TEST(ServiceEngineBatchTest, StopHandlesEveryDatagramAlreadyTakenFromTheSocket) {
  qv::testing::TempHome home;
  const int32_t port = qv::testing::FreeUdpPort();
  AppSettings().SetInt("Settings", "udpport", port);
  AppSettings().SetInt("Settings", "SNMPTrapMonitor", 0);
  AppSettings().SetInt("Settings", "EventLog", 0);
  int argc = 1;
  char name[] = "batch_test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  CServiceEngine engine([](CSyslogSink& reporter) { return std::make_unique<ReportingExecutor>(reporter); });
  ASSERT_TRUE(engine.listening()) << engine.failure();

  // The event loop never runs: the receiving thread queues the datagrams and nothing handles
  // them until the stop.
  constexpr int kCount = 500;
  qv::testing::UdpPeer sender;
  for (int i = 0; i < kCount; ++i) ASSERT_TRUE(sender.SendTo(port, "<14>queued " + std::to_string(i)));
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(HistoryRecords(home).empty());
  engine.Stop();

  const std::vector<SyslogMessage> records = HistoryRecords(home);
  ASSERT_EQ(records.size(), static_cast<std::size_t>(kCount));
  for (int i = 0; i < kCount; ++i) EXPECT_EQ(records[i].message, "queued " + std::to_string(i));
}

}  // namespace
}  // namespace qv
