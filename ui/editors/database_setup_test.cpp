#include "ui/editors/database_setup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "core/settings/settings_store.h"
#include "rules/database/database_connection.h"
#include "testing/postgres_server.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

bool Listed(const std::vector<OdbcEntry>& entries, const std::string& name) {
  return std::any_of(entries.begin(), entries.end(), [&](const OdbcEntry& e) { return e.name == name; });
}

TEST(DatabaseSetupTest, ConnectStringsAreCompletedAttributeByAttribute) {
  EXPECT_EQ(DriverConnectString("SQLite3"), "Driver=SQLite3;");
  EXPECT_EQ(DriverConnectString("odd;name"), "Driver={odd;name};");
  EXPECT_EQ(DataSourceConnectString("syslog"), "DSN=syslog;");
  EXPECT_EQ(WithConnectAttribute("Driver=SQLite3;", "Database", "/srv/a b.db"), "Driver=SQLite3;Database=/srv/a b.db;");
  EXPECT_EQ(WithConnectAttribute("Driver=SQLite3;DATABASE=/old.db;Timeout=5", "Database", "/new.db"),
            "Driver=SQLite3;Database=/new.db;Timeout=5");
  EXPECT_EQ(WithConnectAttribute("DSN=x", "PWD", "se;cret"), "DSN=x;PWD={se;cret};");
  EXPECT_EQ(ConnectAttribute("Driver={PostgreSQL Unicode};PWD={a;b};Port=5432", "pwd"), "a;b");
  EXPECT_EQ(ConnectAttribute("Driver={PostgreSQL Unicode};Port=5432", "Driver"), "PostgreSQL Unicode");
  EXPECT_FALSE(ConnectAttribute("Driver=SQLite3", "Database"));
  EXPECT_TRUE(IsSqliteDriver("SQLite3"));
  EXPECT_FALSE(IsSqliteDriver("PostgreSQL Unicode"));
}

TEST(DatabaseSetupTest, OnlyAConnectionThatOpensIsStoredAsGivenAndOpensAgain) {
  qv::testing::TempHome home;
  const std::vector<OdbcEntry> drivers = ListOdbcDrivers();
  if (!Listed(drivers, "SQLite3")) GTEST_SKIP() << "the SQLite ODBC driver is not registered";
  for (const OdbcEntry& driver : drivers) {
    if (driver.name == "SQLite3") {
      EXPECT_EQ(driver.description, "SQLite3 ODBC Driver");  // from odbcinst.ini
    }
  }

  // A user data source of the test's own, read by unixODBC from $ODBCINI.
  const std::string odbcIni = home.file("odbc.ini");
  std::ofstream(odbcIni) << "[quorvel_test]\nDriver=SQLite3\nDatabase=" << home.file("dsn.db") << "\n";
  setenv("ODBCINI", odbcIni.c_str(), 1);
  EXPECT_TRUE(Listed(ListOdbcDataSources(), "quorvel_test"));

  AppSettings().SetString("Settings", "db", "Driver=SQLite3;Database=/previous.db");
  const DatabaseSetupResult failed = StoreDatabaseSetting("Driver=NoSuchDriver;Database=/x");
  EXPECT_FALSE(failed.stored);
  EXPECT_NE(failed.error.find("NoSuchDriver"), std::string::npos) << failed.error;
  EXPECT_NE(failed.error.find("(-1)"), std::string::npos) << failed.error;
  EXPECT_EQ(AppSettings().GetString("Settings", "db"), "Driver=SQLite3;Database=/previous.db");

  const std::string file = home.file("messages.db");
  EXPECT_TRUE(TestDatabaseConnection(WithConnectAttribute(DriverConnectString("SQLite3"), "Database", file)).stored);
  EXPECT_EQ(AppSettings().GetString("Settings", "db"), "Driver=SQLite3;Database=/previous.db");
  // Stored as given, never as the driver's completed string (SQLite's names no driver), so
  // that the rules can open it again.
  for (const std::string& given : {"ODBC;Driver=SQLite3;Database=" + file, DataSourceConnectString("quorvel_test")}) {
    const DatabaseSetupResult stored = StoreDatabaseSetting(given);
    ASSERT_TRUE(stored.stored) << stored.error;
    EXPECT_EQ(AppSettings().GetString("Settings", "db"), given);
    CDatabaseConnection again;
    EXPECT_TRUE(again.Open(AppSettings().GetString("Settings", "db"))) << again.ErrorReport();
  }
  // A string that the caller has just opened is stored without connecting again.
  EXPECT_TRUE(StoreDatabaseSetting("Driver=NoSuchDriver;", true).stored);
  EXPECT_EQ(AppSettings().GetString("Settings", "db"), "Driver=NoSuchDriver;");
  unsetenv("ODBCINI");
}

TEST(DatabaseSetupTest, PostgresqlServerStartedByTheTest) {
  qv::testing::TempHome home;
  qv::testing::PostgresServer server(home.path());
  if (!server.available()) GTEST_SKIP() << "the PostgreSQL server binaries are not installed";
  if (!qv::testing::PostgresServer::DriverRegistered()) GTEST_SKIP() << "the PostgreSQL ODBC driver is not registered";
  ASSERT_TRUE(server.Start());
  const DatabaseSetupResult wrong = StoreDatabaseSetting(WithConnectAttribute(server.ConnectString(), "Database", "missing"));
  EXPECT_FALSE(wrong.stored);
  EXPECT_NE(wrong.error.find("missing"), std::string::npos) << wrong.error;
  EXPECT_EQ(AppSettings().GetString("Settings", "db", "unset"), "unset");

  const DatabaseSetupResult stored = StoreDatabaseSetting(server.ConnectString());
  ASSERT_TRUE(stored.stored) << stored.error;
  EXPECT_EQ(AppSettings().GetString("Settings", "db"), server.ConnectString());
}

}  // namespace
}  // namespace qv
