#include "monitors/event_log_monitor.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

#include "core/message/syslog_message.h"
#include "core/settings/settings_store.h"
#include "monitors/event_log_monitors.h"
#include "platform/registry/registry.h"
#include "monitors/reporter_for_test.h"
#include "testing/temp_home.h"

extern char** environ;

namespace qv {
namespace {

using std::chrono::milliseconds;

// Translators post their records to a collector standing in for the owner's private channel.
class EventLogMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(evt::EnsureDefaultLogs(), evt::kSuccess);
  }

  static void Write(const std::string& source, uint16_t type, uint32_t id, std::vector<std::string> strings,
                    const std::string& log = "Application") {
    evt::EventRecord event;
    event.source = source;
    event.computer = "WORKSTATION7";
    event.eventType = type;
    event.eventId = id;
    event.strings = std::move(strings);
    ASSERT_EQ(evt::WriteEvent(log, event), evt::kSuccess);
  }

  // Another process writes the event, as people and programs do with qvevent.
  static void WriteWithQvevent(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {QVEVENT_PATH, "write"});
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, QVEVENT_PATH, nullptr, nullptr, argv.data(), environ), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  static void SetMessageFiles(const std::string& source, const std::string& files) {
    reg::ScopedKey key;
    ASSERT_EQ(reg::CreateKey(reg::LocalMachine(), std::string(evt::kEventLogKey) + "\\Application\\" + source,
                             reg::Access::kReadWrite, key.out()),
              reg::kSuccess);
    ASSERT_EQ(reg::SetSz(key.get(), "EventMessageFile", files), reg::kSuccess);
  }

  SyslogMessage Received(std::size_t index) { return records_.At(index); }
  // Starts translating the Application log.
  void StartTranslator() {
    ASSERT_TRUE(translator_.OpenLog("Application"));
    translator_.Start();
  }

  testing::TempHome home_;
  testing::CRecordCollector records_;
  CEventLogMonitor translator_{records_.Poster()};
};

TEST_F(EventLogMonitorTest, OnlyEntriesWrittenAfterOpeningArriveAsRecords) {
  Write("Disk", evt::kErrorType, 7, {"old"});
  Write("Disk", evt::kErrorType, 7, {"older"});
  StartTranslator();

  const auto written = std::chrono::steady_clock::now();
  WriteWithQvevent({"--log", "Application", "--source", "Disk", "--type", "error", "--id", "7", "--computer",
                    "FILESERVER", "--", "a", "b", "c"});
  ASSERT_TRUE(records_.WaitFor(1, milliseconds(1000)));
  EXPECT_LT(std::chrono::steady_clock::now() - written, milliseconds(1000));
  const SyslogMessage record = Received(0);
  EXPECT_EQ(record.message, "Application/Disk: a b c");
  EXPECT_EQ(record.facility, 24);
  EXPECT_EQ(record.severity, 3);
  EXPECT_EQ(record.hostName, "FILESERVER");
  EXPECT_EQ(record.ipAddress, "127.0.0.1");
  EXPECT_EQ(record.senderPort, 514) << "whatever port the system listens on";
  EXPECT_GT(record.timeSent, 0);
  EXPECT_GE(record.timeReceived, record.timeSent);
  EXPECT_FALSE(records_.WaitFor(2, milliseconds(300)));
}

TEST_F(EventLogMonitorTest, OwnSourceIsSkippedAndTypesGiveSeverities) {
  StartTranslator();
  Write("quorvel", evt::kErrorType, 0, {"written by a rule"});
  Write("QUORVEL", evt::kErrorType, 0, {"error"});
  Write("Svc", evt::kWarningType, 0, {"warning"});
  Write("Svc", evt::kInformationType, 0, {"information"});
  Write("Svc", evt::kAuditSuccessType, 0, {"audit success"});
  Write("Svc", evt::kAuditFailureType, 0, {"audit failure"});
  Write("Svc", 0, 0, {});
  ASSERT_TRUE(records_.WaitFor(6));
  const std::pair<const char*, int> expected[] = {{"Application/QUORVEL: error", 3},
                                                  {"Application/Svc: warning", 4},
                                                  {"Application/Svc: information", 6},
                                                  {"Application/Svc: audit success", 5},
                                                  {"Application/Svc: audit failure", 5},
                                                  {"Application/Svc:", 5}};
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(Received(i).message, expected[i].first);
    EXPECT_EQ(Received(i).severity, expected[i].second) << expected[i].first;
  }
}

