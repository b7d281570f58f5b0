#pragma once
// The database connection of the "Save to Database" action: one ODBC connection through the
// driver manager (unixODBC), opened with the "db" setting. Statements are prepared once per
// text and executed with their parameters bound as character data, so a value never becomes
// part of a statement's text.
//
// The connect string is the setting with every "ODBC;" removed (a leftover of the form that
// older data-source dialogs produced); the driver manager is told never to prompt. Any ODBC
// driver works; the embedded default is SQLite's, named without a data source:
//   Driver=SQLite3;Database=/var/lib/quorvel/messages.db
// and PostgreSQL's is another, for example:
//   Driver=PostgreSQL Unicode;Servername=db.example;Port=5432;Database=syslog;Username=q;Password=p
//
// Failures keep the driver's text and the ODBC return code, and ErrorReport renders them as the
// local message "Database CDBException error: %s, (%d)". When the driver reports several
// diagnostic records their texts are joined with a space. A statement on a connection that is
// not open fails with the return code of an ODBC call on a missing connection,
// SQL_INVALID_HANDLE (-2), and the text "The database connection is not open".
//
// A statement runs at most the query timeout (SetQueryTimeout): the driver is given the ODBC
// query timeout, and where a driver does not keep it (SQLite's), a watchdog thread cancels the
// statement when the time has passed. A statement stopped either way (or failing once its time
// is up) fails with timedOut set.
//
// Transactions: between BeginTransaction and EndTransaction statements are not committed one
// by one but together, at EndTransaction(true); EndTransaction(false) or a failed commit keeps
// none of them. Outside a transaction each statement commits by itself (the driver's
// autocommit). Closing or opening the connection ends a transaction without keeping it. The
// query timeout applies to each statement of a transaction, not to the commit: ODBC has no way
// to cancel a commit, and a commit waits only for the server's own write.
//
// Not thread-safe: the rules engine that owns the connection uses it from one thread (the
// watchdog only cancels). Opening waits at most 30 seconds for the server where the driver
// honours a login timeout.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

struct DatabaseError {
  std::string text;
  int code = 0;
  bool timedOut = false;  // the statement ran past the query timeout and was stopped
};

class CDatabaseConnection {
 public:
  CDatabaseConnection();
  ~CDatabaseConnection();  // closes the connection
  CDatabaseConnection(const CDatabaseConnection&) = delete;
  CDatabaseConnection& operator=(const CDatabaseConnection&) = delete;

  // Closes any open connection, then connects with `dbSetting` as described above. False on
  // failure; lastError() then tells why.
  bool Open(std::string_view dbSetting);
  void Close();
  bool IsOpen() const;

  // The longest a statement may run, in seconds; 0 (the start) sets no limit. Kept across
  // Open and Close.
  void SetQueryTimeout(int seconds);

  // Executes `statement` as it is, with `parameters` bound in order to its markers ("?") as
  // character data (each a VARCHAR, or a LONGVARCHAR beyond 4000 bytes). The statement is
  // prepared on its first use and kept prepared, per text (up to 64 texts), until Close or
  // until the query timeout stops it. A result set, if any, is discarded. False on failure,
  // including when the connection is not open; lastError() then tells why.
  bool Execute(std::string_view statement, std::span<const std::string> parameters = {});

  // What ExecuteRows did.
  struct RowsResult {
    std::size_t done = 0;     // rows that ran before the failure; all of them on success
    std::size_t suspect = 0;  // the failure lies in rows [done, done + suspect); 1: that row
  };
  // Executes `statement` once for each of `rows` (each holds the parameters of one execution,
  // bound as Execute binds them; every row has the same count), in order, and stops at the
  // first failure; lastError() then tells why. Where the driver takes arrays of parameter sets,
  // many rows go in one execution (at most kArrayBytes of values at once), which a server
  // driver sends without waiting for each row's answer. A failed array names the rows that
  // succeeded before it fails where the driver says so, and the rows among which the failure
  // lies (PostgreSQL's driver: the hundred rows it sent together); a row run by itself is named
  // exactly. The time limit applies to each execution, array or row. Meant for a transaction:
  // a failure does not undo the rows before it, and the driver may have undone them; the caller
  // rolls back. A driver that takes an array but does not run every row of it is not given
  // arrays again on this connection.
  RowsResult ExecuteRows(std::string_view statement, std::span<const std::vector<std::string>> rows);
  static constexpr std::size_t kArrayBytes = 4 * 1024 * 1024;

  // Starts a transaction (autocommit off). False when the connection is not open or the driver
  // refuses; lastError() then tells why, and statements keep committing one by one.
  bool BeginTransaction();
  // Ends the transaction that BeginTransaction started: commits it when `commit`, otherwise
  // rolls it back, and goes back to autocommit. False when the commit (or the rollback) failed;
  // lastError() then tells why, and nothing of the transaction is kept. Where the driver's idea
  // of the transaction may then be wrong (its rollback fails, or it will not go back to
  // autocommit), the connection is opened afresh with the last Open's setting; if that fails,
  // it is closed.
  bool EndTransaction(bool commit);

  const DatabaseError& lastError() const { return error_; }
  // "Database CDBException error: <text>, (<code>)" for lastError().
  std::string ErrorReport() const;

 private:
  struct Handles;
  Handles* handles_;
  // One array execution of rows[0, count) of ExecuteRows' rows, on the prepared `text`.
  RowsResult ExecuteArray(const std::string& text, std::span<const std::vector<std::string>> rows);

  DatabaseError error_;
  std::string setting_;  // of the last Open, to open afresh after a transaction in doubt
  int queryTimeoutSeconds_ = 0;
};

// The connect string for a "db" setting: every "ODBC;" removed, left to right.
std::string ConnectStringFromSetting(std::string_view dbSetting);

std::string FormatDatabaseError(const DatabaseError& error);

}  // namespace qv
