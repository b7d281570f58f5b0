#include "monitors/file_monitor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/settings/settings_store.h"
#include "monitors/reporter_for_test.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

using std::chrono::milliseconds;
using Texts = std::vector<std::string>;

constexpr int kPollMs = 40;
constexpr milliseconds kArrival{3000};

void WriteFile(const std::string& path, const std::string& text, std::ios::openmode mode = std::ios::trunc) {
  std::ofstream out(path, std::ios::binary | std::ios::out | mode);
  out << text;
}

class FileMonitorTest : public ::testing::Test {
 protected:
  FileMonitorTest() : monitor_(collector_.Reporter()) { monitor_.SetPollInterval(kPollMs); }
  ~FileMonitorTest() override { monitor_.Stop(); }

  // Long enough for several polls to pass.
  static void Settle() { std::this_thread::sleep_for(milliseconds(kPollMs * 6)); }
  std::string Path(const std::string& name) const { return home_.file(name); }
  // Appends an entry to the stored list, which Start loads.
  static void Watch(const std::string& path, bool log) {
    const CSettingsStore& settings = AppSettings();
    const int32_t index = settings.GetInt("Settings", "filecount", 0);
    settings.SetString("Files", ("file" + std::to_string(index)).c_str(), path.c_str());
    settings.SetInt("Files", "filelog" + std::to_string(index), log ? 1 : 0);
    settings.SetInt("Settings", "filecount", index + 1);
  }

  testing::TempHome home_;
  testing::CFindingCollector collector_;
  CFileMonitor monitor_;
};

TEST_F(FileMonitorTest, InitLoadsTheCountedNonEmptyEntriesWithTheirBaseline) {
  WriteFile(Path("present"), "12345");
  const CSettingsStore& settings = AppSettings();
  settings.SetInt("Settings", "filecount", 3);
  settings.SetString("Files", "file0", Path("present").c_str());
  settings.SetInt("Files", "filelog0", 1);
  settings.SetString("Files", "file1", "");
  settings.SetString("Files", "file2", Path("absent").c_str());
  settings.SetString("Files", "file3", Path("beyond the count").c_str());

  monitor_.Init();
  const auto& entries = monitor_.Entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].path, Path("present"));
  EXPECT_TRUE(entries[0].log);
  EXPECT_TRUE(entries[0].exists);
  EXPECT_EQ(entries[0].size, 5);
  EXPECT_NE(entries[0].modifiedNs, 0);
  EXPECT_EQ(entries[1].path, Path("absent"));
  EXPECT_FALSE(entries[1].log);
  EXPECT_FALSE(entries[1].exists);
  EXPECT_EQ(entries[1].size, 0);
  EXPECT_EQ(entries[1].modifiedNs, 0);

  // A damaged count ends at the bound instead of reading the store for hours.
  settings.SetInt("Settings", "filecount", INT32_MAX);
  monitor_.Init();
  EXPECT_EQ(monitor_.Entries().size(), 3u);

  // Start reloads: an emptied list starts no polling at all.
  settings.SetInt("Settings", "filecount", 0);
  monitor_.Start();
  EXPECT_TRUE(monitor_.Entries().empty());
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_FALSE(monitor_.IsRunning());
}

