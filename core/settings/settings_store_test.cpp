#include "core/settings/settings_store.h"

#include <gtest/gtest.h>

#include "core/settings/reg.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  qv::testing::TempHome home_;
  CSettingsStore store_;
};

TEST_F(SettingsStoreTest, AnEmptyTreeReadsEveryDefaultAndWritesNone) {
  EXPECT_EQ(store_.GetInt("Settings", "udpport", 514), 514);
  EXPECT_EQ(store_.GetInt("Settings", "maxsize", 100000), 100000);
  EXPECT_EQ(store_.GetString("settings", "histpath"), "");
  EXPECT_EQ(store_.GetString("Settings", "mailserver", "smtp.example"), "smtp.example");
  CReg settings(store_.ApplicationKeyPath() + "\\Settings");
  std::string name;
  EXPECT_EQ(reg::EnumValue(settings.Handle(), 0, &name, nullptr, nullptr), reg::kNoMoreItems);
}

TEST_F(SettingsStoreTest, ValuesRoundTripAndSectionNamesIgnoreCase) {
  EXPECT_TRUE(store_.SetInt("Settings", "udpport", 1514));
  EXPECT_TRUE(store_.SetInt("Settings", "pingtimeout", -2));
  EXPECT_TRUE(store_.SetString("Settings", "histpath", "/srv/history"));
  EXPECT_EQ(store_.GetInt("SETTINGS", "UdpPort", 514), 1514);
  EXPECT_EQ(store_.GetInt("Settings", "pingtimeout", 5000), -2);
  EXPECT_EQ(store_.GetString("settings", "histpath"), "/srv/history");
  EXPECT_EQ(store_.GetString("Rules\\rule0", "Name", "none"), "none");
  EXPECT_TRUE(store_.SetString("Rules\\rule0", "Name", "Router alarms"));
  EXPECT_EQ(store_.GetString("rules\\RULE0", "name"), "Router alarms");
}

TEST_F(SettingsStoreTest, ATextReadAsANumberTakesItsFirstFourBytes) {
  store_.SetString("Settings", "odd", "AB");  // 'A' 'B' and the terminating zeros
  EXPECT_EQ(store_.GetInt("Settings", "odd", 7), 'A' | ('B' << 8));
}

TEST_F(SettingsStoreTest, NullTextDeletesAValueAndNullNameDeletesTheSection) {
  store_.SetString("Rules\\rule0", "Name", "r0");
  store_.SetInt("Rules\\rule0", "Enabled", 1);
  store_.SetString("Rules\\rule1", "Name", "r1");

  EXPECT_TRUE(store_.SetString("Rules\\rule0", "Name", nullptr));
  EXPECT_EQ(store_.GetString("Rules\\rule0", "Name", "default"), "default");
  EXPECT_EQ(store_.GetInt("Rules\\rule0", "Enabled", 0), 1);
  EXPECT_FALSE(store_.SetString("Rules\\rule0", "Name", nullptr));  // already gone

  EXPECT_TRUE(store_.SetString("Rules", nullptr, nullptr));
  EXPECT_EQ(store_.GetInt("Rules\\rule0", "Enabled", 0), 0);
  EXPECT_EQ(store_.GetString("Rules\\rule1", "Name"), "");
}

TEST(SettingsStoreFailureTest, AnUnopenableStoreGivesDefaultsAndRefusesWrites) {
  qv::testing::TempHome home;
  const std::string plainFile = home.file("not-a-folder");
  { std::FILE* f = std::fopen(plainFile.c_str(), "w"); std::fclose(f); }
  setenv("QUORVEL_HOME", (plainFile + "/home").c_str(), 1);
  CSettingsStore store;
  EXPECT_FALSE(store.SetInt("Settings", "udpport", 1514));
  EXPECT_FALSE(store.SetString("Settings", "histpath", "/x"));
  EXPECT_EQ(store.GetInt("Settings", "udpport", 514), 514);
  EXPECT_EQ(store.GetString("Settings", "histpath", "dflt"), "dflt");

  CReg reg("SYSTEM\\CurrentControlSet\\Services\\Quorvel");
  EXPECT_FALSE(reg.IsOpen());
  EXPECT_NE(reg.SetDWORD("Start", 2), reg::kSuccess);
  EXPECT_EQ(reg.SubKeyCount(), 0u);
  EXPECT_FALSE(reg.EnumKey(0).has_value());
}

TEST_F(SettingsStoreTest, CRegCreatesItsKeyAndEnumeratesSubKeys) {
  {
    CReg application("SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application");
    ASSERT_TRUE(application.IsOpen());
    EXPECT_EQ(application.SetString("File", "Application.evt"), reg::kSuccess);
  }
  CReg("SYSTEM\\CurrentControlSet\\Services\\Eventlog\\System");
  CReg logs("SYSTEM\\CurrentControlSet\\Services\\Eventlog\\", reg::LocalMachine(), true);
  ASSERT_TRUE(logs.IsOpen());
  EXPECT_EQ(logs.SubKeyCount(), 2u);
  EXPECT_EQ(logs.EnumKey(0).value_or(""), "Application");
  EXPECT_EQ(logs.EnumKey(1).value_or(""), "System");
  EXPECT_FALSE(logs.EnumKey(2).has_value());
  EXPECT_EQ(logs.SetDWORD("x", 1), reg::kAccessDenied);
}

}  // namespace
}  // namespace qv
