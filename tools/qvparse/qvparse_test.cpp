// qvparse in its own process, against the settings of a temporary data root.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <string>

#include <sys/wait.h>

#include "core/settings/settings_store.h"
#include "testing/temp_home.h"

namespace {

// Standard output of qvparse; `status` receives its exit code.
std::string Qvparse(const std::string& arguments, int* status = nullptr) {
  const std::string command = std::string(QVPARSE_PATH) + " " + arguments + " 2>/dev/null";
  std::FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  std::array<char, 256> buffer{};
  while (pipe != nullptr && std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) output += buffer.data();
  const int result = pipe != nullptr ? pclose(pipe) : -1;
  if (status != nullptr) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  return output;
}

TEST(QvparseTest, ReadsWithTheStoredHeaderForms) {
  qv::testing::TempHome home;
  const std::string text = "'<13>1 2003-10-11T22:14:15Z host app 1 ID - text'";
  EXPECT_NE(Qvparse(text).find("Record line: 0,1,host,192.0.2.1,514,5,"), std::string::npos) << Qvparse(text);
  ASSERT_TRUE(qv::AppSettings().SetInt("Settings", "rfc5424", 0));
  const std::string classic = Qvparse(text);
  EXPECT_NE(classic.find("\"1 2003-10-11T22:14:15Z host app 1 ID - text\""), std::string::npos) << classic;
}

// Without a datagram it says how to use it; "-" reads a captured log line by line and prints
// one record line each; "--strict" reads as "lenient" 0.
TEST(QvparseTest, UsageBulkReadingAndStrictMode) {
  qv::testing::TempHome home;
  int status = 0;
  EXPECT_EQ(Qvparse("", &status), "");
  EXPECT_EQ(status, 2);
  Qvparse("--strict --from 10.0.0.1", &status);
  EXPECT_EQ(status, 2);

  const std::string log = home.file("device.log");
  std::ofstream(log) << "<14>Aug 30 23:00:05 X4711\n<13>hello, world\n";
  const std::string lines = Qvparse("- < " + log, &status);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2) << lines;
  EXPECT_EQ(lines.find('\r'), std::string::npos) << lines;
  EXPECT_EQ(lines.rfind("0,1,X4711,192.0.2.1,514,6,", 0), 0u) << lines;
  EXPECT_NE(lines.find("\"\"\n0,1,,192.0.2.1,514,5,"), std::string::npos) << lines;
  EXPECT_NE(lines.find(",\"hello, world\"\n"), std::string::npos) << lines;

  const std::string strict = Qvparse("--strict - < " + log, &status);
  EXPECT_EQ(strict.rfind("0,1,,192.0.2.1,514,6,", 0), 0u) << strict;
  EXPECT_NE(strict.find(",0,\"Aug 30 23:00:05 X4711\"\n"), std::string::npos) << strict;
}

}  // namespace
