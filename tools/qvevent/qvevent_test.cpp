// qvevent against the event-log layer, each in its own process.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <vector>

#include "platform/eventlog/event_log.h"
#include "testing/temp_home.h"

extern char** environ;

namespace {

using namespace qv::evt;

struct Result {
  int exitCode;
  std::string output;
};

// Runs qvevent with `args` (no shell) and collects its standard output.
Result Qvevent(const std::vector<std::string>& args) {
  std::vector<std::string> all = {QVEVENT_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int out[2];
  if (pipe(out) != 0) return {-1, ""};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::string output;
  char buffer[4096];
  for (ssize_t n; spawned == 0 && (n = read(out[0], buffer, sizeof buffer)) > 0;) {
    output.append(buffer, static_cast<size_t>(n));
  }
  close(out[0]);
  int status = 0;
  if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return {-1, output};
  return {WEXITSTATUS(status), output};
}

class QveventTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("TZ", "UTC", 1); }
  qv::testing::TempHome home_;
};

TEST_F(QveventTest, WrittenEventsAreListedOneALineWithEveryField) {
  ASSERT_EQ(Qvevent({"write", "--log", "Application", "--source", "backup", "--type", "error", "--id", "1001",
                     "disk full", "tab\there", "line\nbreak", "back\\slash", ""})
                .exitCode,
            0);
  ASSERT_EQ(Qvevent({"write", "--id", "0x10", "--computer", "router1", "--type", "audit-failure", "--source", "sshd",
                     "--log", "application", "--", "--not-an-option"})
                .exitCode,
            0);
  ASSERT_EQ(Qvevent({"write", "--log", "System", "--source", "s", "--type", "warning", "--id", "0"}).exitCode, 0);

  const Result listed = Qvevent({"list", "Application"});
  EXPECT_EQ(listed.exitCode, 0);
  const std::size_t firstEnd = listed.output.find('\n');
  ASSERT_NE(firstEnd, std::string::npos);
  const std::string first = listed.output.substr(0, firstEnd);
  const std::string second = listed.output.substr(firstEnd + 1);
  // "1<TAB>2024-05-01 12:00:00<TAB>2024-05-01 12:00:00<TAB>error<TAB>..."
  ASSERT_GT(first.size(), 42u);
  EXPECT_EQ(first.substr(0, 2), "1\t");
  EXPECT_EQ(first.substr(21, 1), "\t");
  EXPECT_EQ(first.substr(2, 19), first.substr(22, 19));
  EXPECT_EQ(first.substr(41), "\terror\t1001\tbackup\t" + LocalComputerName() +
                                  "\tdisk full\ttab\\there\tline\\nbreak\tback\\\\slash\t");
  EXPECT_EQ(second.substr(0, 2), "2\t");
  EXPECT_EQ(second.substr(41), "\taudit-failure\t16\tsshd\trouter1\t--not-an-option\n");
  EXPECT_EQ(Qvevent({"list", "System"}).output.substr(41), "\twarning\t0\ts\t" + LocalComputerName() + "\n");
  EXPECT_EQ(Qvevent({"list", "Security"}).output, "");

  // The time is the local time of the moment written.
  char today[11];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(today, sizeof today, "%Y-%m-%d", &local);
  EXPECT_EQ(first.substr(2, 10), today);
}

TEST_F(QveventTest, EventsOfTheLibraryAndOfTheToolAreTheSameRecords) {
  HEventSource source = nullptr;
  ASSERT_EQ(RegisterEventSource("quorvel", &source), kSuccess);
  ASSERT_EQ(ReportEvent(source, kInformationType, 0, 0, {"from the library"}), kSuccess);
  DeregisterEventSource(source);
  ASSERT_EQ(Qvevent({"write", "--log", "Application", "--source", "tool", "--type", "information", "--id", "5", "a",
                     "b"})
                .exitCode,
            0);

  EXPECT_NE(Qvevent({"list", "Application"}).output.find("\tinformation\t0\tquorvel\t" + LocalComputerName() +
                                                          "\tfrom the library\n"),
            std::string::npos);
  HEventLog log = nullptr;
  ASSERT_EQ(OpenEventLog("Application", &log), kSuccess);
  std::string buffer(4096, '\0');
  uint32_t read = 0;
  uint32_t needed = 0;
  ASSERT_EQ(ReadEventLog(log, kSeekRead | kForwardsRead, 2, buffer.data(), 4096, &read, &needed), kSuccess);
  const auto record = DecodeEventRecord(std::string_view(buffer.data(), read));
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->source, "tool");
  EXPECT_EQ(record->eventId, 5u);
  EXPECT_EQ(record->strings, (std::vector<std::string>{"a", "b"}));
  CloseEventLog(log);
}

TEST_F(QveventTest, BadCommandLinesAndUnknownLogsAreRefused) {
  const std::vector<std::string> good = {"write", "--log",  "Application", "--source", "s",
                                        "--type", "error", "--id",        "1"};
  EXPECT_EQ(Qvevent({"write", "--log", "Nowhere", "--source", "s", "--type", "error", "--id", "1"}).exitCode, 1);
  EXPECT_EQ(Qvevent({"list", "Nowhere"}).exitCode, 1);
  EXPECT_EQ(Qvevent({"write", "--log", "Application", "--source", "s", "--type", "fatal", "--id", "1"}).exitCode, 2);
  EXPECT_EQ(Qvevent({"write", "--log", "Application", "--source", "s", "--type", "error", "--id", "-1"}).exitCode, 2);
  EXPECT_EQ(
      Qvevent({"write", "--log", "Application", "--source", "s", "--type", "error", "--id", "4294967296"}).exitCode,
      2);
  EXPECT_EQ(Qvevent({"write", "--log", "Application", "--source", "s", "--type", "error"}).exitCode, 2);
  EXPECT_EQ(Qvevent({"write", "--log", "Application", "--log", "System", "--source", "s", "--type", "error", "--id",
                     "1"})
                .exitCode,
            2);
  EXPECT_EQ(Qvevent({"write", "--log", "Application", "--source", "", "--type", "error", "--id", "1"}).exitCode, 2);
  EXPECT_EQ(Qvevent({"write", "--log"}).exitCode, 2);
  EXPECT_EQ(Qvevent({"frobnicate"}).exitCode, 2);
  EXPECT_EQ(Qvevent({}).exitCode, 2);
  EXPECT_EQ(Qvevent({"list", "Application"}).output, "");
  EXPECT_EQ(Qvevent(good).exitCode, 0);
}

}  // namespace