TEST_F(FileMonitorTest, DeleteCreateAndTouchEachGiveOneMessage) {
  const std::string file = Path("watched.cfg");
  const std::string folder = Path("folder");
  WriteFile(file, "setting=1\n");
  std::filesystem::create_directory(folder);
  Watch(file, false);
  Watch(folder, false);
  monitor_.Start();
  Settle();
  EXPECT_TRUE(collector_.Texts().empty()) << "an untouched baseline is not reported";

  std::filesystem::remove(file);
  EXPECT_EQ(collector_.WaitForTexts(1, kArrival), Texts{"File Monitor: " + file + " Deleted"});
  Settle();
  WriteFile(file, "setting=1\n");
  EXPECT_EQ(collector_.WaitForTexts(2, kArrival).back(), "File Monitor: " + file + " Created");
  Settle();

  // A new modification time with the same size.
  const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  EXPECT_EQ(collector_.WaitForTexts(3, kArrival).back(), "File Monitor: " + file + " Modified");
  Settle();

  // A folder changes when something is added inside it.
  WriteFile(folder + "/new file", "x");
  EXPECT_EQ(collector_.WaitForTexts(4, kArrival).back(), "File Monitor: " + folder + " Modified");
  Settle();
  EXPECT_EQ(collector_.Texts().size(), 4u);
  for (const auto& finding : collector_.Findings()) {
    EXPECT_EQ(finding.severity, 6);
    EXPECT_EQ(finding.sourceAddress, "127.0.0.1");
  }
}

TEST_F(FileMonitorTest, LogFileReportsAppendedLinesAndRereadsAfterTruncation) {
  const std::string log = Path("app.log");
  WriteFile(log, "old line that is never reported\n");
  Watch(log, true);
  monitor_.Start();
  Settle();
  EXPECT_TRUE(collector_.Texts().empty());

  WriteFile(log, "first\r\nsecond\n", std::ios::app);
  EXPECT_EQ(collector_.WaitForTexts(2, kArrival), (Texts{"app.log: first", "app.log: second"}));
  Settle();
  EXPECT_EQ(collector_.Texts().size(), 2u) << "a log file sends no Modified message";

  collector_.Clear();
  WriteFile(log, "fresh\n");  // truncated and rewritten, shorter than before
  EXPECT_EQ(collector_.WaitForTexts(1, kArrival), Texts{"app.log: fresh"});
  Settle();

  collector_.Clear();
  WriteFile(log, "\nno line feed", std::ios::app);  // an empty line, then a last line without LF
  EXPECT_EQ(collector_.WaitForTexts(2, kArrival), (Texts{"app.log: ", "app.log: no line feed"}));
}

TEST_F(FileMonitorTest, LogFileCreatedWhileWatchedIsReportedThenReadFromItsStart) {
  const std::string log = Path("later.log");
  Watch(log, true);
  monitor_.Start();
  Settle();
  WriteFile(log, "one\ntwo\n");
  EXPECT_EQ(collector_.WaitForTexts(3, kArrival),
            (Texts{"File Monitor: " + log + " Created", "later.log: one", "later.log: two"}));
  Settle();
  EXPECT_EQ(collector_.Texts().size(), 3u);
}

TEST_F(FileMonitorTest, LogFilesBeyondTwoGigabytesAndOverlongLines) {
  const std::string log = Path("big.log");
  {
    // A sparse 3 GB file: only the size is large.
    const int fd = open(log.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, int64_t{3} << 30), 0);
    close(fd);
  }
  Watch(log, true);
  monitor_.Start();
  Settle();
  const std::string longLine(CFileMonitor::kMaxLineBytes + 10, 'x');
  const std::string fullLine(CFileMonitor::kMaxLineBytes, 'y');  // its line end adds no empty line
  WriteFile(log, "hello\n" + longLine + "\n" + fullLine + "\r\nend\n", std::ios::app);
  const Texts texts = collector_.WaitForTexts(5, kArrival);
  ASSERT_EQ(texts.size(), 5u);
  EXPECT_EQ(texts[0], "big.log: hello");
  EXPECT_EQ(texts[1], "big.log: " + std::string(CFileMonitor::kMaxLineBytes, 'x'));
  EXPECT_EQ(texts[2], "big.log: xxxxxxxxxx");
  EXPECT_EQ(texts[3], "big.log: " + fullLine);
  EXPECT_EQ(texts[4], "big.log: end");
  EXPECT_EQ(monitor_.Entries().size(), 1u);
}

}  // namespace
}  // namespace qv
