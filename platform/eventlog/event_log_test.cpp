#include "platform/eventlog/event_log.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <future>
#include <set>
#include <thread>

#include "platform/registry/registry.h"
#include "testing/temp_home.h"

extern char** environ;

namespace qv::evt {
namespace {

using namespace std::chrono_literals;

class EventLogTest : public ::testing::Test {
 protected:
  // Every record of `logName`, read forwards in one go.
  static std::vector<EventRecord> ReadAll(std::string_view logName) {
    HEventLog log = nullptr;
    EXPECT_EQ(OpenEventLog(logName, &log), kSuccess);
    std::vector<EventRecord> records;
    std::string buffer(1 << 20, '\0');
    uint32_t read = 0;
    uint32_t needed = 0;
    while (ReadEventLog(log, kSequentialRead | kForwardsRead, 0, buffer.data(), static_cast<uint32_t>(buffer.size()),
                        &read, &needed) == kSuccess) {
      std::string_view rest(buffer.data(), read);
      std::size_t length = 0;
      while (!rest.empty()) {
        auto record = DecodeEventRecord(rest, &length);
        if (!record) {
          ADD_FAILURE() << "undecodable record";
          break;
        }
        records.push_back(std::move(*record));
        rest.remove_prefix(length);
      }
    }
    CloseEventLog(log);
    return records;
  }

  static uint32_t Report(std::string_view source, std::vector<std::string> strings, uint16_t type = kInformationType,
                         uint32_t id = 0) {
    HEventSource handle = nullptr;
    EXPECT_EQ(RegisterEventSource(source, &handle), kSuccess);
    uint32_t number = 0;
    EXPECT_EQ(ReportEvent(handle, type, 0, id, strings, {}, &number), kSuccess);
    DeregisterEventSource(handle);
    return number;
  }

  // Starts qv_event_writer in a process of its own.
  static pid_t StartWriter(const std::string& log, const std::string& source, int count) {
    const std::string countText = std::to_string(count);
    const char* argv[] = {EVENT_WRITER_PATH, log.c_str(), source.c_str(), countText.c_str(), nullptr};
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, EVENT_WRITER_PATH, nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    return pid;
  }
  static int ExitCode(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  qv::testing::TempHome home_;
};

TEST_F(EventLogTest, TheThreeLogsExistFromFirstUseAndOthersOnlyByTheirKey) {
  HEventLog log = nullptr;
  EXPECT_EQ(OpenEventLog("Custom", &log), kFileNotFound);
  EXPECT_EQ(log, nullptr);

  reg::ScopedKey logs;
  ASSERT_EQ(reg::OpenKey(reg::LocalMachine(), kEventLogKey, reg::Access::kRead, logs.out()), reg::kSuccess);
  std::vector<std::string> names;
  std::string name;
  for (uint32_t i = 0; reg::EnumKey(logs.get(), i, &name) == reg::kSuccess; ++i) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"Application", "Security", "System"}));

  ASSERT_EQ(OpenEventLog("application", &log), kSuccess);
  uint32_t count = 9;
  uint32_t oldest = 9;
  EXPECT_EQ(GetNumberOfEventLogRecords(log, &count), kSuccess);
  EXPECT_EQ(GetOldestEventLogRecord(log, &oldest), kSuccess);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(oldest, 0u);
  CloseEventLog(log);

  reg::ScopedKey custom;
  ASSERT_EQ(reg::CreateKey(logs.get(), "Custom", reg::Access::kReadWrite, custom.out()), reg::kSuccess);
  ASSERT_EQ(OpenEventLog("Custom", &log), kSuccess);
  CloseEventLog(log);
  EXPECT_EQ(OpenEventLog("Application\\quorvel", &log), kFileNotFound);
}

