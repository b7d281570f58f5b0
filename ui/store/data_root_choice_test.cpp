#include "ui/store/data_root_choice.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "platform/paths/data_root.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

TEST(DataRootChoiceTest, AnUnusableDataRootIsExplainedAndTheOwnOneOfferedRememberedAndLeftWhenFixed) {
  testing::TempHome user;  // the user's own folders
  testing::TempHome shared;  // QUORVEL_HOME from here on
  setenv("XDG_DATA_HOME", user.file("data").c_str(), 1);
  const std::string own = user.file("data") + "/quorvel";
  const CDataRootChoice choice(QString::fromStdString(user.file("config/viewer.ini")));
  int asked = 0;
  std::string question;
  bool answer = false;
  const auto ask = [&](const std::string& text) {
    ++asked;
    question = text;
    return answer;
  };
  std::string problem;
  const std::string root = shared.path().string();
  const auto useShared = [&] { setenv("QUORVEL_HOME", root.c_str(), 1); };

  EXPECT_EQ(choice.Resolve(ask, &problem), CDataRootChoice::Outcome::kUsable);
  EXPECT_EQ(asked, 0);

  // A root this user may not use (here one open to others, which root too is refused).
  ASSERT_EQ(chmod(root.c_str(), 0777), 0);
  EXPECT_EQ(choice.Resolve(ask, &problem), CDataRootChoice::Outcome::kDeclined);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(DataRoot(), root);
  for (const std::string& part : {problem, std::string("group quorvel"), std::string("QUORVEL_HOME"), own}) {
    EXPECT_NE(question.find(part), std::string::npos) << part;
  }

  answer = true;
  EXPECT_EQ(choice.Resolve(ask, &problem), CDataRootChoice::Outcome::kOwnRoot);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(DataRoot(), own);
  struct stat made {};
  ASSERT_EQ(stat(own.c_str(), &made), 0);
  EXPECT_EQ(made.st_mode & 0777, 0700u);

  // The next start goes to the own root without asking, until the shared one can be used.
  useShared();
  EXPECT_EQ(choice.Resolve(ask, &problem), CDataRootChoice::Outcome::kOwnRoot);
  EXPECT_EQ(asked, 2);
  useShared();
  ASSERT_EQ(chmod(root.c_str(), 0700), 0);
  EXPECT_EQ(choice.Resolve(ask, &problem), CDataRootChoice::Outcome::kUsable);
  EXPECT_EQ(DataRoot(), root);
  unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace qv
