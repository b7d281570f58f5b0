// Units are written into a folder of the test's own; no test touches the real systemd.

#include "platform/services/systemd_unit.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/services/service_manager.h"
#include "platform/services/service_state.h"
#include "testing/temp_home.h"

namespace qv::svc {
namespace {

class SystemdUnitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    units_ = home_.path() / "units";
    std::filesystem::create_directories(units_);
    setenv("QUORVEL_SYSTEMD_UNIT_DIR", units_.c_str(), 1);
    ASSERT_EQ(manager_.Open(), kSuccess);
  }
  void TearDown() override {
    unsetenv("QUORVEL_SYSTEMD_UNIT_DIR");
    unsetenv("QUORVEL_SYSTEMD_PACKAGE_UNIT_DIR");
  }

  ServiceConfig Config(const std::string& image) const {
    ServiceConfig config;
    config.name = "Quorvel";
    config.displayName = "Quorvel Syslog";
    config.imagePath = image;
    config.startType = kAutoStart;
    return config;
  }

  testing::TempHome home_;
  std::filesystem::path units_;
  ServiceManager manager_;
};

TEST_F(SystemdUnitTest, AddingWritesAnEnabledUnitAndDeletingRemovesIt) {
  ServiceHandle service;
  ASSERT_EQ(manager_.CreateService(Config("/opt/my tools/dun%mir$1"), &service), kSuccess);
  const auto unit = units_ / "quorvel.service";
  const auto wants = units_ / "multi-user.target.wants" / "quorvel.service";
  std::stringstream text;
  text << std::ifstream(unit).rdbuf();
  EXPECT_NE(text.str().find("\nDescription=Quorvel Syslog\n"), std::string::npos);
  EXPECT_NE(text.str().find("\nExecStart=\"/opt/my tools/dun%%mir$$1\"\n"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("\nEnvironment=\"QUORVEL_HOME=" + home_.path().string() + "\"\n"), std::string::npos);
  EXPECT_NE(text.str().find("\nEnvironment=\"QUORVEL_SERVICE_START=Quorvel:systemd\"\n"), std::string::npos);
  EXPECT_NE(text.str().find("\nWantedBy=multi-user.target\n"), std::string::npos);
  ASSERT_TRUE(std::filesystem::is_symlink(wants));
  EXPECT_EQ(std::filesystem::read_symlink(wants), unit);

  ASSERT_EQ(service.ChangeStartType(kDemandStart), kSuccess);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(wants)));
  EXPECT_TRUE(std::filesystem::exists(unit));
  ASSERT_EQ(service.ChangeStartType(kAutoStart), kSuccess);
  EXPECT_TRUE(std::filesystem::is_symlink(wants));

  ASSERT_EQ(service.Delete(), kSuccess);
  EXPECT_FALSE(std::filesystem::exists(unit));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(wants)));
}

TEST_F(SystemdUnitTest, AServiceWhoseUnitCannotBeWrittenIsNotCreated) {
  ServiceHandle service;
  EXPECT_EQ(manager_.CreateService(Config("/opt/dun\nmir"), &service), kStoreFailed);
  EXPECT_EQ(manager_.OpenService("Quorvel", &service), kServiceDoesNotExist);

  std::filesystem::remove_all(units_);
  std::ofstream(units_.string()) << "a file where the folder should be";
  EXPECT_EQ(manager_.CreateService(Config("/opt/dunmir"), &service), kStoreFailed);
  EXPECT_EQ(manager_.OpenService("Quorvel", &service), kServiceDoesNotExist);
}

TEST_F(SystemdUnitTest, AServiceWithThePackagesUnitOnlyLinksToIt) {
  const auto packaged = home_.path() / "package-units";
  std::filesystem::create_directories(packaged);
  std::ofstream(packaged / "quorvel.service") << "[Service]\nExecStart=/usr/bin/dunmir\n";
  setenv("QUORVEL_SYSTEMD_PACKAGE_UNIT_DIR", packaged.c_str(), 1);
  const auto wants = units_ / "multi-user.target.wants" / "quorvel.service";

  ServiceHandle service;
  ASSERT_EQ(manager_.CreateService(Config("/usr/bin/dunmir"), &service), kSuccess);
  EXPECT_FALSE(std::filesystem::exists(units_ / "quorvel.service"));
  ASSERT_TRUE(std::filesystem::is_symlink(wants));
  EXPECT_EQ(std::filesystem::read_symlink(wants), packaged / "quorvel.service");
  ASSERT_EQ(service.ChangeStartType(kDemandStart), kSuccess);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(wants)));
  ASSERT_EQ(service.ChangeStartType(kAutoStart), kSuccess);
  EXPECT_TRUE(std::filesystem::is_symlink(wants));

  // An override of the administrator's beside it outlives the service.
  std::ofstream(units_ / "quorvel.service") << "[Service]\nExecStart=/usr/bin/dunmir\n";
  ASSERT_EQ(service.Delete(), kSuccess);
  unsetenv("QUORVEL_SYSTEMD_PACKAGE_UNIT_DIR");
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(wants)));
  EXPECT_TRUE(std::filesystem::exists(units_ / "quorvel.service"));
  EXPECT_TRUE(std::filesystem::exists(packaged / "quorvel.service"));
}

// The package's unit is written by hand: it must carry the name and the start mark that the
// service manager and the dispatcher look for.
TEST(PackagedUnitTest, NamesTheServiceAndMarksItsStartAsTheManagerExpects) {
  const std::filesystem::path unit = QV_PACKAGED_UNIT;
  EXPECT_EQ(unit.filename().string(), SystemdUnitName("Quorvel"));
  std::ifstream in(unit);
  ASSERT_TRUE(in) << unit;
  bool marked = false;
  for (std::string line; std::getline(in, line);) {
    marked = marked || line == std::string("Environment=") + kStartMarkVariable + "=Quorvel:" + kSystemdStartToken;
  }
  EXPECT_TRUE(marked) << unit << " lacks the start mark";
}

TEST(SystemdUnitFolderTest, NoUnitsWithoutSystemd) {
  struct stat info {};
  if (stat("/run/systemd/system", &info) == 0) GTEST_SKIP() << "this host runs systemd";
  unsetenv("QUORVEL_SYSTEMD_UNIT_DIR");
  EXPECT_FALSE(SystemdUnitFolder().has_value());
  ServiceConfig config;
  config.name = "Quorvel";
  config.imagePath = "/opt/dunmir";
  EXPECT_TRUE(InstallSystemdUnit(config));
}

}  // namespace
}  // namespace qv::svc