TEST_F(EventLogTest, ReportedEventsAreNumberedFromOneAndReadBackWithEveryField) {
  const auto before = static_cast<uint32_t>(std::time(nullptr));
  EXPECT_EQ(Report("quorvel", {"Received: now\r\nMessage: it's"}, kErrorType), 1u);
  EXPECT_EQ(Report("quorvel", {}, kWarningType, 7), 2u);
  EXPECT_EQ(Report("other", {"a", "b", "c"}, kAuditFailureType, 0xC0000001), 3u);
  const auto after = static_cast<uint32_t>(std::time(nullptr));

  const std::vector<EventRecord> records = ReadAll("Application");
  ASSERT_EQ(records.size(), 3u);
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(records[i].recordNumber, i + 1);
    EXPECT_GE(records[i].timeGenerated, before);
    EXPECT_LE(records[i].timeWritten, after);
    EXPECT_EQ(records[i].computer, LocalComputerName());
  }
  EXPECT_EQ(records[0].source, "quorvel");
  EXPECT_EQ(records[0].eventType, kErrorType);
  EXPECT_EQ(records[0].strings, std::vector<std::string>{"Received: now\r\nMessage: it's"});
  EXPECT_EQ(records[1].eventId, 7u);
  EXPECT_TRUE(records[1].strings.empty());
  EXPECT_EQ(records[2].eventId, 0xC0000001u);
  EXPECT_EQ(records[2].eventType, kAuditFailureType);
  EXPECT_EQ(records[2].strings, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_TRUE(ReadAll("System").empty());
}

TEST_F(EventLogTest, SourcesWriteToTheLogThatRegistersThemAndWriteEventKeepsItsFields) {
  reg::ScopedKey key;
  ASSERT_EQ(reg::CreateKey(reg::LocalMachine(), std::string(kEventLogKey) + "\\System\\MyService",
                           reg::Access::kReadWrite, key.out()),
            reg::kSuccess);
  Report("myservice", {"to System"});
  Report("unregistered", {"to Application"});
  ASSERT_EQ(ReadAll("System").size(), 1u);
  EXPECT_EQ(ReadAll("System")[0].strings[0], "to System");
  ASSERT_EQ(ReadAll("Application").size(), 1u);

  EventRecord event;
  event.source = "script";
  event.computer = "elsewhere";
  event.timeGenerated = 1000;
  event.eventType = kAuditSuccessType;
  event.category = 5;
  event.eventId = 12;
  event.data = "raw";
  ASSERT_EQ(WriteEvent("Security", event), kSuccess);
  EXPECT_EQ(event.recordNumber, 1u);
  const std::vector<EventRecord> security = ReadAll("Security");
  ASSERT_EQ(security.size(), 1u);
  EXPECT_EQ(security[0], event);
  EXPECT_EQ(security[0].timeGenerated, 1000u);
  EXPECT_NE(security[0].timeWritten, 1000u);
}

TEST_F(EventLogTest, ReadsFollowThePlatformsRulesForSizesSeeksAndDirections) {
  for (int i = 1; i <= 5; ++i) Report("src", {std::string(static_cast<std::size_t>(i * 10), 'x')});
  HEventLog log = nullptr;
  ASSERT_EQ(OpenEventLog("Application", &log), kSuccess);
  std::string buffer(4096, '\0');
  uint32_t read = 0;
  uint32_t needed = 0;
  const auto readOne = [&](uint32_t flags, uint32_t offset, uint32_t size) {
    return ReadEventLog(log, flags, offset, buffer.data(), size, &read, &needed);
  };
  const auto number = [&] { return DecodeEventRecord(std::string_view(buffer.data(), read))->recordNumber; };

  // A zero-byte read tells the size of the next record; reading exactly that much gets it.
  EXPECT_EQ(ReadEventLog(log, kSequentialRead | kForwardsRead, 0, nullptr, 0, &read, &needed), kInsufficientBuffer);
  const uint32_t firstSize = needed;
  EXPECT_EQ(readOne(kSequentialRead | kForwardsRead, 0, firstSize - 1), kInsufficientBuffer);
  ASSERT_EQ(readOne(kSequentialRead | kForwardsRead, 0, firstSize), kSuccess);
  EXPECT_EQ(read, firstSize);
  EXPECT_EQ(number(), 1u);

  // Whole records only: room for two and a half gives two.
  ASSERT_EQ(readOne(kSeekRead | kForwardsRead, 2, 4096), kSuccess);
  const uint32_t fourRecords = read;
  ASSERT_EQ(readOne(kSeekRead | kForwardsRead, 2, fourRecords / 2 + 10), kSuccess);
  EXPECT_EQ(number(), 2u);
  EXPECT_EQ(DecodeEventRecord(std::string_view(buffer.data(), read))->strings[0].size(), 20u);

  // The translator's start: seek to the newest, then read on sequentially.
  ASSERT_EQ(readOne(kSeekRead | kForwardsRead, 5, 2049), kSuccess);
  EXPECT_EQ(number(), 5u);
  EXPECT_EQ(readOne(kSequentialRead | kForwardsRead, 0, 4096), kHandleEof);
  Report("src", {"six"});
  ASSERT_EQ(readOne(kSequentialRead | kForwardsRead, 0, 4096), kSuccess);
  EXPECT_EQ(number(), 6u);
  EXPECT_EQ(readOne(kSequentialRead | kForwardsRead, 0, 4096), kHandleEof);
  CloseEventLog(log);

  // Backwards from the newest down to the first, a few records at a time.
  ASSERT_EQ(OpenEventLog("Application", &log), kSuccess);
  std::vector<uint32_t> order;
  while (readOne(kSequentialRead | kBackwardsRead, 0, 300) == kSuccess) {
    std::string_view rest(buffer.data(), read);
    std::size_t length = 0;
    while (auto record = DecodeEventRecord(rest, &length)) {
      order.push_back(record->recordNumber);
      rest.remove_prefix(length);
    }
  }
  EXPECT_EQ(order, (std::vector<uint32_t>{6, 5, 4, 3, 2, 1}));

  EXPECT_EQ(readOne(kSeekRead | kForwardsRead, 0, 4096), kInvalidParameter);
  EXPECT_EQ(readOne(kSeekRead | kForwardsRead, 7, 4096), kInvalidParameter);
  EXPECT_EQ(readOne(kSeekRead | kSequentialRead | kForwardsRead, 1, 4096), kInvalidParameter);
  EXPECT_EQ(readOne(kSequentialRead, 0, 4096), kInvalidParameter);
  EXPECT_EQ(readOne(kSequentialRead | kForwardsRead | kBackwardsRead, 0, 4096), kInvalidParameter);
  EXPECT_EQ(ReadEventLog(log, kSeekRead | kForwardsRead, 1, nullptr, 10, &read, &needed), kInvalidParameter);
  EXPECT_EQ(ReadEventLog(nullptr, kSeekRead | kForwardsRead, 1, buffer.data(), 10, &read, &needed), kInvalidHandle);
  CloseEventLog(log);
}

