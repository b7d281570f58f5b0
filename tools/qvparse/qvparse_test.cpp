// qvparse in its own process, against the settings of a temporary data root.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "core/settings/settings_store.h"
#include "testing/temp_home.h"

namespace {

std::string Qvparse(const std::string& arguments) {
  const std::string command = std::string(QVPARSE_PATH) + " " + arguments + " 2>/dev/null";
  std::FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  std::array<char, 256> buffer{};
  while (pipe != nullptr && std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) output += buffer.data();
  if (pipe != nullptr) pclose(pipe);
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

}  // namespace
