#include "rules/actions/save_to_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/paths/data_root.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(SaveToFileTest, AppendsRecordLinesToOneFilePerDay) {
  qv::testing::TempHome home;
  const char* zone = std::getenv("TZ");
  const std::string savedZone = zone != nullptr ? zone : "";
  setenv("TZ", "XST-2", 1);
  tzset();

  const std::time_t day1 = 1791183787;  // 5 October 2026 09:03:07 XST
  const std::string format = home.file("%Y%m%d.txt");
  EXPECT_EQ(SaveFileName(format, day1), home.file("20261005.txt"));
  EXPECT_EQ(SaveFileName(format, day1 + 86400), home.file("20261006.txt"));
  EXPECT_EQ(SaveFileName(std::string(kSaveFileNameBuffer - 1, 'x'), day1), std::string(kSaveFileNameBuffer - 1, 'x'));
  EXPECT_EQ(SaveFileName(std::string(kSaveFileNameBuffer, 'x'), day1), "");  // does not fit

  std::ofstream(home.file("20261005.txt")) << "kept\r\n";
  SyslogMessage first;
  first.hostName = "gw1";
  first.ipAddress = "10.0.0.1";
  first.message = "link down";
  SyslogMessage second = first;
  second.message = "link up, \"quoted\"";
  CSaveToFile files;
  EXPECT_TRUE(files.Save(format, RecordFormat::kRecordLine, first, day1));
  EXPECT_TRUE(files.Save(format, RecordFormat::kRecordLine, second, day1 + 60));
  EXPECT_TRUE(files.Save(format, RecordFormat::kRecordLine, second, day1 + 86400));
  EXPECT_EQ(ReadFile(home.file("20261005.txt")), "kept\r\n" + first.FormatRecordLine() + second.FormatRecordLine());
  EXPECT_EQ(ReadFile(home.file("20261006.txt")), second.FormatRecordLine());

  EXPECT_FALSE(files.Save(home.file("no-such-folder/%Y.txt"), RecordFormat::kRecordLine, first, day1));
  EXPECT_FALSE(files.Save("", RecordFormat::kRecordLine, first, day1));
  EXPECT_FALSE(files.Save(home.path().string(), RecordFormat::kRecordLine, first, day1));  // a folder

  if (zone != nullptr) setenv("TZ", savedZone.c_str(), 1); else unsetenv("TZ");
  tzset();
}

TEST(SaveToFileTest, FilesAreClosedToOthersAndALinkIsNeverFollowed) {
  qv::testing::TempHome home;
  UseSharedUmask();
  SyslogMessage message;
  message.message = "secret";
  std::ofstream(home.file("target.txt")) << "";
  std::filesystem::create_symlink(home.file("target.txt"), home.file("link.txt"));
  // Whatever another user may have planted under the name is refused at once.
  std::filesystem::create_hard_link(home.file("target.txt"), home.file("hard.txt"));
  ASSERT_EQ(mkfifo(home.file("fifo.txt").c_str(), 0666), 0);
  CSaveToFile files;
  const std::pair<const char*, const char*> planted[] = {
      {"link.txt", "is a symbolic link"}, {"hard.txt", "has 2 links"}, {"fifo.txt", "is a FIFO"}};
  for (const auto& [name, reason] : planted) {
    std::string failure;
    EXPECT_FALSE(files.Save(home.file(name), RecordFormat::kRecordLine, message, 0, &failure));
    EXPECT_EQ(failure, "Save to file: cannot write " + home.file(name) + ": " + reason);
  }
  EXPECT_EQ(ReadFile(home.file("target.txt")), "");

  ASSERT_TRUE(files.Save(home.file("private.txt"), RecordFormat::kRecordLine, message, 0));
  EXPECT_EQ(std::filesystem::status(home.file("private.txt")).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write | std::filesystem::perms::group_read);
  std::filesystem::permissions(home.path(), std::filesystem::perms::set_gid | std::filesystem::perms::group_all,
                               std::filesystem::perm_options::add);  // shared with the group
  ASSERT_TRUE(files.Save(home.file("shared.txt"), RecordFormat::kRecordLine, message, 0));
  EXPECT_EQ(std::filesystem::status(home.file("shared.txt")).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write | std::filesystem::perms::group_read |
                std::filesystem::perms::group_write);
}

// The file stays open between lines, yet every line goes to the file that the name leads to
// at that moment; the lines before the change stay in the file renamed away.
TEST(SaveToFileTest, FollowsItsNameWhenTheFileIsRenamedDeletedOrReplaced) {
  qv::testing::TempHome home;
  namespace fs = std::filesystem;
  const std::string log = home.file("rules.log");
  const auto message = [](int n) {
    SyslogMessage m;
    m.hostName = "gw";
    m.message = "line " + std::to_string(n);
    return m;
  };
  const auto line = [&](int n) { return FormatFileLine(message(n), RecordFormat::kJsonLines); };
  struct Step {
    const char* what;
    std::function<void()> before;
    bool written;
    std::string logAfter;  // rules.log after the line
  };
  const std::vector<Step> steps = {
      {"created", [] {}, true, line(1)},
      {"appended", [] {}, true, line(1) + line(2)},
      {"renamed away, another created", [&] {
         fs::rename(log, log + ".1");
         std::ofstream(log) << "";
       }, true, line(3)},
      {"renamed away, none created", [&] { fs::rename(log, log + ".2"); }, true, line(4)},
      {"deleted", [&] { fs::remove(log); }, true, line(5)},
      {"replaced by another file", [&] {
         std::ofstream(log + ".new") << "other\n";
         fs::rename(log + ".new", log);
       }, true, "other\n" + line(6)},
      {"replaced by a link", [&] {
         fs::remove(log);
         fs::create_symlink(log + ".1", log);
       }, false, ""},
  };
  CSaveToFile files;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(steps[i].what);
    steps[i].before();
    EXPECT_EQ(files.Save(log, RecordFormat::kJsonLines, message(static_cast<int>(i) + 1), 0), steps[i].written);
    if (steps[i].written) {
      EXPECT_EQ(ReadFile(log), steps[i].logAfter);
    }
  }
  EXPECT_EQ(ReadFile(log + ".1"), line(1) + line(2));
  EXPECT_EQ(ReadFile(log + ".2"), line(3));
}

