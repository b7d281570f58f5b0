#include "platform/files/owned_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>

#include "platform/paths/data_root.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUser = 65534;  // nobody

void MakeFile(const std::string& path, const std::string& text = "") { std::ofstream(path) << text; }

TEST(OwnedFileTest, OnlyARegularFileOfThisUserWithOneLinkIsUsedAndNothingBlocks) {
  qv::testing::TempHome home;
  const std::string path = home.file("planted.txt");
  struct Case {
    const char* name;
    std::function<bool()> plant;  // false: the case cannot be set up here
    OwnedFileAccess access;
    const char* refusal;  // nullptr: opened
  };
  const Case cases[] = {
      {"own file", [&] { MakeFile(path, "x"); return true; }, OwnedFileAccess::kAppend, nullptr},
      {"own file read", [&] { MakeFile(path, "x"); return true; }, OwnedFileAccess::kRead, nullptr},
      {"absent, read", [] { return true; }, OwnedFileAccess::kRead, "No such file or directory"},
      {"FIFO, append", [&] { return mkfifo(path.c_str(), 0666) == 0; }, OwnedFileAccess::kAppend, "is a FIFO"},
      {"FIFO, read", [&] { return mkfifo(path.c_str(), 0666) == 0; }, OwnedFileAccess::kRead, "is a FIFO"},
      {"symbolic link", [&] { MakeFile(home.file("target")); fs::create_symlink(home.file("target"), path); return true; },
       OwnedFileAccess::kAppend, "is a symbolic link"},
      {"hard link", [&] { MakeFile(home.file("target")); fs::create_hard_link(home.file("target"), path); return true; },
       OwnedFileAccess::kAppend, "has 2 links"},
      {"folder", [&] { return fs::create_directory(path); }, OwnedFileAccess::kRead, "is a folder"},
      {"another user's file open to all",
       [&] { MakeFile(path); return chmod(path.c_str(), 0666) == 0 && chown(path.c_str(), kOtherUser, kOtherUser) == 0; },
       OwnedFileAccess::kAppend, "belongs to user 65534"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(path);
    fs::remove(home.file("target"));
    if (!c.plant()) {
      std::cout << "skipped " << c.name << ": it cannot be set up without root\n";
      continue;
    }
    const OwnedFile opened = OpenOwnedFile(path, c.access);
    if (c.refusal == nullptr) {
      EXPECT_GE(opened.fd, 0) << opened.refusal;
      EXPECT_EQ(opened.refusal, "");
    } else {
      EXPECT_LT(opened.fd, 0);
      EXPECT_EQ(opened.refusal, c.refusal);
      EXPECT_NE(opened.error, 0);
    }
    if (opened) close(opened.fd);
    if (fs::exists(home.file("target"))) {
      EXPECT_EQ(fs::file_size(home.file("target")), 0u);  // nothing went through a link
    }
  }
}

TEST(OwnedFileTest, AnAbsentFileIsCreatedNotOpenToOthers) {
  qv::testing::TempHome home;
  UseSharedUmask();
  for (const mode_t rootMode : {0700u, 02770u}) {
    ASSERT_EQ(chmod(home.path().c_str(), rootMode), 0);
    const std::string path = home.file(std::to_string(rootMode));
    const OwnedFile opened = OpenOwnedFile(path, OwnedFileAccess::kAppend);
    ASSERT_TRUE(opened) << opened.refusal;
    close(opened.fd);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, rootMode == 0700u ? 0640u : 0660u);
  }
}

}  // namespace
}  // namespace qv
