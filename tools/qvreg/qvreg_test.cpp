// qvreg against the settings store, each in its own process.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/settings/settings_store.h"
#include "testing/temp_home.h"

namespace {

struct Result {
  int exitCode;
  std::string output;
};

Result Qvreg(const std::string& arguments) {
  const std::string command = std::string(QVREG_PATH) + " " + arguments + " 2>/dev/null";
  std::FILE* pipe = popen(command.c_str(), "r");
  std::string output;
  std::array<char, 256> buffer{};
  while (pipe != nullptr && std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) output += buffer.data();
  const int status = pipe != nullptr ? pclose(pipe) : -1;
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

const char* kSettings = "'Software\\Fendrake\\Quorvel\\Settings'";

TEST(QvregTest, ValuesWrittenByOneProcessAreReadByTheOther) {
  qv::testing::TempHome home;
  const qv::CSettingsStore store;

  EXPECT_EQ(Qvreg(std::string("set ") + kSettings + " udpport dword 1514").exitCode, 0);
  EXPECT_EQ(store.GetInt("Settings", "udpport", 514), 1514);
  EXPECT_EQ(Qvreg(std::string("set 'HKLM\\Software\\Fendrake\\Quorvel\\Settings' UDPPORT dword 1515")).exitCode, 0);
  EXPECT_EQ(store.GetInt("settings", "udpport", 514), 1515);

  store.SetString("Settings", "histpath", "/srv/a b");
  store.SetInt("Settings", "recvwidth", -2);
  EXPECT_EQ(Qvreg(std::string("get ") + kSettings + " histpath").output, "/srv/a b\n");
  EXPECT_EQ(Qvreg(std::string("get 'HKEY_LOCAL_MACHINE\\SOFTWARE\\fendrake\\quorvel\\settings' RecvWidth")).output,
            "-2\n");
  EXPECT_EQ(Qvreg(std::string("set ") + kSettings + " mailtext sz 'Alarm: $msg'").exitCode, 0);
  EXPECT_EQ(store.GetString("Settings", "mailtext"), "Alarm: $msg");
}

TEST(QvregTest, ADataRootOpenToOthersIsRefused) {
  qv::testing::TempHome home;
  chmod(home.path().c_str(), 0705);
  EXPECT_EQ(Qvreg(std::string("set ") + kSettings + " udpport dword 1514").exitCode, 3);
  chmod(home.path().c_str(), 0700);
  EXPECT_EQ(Qvreg(std::string("set ") + kSettings + " udpport dword 1514").exitCode, 0);
}

TEST(QvregTest, AbsentValuesExitOneAndBadCommandsAreRefused) {
  qv::testing::TempHome home;
  EXPECT_EQ(Qvreg(std::string("get ") + kSettings + " udpport").exitCode, 1);
  qv::AppSettings().SetInt("Settings", "udpport", 1);
  EXPECT_EQ(Qvreg(std::string("get ") + kSettings + " nothing").exitCode, 1);
  EXPECT_EQ(Qvreg(std::string("set ") + kSettings + " udpport dword 99999999999").exitCode, 2);
  EXPECT_EQ(Qvreg(std::string("set ") + kSettings + " udpport qword 1").exitCode, 2);
  EXPECT_EQ(Qvreg("frobnicate").exitCode, 2);
  EXPECT_EQ(qv::AppSettings().GetInt("Settings", "udpport", 514), 1);
}

TEST(QvregTest, DeleteRemovesAValueOrAKeyWithEverythingBelowAndListShowsTheTree) {
  qv::testing::TempHome home;
  const qv::CSettingsStore store;
  store.SetString("Rules\\rule0", "Name", "r0");
  store.SetString("Rules\\rule1", "Name", "r1");
  store.SetInt("Rules\\rule1", "Enabled", 1);
  store.SetInt("Settings", "rulescount", 2);

  EXPECT_EQ(Qvreg("list 'Software\\Fendrake\\Quorvel'").output, "Rules\\\nSettings\\\n");
  EXPECT_EQ(Qvreg("list 'Software\\Fendrake\\Quorvel\\Rules\\rule1'").output,
            "Enabled\tREG_DWORD\t1\nName\tREG_SZ\tr1\n");

  EXPECT_EQ(Qvreg("delete 'Software\\Fendrake\\Quorvel\\Rules\\rule1' name").exitCode, 0);
  EXPECT_EQ(store.GetString("Rules\\rule1", "Name", "gone"), "gone");
  EXPECT_EQ(store.GetInt("Rules\\rule1", "Enabled", 0), 1);

  EXPECT_EQ(Qvreg("delete 'Software\\Fendrake\\Quorvel\\RULES'").exitCode, 0);
  EXPECT_EQ(Qvreg("delete 'Software\\Fendrake\\Quorvel\\Rules'").exitCode, 1);
  EXPECT_EQ(Qvreg("list 'Software\\Fendrake\\Quorvel'").output, "Settings\\\n");
  EXPECT_EQ(store.GetString("Rules\\rule0", "Name", "gone"), "gone");
  EXPECT_EQ(store.GetInt("Settings", "rulescount", 0), 2);
}

TEST(QvregTest, ExportAndImportCarryTheSettingsFileBetweenDataRoots) {
  std::string file;
  {
    qv::testing::TempHome source;
    const qv::CSettingsStore store;
    store.SetString("Rules\\rule0", "Name", "Disk");
    store.SetInt("Rules\\rule0", "Action", 3);
    store.SetInt("Settings", "rulescount", 1);
    file = "/tmp/qvreg_test_settings_" + std::to_string(getpid()) + ".txt";
    EXPECT_EQ(Qvreg("export " + file).exitCode, 0);
    EXPECT_EQ(Qvreg("export /nonexistent/folder/settings.txt").exitCode, 3);
  }
  qv::testing::TempHome target;
  const Result imported = Qvreg("import " + file);
  std::remove(file.c_str());
  EXPECT_EQ(imported.exitCode, 0);
  // The rule's three empty texts make lines without a value, which import skips.
  EXPECT_NE(imported.output.find("14 lines applied, 3 ignored"), std::string::npos) << imported.output;
  const qv::CSettingsStore store;
  EXPECT_EQ(store.GetString("Rules\\rule0", "Name"), "Disk");
  EXPECT_EQ(store.GetInt("Rules\\rule0", "Action", 6), 3);
  EXPECT_EQ(store.GetInt("Settings", "rulescount", 0), 1);
  EXPECT_EQ(Qvreg("import " + file).exitCode, 3);
}

TEST(QvregTest, ViewerCertPrintsTheFileItWroteAndRefusesBadOrTakenNames) {
  qv::testing::TempHome home;
  const Result made = Qvreg("viewer-cert desk1");
  EXPECT_EQ(made.exitCode, 0);
  EXPECT_EQ(made.output, home.file("viewers/desk1.pem") + "\n");
  struct stat info {};
  EXPECT_EQ(stat(home.file("viewers/desk1.pem").c_str(), &info), 0);
  EXPECT_EQ(stat(home.file("viewer-ca.key").c_str(), &info), 0);
  const struct {
    const char* arguments;
    int exitCode;
  } refused[] = {{"viewer-cert desk1", 3}, {"viewer-cert ../desk", 3}, {"viewer-cert", 2}};
  for (const auto& c : refused) {
    const Result result = Qvreg(c.arguments);
    EXPECT_EQ(result.exitCode, c.exitCode) << c.arguments;
    EXPECT_EQ(result.output, "") << c.arguments;
  }
}

}  // namespace