TEST_F(EventLogTest, TheSizeCapRemovesTheOldestRecordsAndReadersSkipThem) {
  reg::ScopedKey key;
  ASSERT_EQ(reg::CreateKey(reg::LocalMachine(), std::string(kEventLogKey) + "\\Application", reg::Access::kReadWrite,
                           key.out()),
            reg::kSuccess);
  ASSERT_EQ(reg::SetDword(key.get(), "MaxSize", 1000), reg::kSuccess);  // raised to 64 KiB
  HEventLog reader = nullptr;
  Report("src", {"first"});
  ASSERT_EQ(OpenEventLog("Application", &reader), kSuccess);
  std::string buffer(4096, '\0');
  uint32_t read = 0;
  uint32_t needed = 0;
  ASSERT_EQ(ReadEventLog(reader, kSequentialRead | kForwardsRead, 0, buffer.data(), 4096, &read, &needed), kSuccess);

  for (int i = 0; i < 100; ++i) Report("src", {std::string(2000, 'y')});
  uint32_t count = 0;
  uint32_t oldest = 0;
  ASSERT_EQ(GetNumberOfEventLogRecords(reader, &count), kSuccess);
  ASSERT_EQ(GetOldestEventLogRecord(reader, &oldest), kSuccess);
  EXPECT_GT(count, 20u);
  EXPECT_LT(count, 40u);  // about 64 KiB of 2 KiB records
  EXPECT_EQ(oldest + count - 1, 101u);
  ASSERT_EQ(ReadEventLog(reader, kSequentialRead | kForwardsRead, 0, buffer.data(), 4096, &read, &needed), kSuccess);
  EXPECT_EQ(DecodeEventRecord(std::string_view(buffer.data(), read))->recordNumber, oldest);
  EXPECT_EQ(ReadAll("Application").size(), count);
  CloseEventLog(reader);
}