TEST_F(EventLogMonitorTest, MessageFilesFormatTheTextWithInsertionsAndParameters) {
  const std::string folder = home_.path().string();
  std::ofstream(folder + "/first.mc") << "MessageId=1\r\nNot this one.\r\n.\r\n";
  std::ofstream(folder + "/second.mc") << "MessageId=100\r\n"
                                          "Disk %1 is\r\nalmost\tfull  (%2)%n\r\n.\r\n"
                                          "MessageId=1234\r\nninety percent%0\r\n.\r\n";
  setenv("QV_EVENT_TEST_DIR", folder.c_str(), 1);
  // Two semicolons between the files, the first written with an environment reference; a last
  // element of one character is not tried.
  SetMessageFiles("Storage", "%QV_EVENT_TEST_DIR%/first.mc;;" + folder + "/second.mc;x");
  SetMessageFiles("Broken", folder + "/missing.mc");
  StartTranslator();

  Write("Storage", evt::kWarningType, 100, {"C:", "%%1234"});
  Write("Storage", evt::kWarningType, 100, {"D:", "%%999"});
  Write("Storage", evt::kWarningType, 555, {"no", "such message"});
  Write("Broken", evt::kErrorType, 100, {"falls", "back"});
  ASSERT_TRUE(records_.WaitFor(4));
  EXPECT_EQ(Received(0).message, "Application/Storage:Disk C: is almost full (ninety percent) ");
  EXPECT_EQ(Received(1).message, "Application/Storage:Disk D: is almost full (%%999) ");
  EXPECT_EQ(Received(2).message, "Application/Storage: no such message");
  EXPECT_EQ(Received(3).message, "Application/Broken: falls back");
}

TEST_F(EventLogMonitorTest, OverlongFallbackTextIsCut) {
  StartTranslator();
  Write("Big", evt::kErrorType, 1, std::vector<std::string>(3, std::string(3000, 'x')));
  ASSERT_TRUE(records_.WaitFor(1));
  EXPECT_EQ(Received(0).message.size(), std::string("Application/Big:").size() + CEventLogMonitor::kMaxFallbackBytes);
}

TEST_F(EventLogMonitorTest, ALogThatDoesNotOpenStillStopsAtOnce) {
  CEventLogMonitor missing(records_.Poster());
  EXPECT_FALSE(missing.OpenLog("NoSuchLog"));
  missing.Start();
  StartTranslator();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(missing.Stop());
  EXPECT_TRUE(translator_.Stop());
  EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(1000));
}

TEST_F(EventLogMonitorTest, OneTranslatorPerLogInTheTable) {
  reg::ScopedKey custom;
  ASSERT_EQ(reg::CreateKey(reg::LocalMachine(), std::string(evt::kEventLogKey) + "\\Backup", reg::Access::kReadWrite,
                           custom.out()),
            reg::kSuccess);
  CEventLogMonitors translators(records_.Poster());
  translators.StartEventLogMonitors();
  ASSERT_TRUE(translators.Started());
  std::vector<std::string> names;
  for (std::size_t slot = 0; slot < translators.SlotCount(); ++slot) {
    if (const CEventLogMonitor* translator = translators.Slot(slot)) names.push_back(translator->LogName());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Application", "Backup", "Security", "System"}));
  const CEventLogMonitor* first = translators.Slot(0);
  translators.StartEventLogMonitors();  // a second start keeps the running set
  EXPECT_EQ(translators.Slot(0), first);

  Write("Tape", evt::kInformationType, 1, {"done"}, "Backup");
  ASSERT_TRUE(records_.WaitFor(1));
  EXPECT_EQ(Received(0).message, "Backup/Tape: done");

  translators.StopEventLogMonitors();
  EXPECT_FALSE(translators.Started());
  EXPECT_EQ(translators.Slot(0), nullptr);
}

TEST_F(EventLogMonitorTest, TheWindowedTableHoldsSixteenLogsAndTheServiceTranslatesAll) {
  // Fifteen logs that sort before "System" and "Security".
  for (int n = 1; n <= 15; ++n) {
    reg::ScopedKey custom;
    const std::string name = std::string(evt::kEventLogKey) + "\\A" + (n < 10 ? "0" : "") + std::to_string(n);
    ASSERT_EQ(reg::CreateKey(reg::LocalMachine(), name, reg::Access::kReadWrite, custom.out()), reg::kSuccess);
  }
  auto lastName = [](const CEventLogMonitors& translators) {
    const CEventLogMonitor* last = translators.Slot(translators.SlotCount() - 1);
    return last == nullptr ? std::string() : last->LogName();
  };
  CEventLogMonitors table(records_.Poster());
  table.StartEventLogMonitors();
  EXPECT_EQ(table.SlotCount(), CEventLogMonitors::kMaxLogs);
  EXPECT_EQ(lastName(table), "Application");
  table.StopEventLogMonitors();

  CEventLogMonitors every(records_.Poster());
  every.StartEventLogMonitors(CEventLogMonitors::kEveryLog);
  EXPECT_EQ(every.SlotCount(), 18u);
  EXPECT_EQ(lastName(every), "System");
  Write("Kernel", evt::kErrorType, 1, {"oops"}, "System");
  ASSERT_TRUE(records_.WaitFor(1));
  EXPECT_EQ(Received(0).message, "System/Kernel: oops");
}

}  // namespace
}  // namespace qv