// Files stay open only up to the limit, and all of them close when the rules are replaced.
TEST(SaveToFileTest, KeepsAtMostTheLimitOfFilesOpen) {
  qv::testing::TempHome home;
  const auto openDescriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator{});
  };
  const auto before = openDescriptors();
  CSaveToFile files;
  SyslogMessage message;
  for (std::size_t n = 0; n < CSaveToFile::kMaxOpenFiles + 4; ++n) {
    ASSERT_TRUE(files.Save(home.file(std::to_string(n) + ".log"), RecordFormat::kRecordLine, message, 0));
  }
  EXPECT_EQ(openDescriptors() - before, static_cast<long>(CSaveToFile::kMaxOpenFiles));
  // The first file was closed for a later one, and is opened again for its next line.
  ASSERT_TRUE(files.Save(home.file("0.log"), RecordFormat::kRecordLine, message, 0));
  EXPECT_EQ(ReadFile(home.file("0.log")), message.FormatRecordLine() + message.FormatRecordLine());
  files.CloseAll();
  EXPECT_EQ(openDescriptors(), before);
}

// The rules are reloaded (CloseAll) on the actions' worker while lines are written on the
// receiving thread: no line fails, is lost or goes to a descriptor closed under it.
TEST(SaveToFileTest, ClosingFromAnotherThreadLosesNoLine) {
  qv::testing::TempHome home;
  CSaveToFile files;
  std::atomic<bool> done{false};
  std::thread reloads([&] {
    while (!done) files.CloseAll();
  });
  SyslogMessage message;
  std::string expected;
  int failed = 0;
  for (int n = 0; n < 3000; ++n) {
    message.message = std::to_string(n);
    if (!files.Save(home.file("rules.log"), RecordFormat::kRecordLine, message, 0)) ++failed;
    expected += message.FormatRecordLine();
  }
  done = true;
  reloads.join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(ReadFile(home.file("rules.log")), expected);
}

// logrotate renames the file while lines are being written, as it does in the night: every line
// lands whole, in order, in the renamed file or in the new one, none twice and none lost.
TEST(SaveToFileTest, LogrotateRenamesTheFileMidStreamAndNoLineIsLost) {
  constexpr const char* kLogrotate = "/usr/sbin/logrotate";
  ASSERT_TRUE(std::filesystem::exists(kLogrotate)) << "logrotate is missing: run scripts/setup.sh";
  const std::pair<const char*, const char*> rotations[] = {
      {"move and create", "create 0640"},  // logrotate makes the new file
      {"move only", "nocreate"},           // the next line makes it
  };
  for (const auto& [what, directive] : rotations) {
    SCOPED_TRACE(what);
    qv::testing::TempHome home;
    const std::string log = home.file("rules.log");
    std::ofstream(home.file("logrotate.conf")) << log << " {\n  rotate 2\n  " << directive
                                               << "\n  nocompress\n  missingok\n}\n";
    // logrotate ignores a configuration that others may write (an earlier test may leave a
    // umask that gives the group write access).
    std::filesystem::permissions(home.file("logrotate.conf"),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::atomic<int> written{0};
    std::atomic<bool> stop{false};
    std::thread writer([&] {
      CSaveToFile files;
      SyslogMessage message;
      message.hostName = "gw";
      // Bounded: the test stops it long before, unless logrotate hangs.
      for (int n = 1; n <= 500000 && !stop; ++n) {
        message.message = "line " + std::to_string(n);
        if (!files.Save(log, RecordFormat::kTraditional, message, 0)) break;
        written = n;
      }
    });
    const auto waitFor = [&](int lines) {
      for (int i = 0; i < 10000 && written < lines; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    waitFor(200);
    const int rotatedAt = written;
    const std::string command = std::string(kLogrotate) + " -f -s " + home.file("state") + " " + home.file("logrotate.conf");
    const int status = std::system(command.c_str());
    waitFor(written + 200);
    stop = true;
    writer.join();
    ASSERT_EQ(status, 0) << command;

    std::vector<std::string> lines;
    for (const std::string& file : {log + ".1", log}) {
      std::istringstream in(ReadFile(file));
      int inFile = 0;
      for (std::string line; std::getline(in, line); ++inFile) lines.push_back(line);
      EXPECT_GT(inFile, 0) << file;
    }
    ASSERT_EQ(static_cast<int>(lines.size()), written.load()) << "rotated after line " << rotatedAt;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::string ending = " gw line " + std::to_string(i + 1);
      ASSERT_TRUE(lines[i].ends_with(ending)) << lines[i] << " should end in" << ending;
    }
  }
}

}  // namespace
}  // namespace qv