TEST_F(EventLogTest, BadEventsAreRefusedAndOverlongStringsCut) {
  HEventSource source = nullptr;
  EXPECT_EQ(RegisterEventSource("", &source), kInvalidParameter);
  EXPECT_EQ(RegisterEventSource(std::string(300, 's'), &source), kInvalidParameter);
  EXPECT_EQ(ReportEvent(nullptr, kErrorType, 0, 0, {}), kInvalidHandle);
  ASSERT_EQ(RegisterEventSource("src", &source), kSuccess);
  EXPECT_EQ(ReportEvent(source, kErrorType, 0, 0, std::vector<std::string>(257, "x")), kInvalidParameter);
  EXPECT_EQ(ReportEvent(source, kErrorType, 0, 0, {}, std::string(kMaxDataBytes + 1, 'd')), kInvalidParameter);
  EXPECT_EQ(ReportEvent(source, kErrorType, 0, 0, {std::string(40000, 'l'), std::string("nul\0cut", 7)}), kSuccess);
  DeregisterEventSource(source);

  EventRecord event;
  event.source = "src";
  EXPECT_EQ(WriteEvent("NoSuchLog", event), kFileNotFound);
  event.computer = std::string("a\0b", 3);
  EXPECT_EQ(WriteEvent("Application", event), kInvalidParameter);

  const std::vector<EventRecord> records = ReadAll("Application");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].strings[0].size(), kMaxStringBytes);
  EXPECT_EQ(records[0].strings[1], "nul");
}

TEST_F(EventLogTest, AnotherProcessesWriteWakesTheWaiterAndAStopEndsTheWait) {
  HEventLog log = nullptr;
  ASSERT_EQ(OpenEventLog("Application", &log), kSuccess);
  EXPECT_EQ(WaitForEventLogChange(log, -1, 0), WaitResult::kFailed);  // not armed yet
  ASSERT_EQ(NotifyChangeEventLog(log), kSuccess);
  const int stop = eventfd(0, EFD_CLOEXEC);
  ASSERT_GE(stop, 0);

  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForEventLogChange(log, stop, 200), WaitResult::kTimedOut);
  EXPECT_GE(std::chrono::steady_clock::now() - started, 190ms);

  // Writes to another log do not count as changes of this one.
  EXPECT_EQ(ExitCode(StartWriter("System", "elsewhere", 1)), 0);
  EXPECT_EQ(WaitForEventLogChange(log, stop, 300), WaitResult::kTimedOut);

  auto waiter = std::async(std::launch::async, [&] { return WaitForEventLogChange(log, stop, 10000); });
  std::this_thread::sleep_for(100ms);
  started = std::chrono::steady_clock::now();
  const pid_t writer = StartWriter("Application", "remote", 1);
  ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(waiter.get(), WaitResult::kChanged);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
  EXPECT_EQ(ExitCode(writer), 0);
  std::string buffer(4096, '\0');
  uint32_t read = 0;
  uint32_t needed = 0;
  ASSERT_EQ(ReadEventLog(log, kSequentialRead | kForwardsRead, 0, buffer.data(), 4096, &read, &needed), kSuccess);
  EXPECT_EQ(DecodeEventRecord(std::string_view(buffer.data(), read))->source, "remote");

  // A change is reported once; after that, only a stop ends the wait.
  waiter = std::async(std::launch::async, [&] { return WaitForEventLogChange(log, stop, -1); });
  EXPECT_EQ(waiter.wait_for(300ms), std::future_status::timeout);
  const uint64_t one = 1;
  ASSERT_EQ(write(stop, &one, sizeof one), static_cast<ssize_t>(sizeof one));
  ASSERT_EQ(waiter.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(waiter.get(), WaitResult::kStopped);

  // A change already there wins over the stop that is still set.
  Report("local", {"x"});
  EXPECT_EQ(WaitForEventLogChange(log, stop, -1), WaitResult::kChanged);
  EXPECT_EQ(WaitForEventLogChange(log, stop, -1), WaitResult::kStopped);
  close(stop);
  CloseEventLog(log);
}

TEST_F(EventLogTest, ConcurrentWritersInSeveralProcessesNeverShareANumber) {
  std::vector<pid_t> writers;
  for (int i = 0; i < 3; ++i) writers.push_back(StartWriter("Application", "writer", 40));
  for (int i = 0; i < 20; ++i) Report("local", {std::to_string(i)});
  for (pid_t pid : writers) EXPECT_EQ(ExitCode(pid), 0);

  const std::vector<EventRecord> records = ReadAll("Application");
  ASSERT_EQ(records.size(), 140u);
  std::set<std::string> seen;
  for (uint32_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].recordNumber, i + 1);
    seen.insert(records[i].computer + "/" + records[i].strings[0] + "/" + records[i].strings.back());
  }
  EXPECT_EQ(seen.size(), 140u);
}

}  // namespace
}  // namespace qv::evt
