#include "platform/paths/data_root.h"

#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

TEST(DataRootTest, AFolderOfRootThatThisUserMayNotUseIsRefusedWithTheReason) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to check as another user";
  const fs::path root = fs::temp_directory_path() / ("qv_closed_" + std::to_string(getpid()));
  fs::create_directories(root);
  setenv("QUORVEL_HOME", root.c_str(), 1);
  struct Case {
    mode_t mode;
    gid_t group;  // the user nobody's own group 65534 is a member's
    bool usable;
  };
  for (const Case c : {Case{0700, 0, false}, Case{02770, 0, false}, Case{02770, 65534, true}}) {
    ASSERT_EQ(chown(root.c_str(), 0, c.group), 0);
    ASSERT_EQ(chmod(root.c_str(), c.mode), 0);
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t child = fork();
    if (child == 0) {
      const std::string problem = setgroups(0, nullptr) == 0 && setresgid(65534, 65534, 65534) == 0 &&
                                          setresuid(65534, 65534, 65534) == 0
                                      ? qv::CheckDataRoot()
                                      : "cannot become nobody";
      (void)!write(report[1], problem.data(), problem.size());
      _exit(0);
    }
    close(report[1]);
    std::string problem;
    char chunk[256];
    for (ssize_t n; (n = read(report[0], chunk, sizeof chunk)) > 0;) problem.append(chunk, static_cast<size_t>(n));
    close(report[0]);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(problem, c.usable ? "" : root.string() + " cannot be used by this user: Permission denied") << c.mode;
  }
  fs::remove_all(root);
}
