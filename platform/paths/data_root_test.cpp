#include "platform/paths/data_root.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

TEST(DataRootTest, FollowsQuorvelHomeAndCreatesItPrivate) {
  const fs::path base = fs::temp_directory_path() / ("qv_root_" + std::to_string(getpid()));
  fs::remove_all(base);
  const fs::path root = base / "deeper" / "home";
  setenv("QUORVEL_HOME", (root.string() + "/").c_str(), 1);

  EXPECT_EQ(qv::DataRoot(), root.string());
  EXPECT_EQ(qv::DataPath("registry.db"), (root / "registry.db").string());
  ASSERT_TRUE(qv::EnsureDataRoot());
  struct stat info {};
  ASSERT_EQ(stat(root.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_TRUE(qv::EnsureDataRoot());  // a second call finds it present

  fs::remove_all(base);
}

TEST(DataRootTest, DefaultsToVarLibWhenUnsetOrEmpty) {
  setenv("QUORVEL_HOME", "", 1);
  EXPECT_EQ(qv::DataRoot(), "/var/lib/quorvel");
  unsetenv("QUORVEL_HOME");
  EXPECT_EQ(qv::DataRoot(), "/var/lib/quorvel");
}

TEST(DataRootTest, ReportsARootThatCannotBeCreated) {
  const fs::path file = fs::temp_directory_path() / ("qv_plain_" + std::to_string(getpid()));
  { std::FILE* f = std::fopen(file.c_str(), "w"); std::fclose(f); }
  setenv("QUORVEL_HOME", (file / "home").c_str(), 1);  // below a plain file
  EXPECT_FALSE(qv::EnsureDataRoot());
  fs::remove(file);
}
