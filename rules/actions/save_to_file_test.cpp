#include "rules/actions/save_to_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

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
  EXPECT_TRUE(SaveToFile(format, first, day1));
  EXPECT_TRUE(SaveToFile(format, second, day1 + 60));
  EXPECT_TRUE(SaveToFile(format, second, day1 + 86400));
  EXPECT_EQ(ReadFile(home.file("20261005.txt")), "kept\r\n" + first.FormatRecordLine() + second.FormatRecordLine());
  EXPECT_EQ(ReadFile(home.file("20261006.txt")), second.FormatRecordLine());

  EXPECT_FALSE(SaveToFile(home.file("no-such-folder/%Y.txt"), first, day1));
  EXPECT_FALSE(SaveToFile("", first, day1));
  EXPECT_FALSE(SaveToFile(home.path().string(), first, day1));  // a folder

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
  const std::pair<const char*, const char*> planted[] = {
      {"link.txt", "is a symbolic link"}, {"hard.txt", "has 2 links"}, {"fifo.txt", "is a FIFO"}};
  for (const auto& [name, reason] : planted) {
    std::string failure;
    EXPECT_FALSE(SaveToFile(home.file(name), message, 0, &failure));
    EXPECT_EQ(failure, "Save to file: cannot write " + home.file(name) + ": " + reason);
  }
  EXPECT_EQ(ReadFile(home.file("target.txt")), "");

  ASSERT_TRUE(SaveToFile(home.file("private.txt"), message, 0));
  EXPECT_EQ(std::filesystem::status(home.file("private.txt")).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write | std::filesystem::perms::group_read);
  std::filesystem::permissions(home.path(), std::filesystem::perms::set_gid | std::filesystem::perms::group_all,
                               std::filesystem::perm_options::add);  // shared with the group
  ASSERT_TRUE(SaveToFile(home.file("shared.txt"), message, 0));
  EXPECT_EQ(std::filesystem::status(home.file("shared.txt")).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write | std::filesystem::perms::group_read |
                std::filesystem::perms::group_write);
}

}  // namespace
}  // namespace qv
