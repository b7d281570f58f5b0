#pragma once
// Choosing the database connection of the "Save to Database" action ("db") without a driver
// manager dialog: the installed ODBC drivers and configured data sources are listed from
// unixODBC, the user completes a connection string, and only a connection that opens is stored,
// as the user gave it (with its Driver= or DSN=). The complete string a driver returns is not
// stored: SQLite's, for one, names no driver ("DSN=;Database=...") and cannot connect again. A
// failure leaves "db" as it was and carries the driver's own reason so the dialog can show it.
//
// Connecting may block for as long as the driver waits for its server (at most 30 seconds where
// the driver honours a login timeout). Not thread-safe.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// A driver from odbcinst.ini, or a data source from odbc.ini (with the driver it names).
struct OdbcEntry {
  std::string name;
  std::string description;
};
std::vector<OdbcEntry> ListOdbcDrivers();
std::vector<OdbcEntry> ListOdbcDataSources();

// The start of a connection string for a chosen driver or data source ("Driver=name;" or
// "DSN=name;"); names holding ';' or braces are put in braces.
std::string DriverConnectString(std::string_view driver);
std::string DataSourceConnectString(std::string_view dataSource);

// The value of an attribute of a connection string ("Database" of "Driver=x;Database=/a.db"),
// keys compared without regard to case; nothing when absent.
std::optional<std::string> ConnectAttribute(std::string_view connect, std::string_view key);
// The connection string with the attribute set: replaced where present, appended otherwise.
std::string WithConnectAttribute(std::string_view connect, std::string_view key, std::string_view value);

// Whether the driver named in a connection string (or a driver name) is SQLite's, whose only
// attribute is a database file.
bool IsSqliteDriver(std::string_view driverName);

struct DatabaseSetupResult {
  bool stored = false;  // for a test: the connection opened
  std::string error;    // the driver's reason and return code, when not
};

// Opens a connection with `connect`; when it opens, closes it again and writes `connect` to
// "db". "db" is untouched otherwise. With `opened` the caller has just opened a connection with
// this very string (a Test), and it is written without connecting again.
DatabaseSetupResult StoreDatabaseSetting(const std::string& connect, bool opened = false);
// The same test without storing anything.
DatabaseSetupResult TestDatabaseConnection(const std::string& connect);

}  // namespace qv
