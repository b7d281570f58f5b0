#include "rules/database/database_connection.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <chrono>
#include <unordered_map>
#include <vector>

#include "rules/database/statement_watchdog.h"

namespace qv {
namespace {

constexpr SQLULEN kLoginTimeoutSeconds = 30;
constexpr std::string_view kOdbcPrefix = "ODBC;";
// A parameter longer than this is bound as LONGVARCHAR, which drivers map to their unbounded
// text type; 4000 is the longest VARCHAR that the common servers accept in every mode.
constexpr std::size_t kLongestVarchar = 4000;
// Prepared statements kept at once; the rules hold few statement texts, so more means churn.
constexpr std::size_t kMaxPrepared = 64;

bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// The texts of every diagnostic record of `handle`, joined with a space; the first record's
// SQLSTATE goes to `firstState` when asked for.
std::string DiagnosticText(SQLSMALLINT type, SQLHANDLE handle, std::string* firstState = nullptr) {
  std::string text;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    std::vector<SQLCHAR> message(SQL_MAX_MESSAGE_LENGTH + 1);
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLGetDiagRec(type, handle, record, state, &native, message.data(),
                                       static_cast<SQLSMALLINT>(message.size()), &length);
    if (!Succeeded(rc)) break;
    if (record == 1 && firstState != nullptr) *firstState = reinterpret_cast<const char*>(state);
    const std::size_t size = std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)),
                                                   message.size() - 1);
    if (!text.empty()) text += ' ';
    text.append(reinterpret_cast<const char*>(message.data()), size);
  }
  return text;
}

}  // namespace

struct CDatabaseConnection::Handles {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  bool connected = false;
  bool inTransaction = false;
  std::unordered_map<std::string, SQLHSTMT> prepared;  // by statement text
  CStatementWatchdog watchdog;

  // The prepared statement for `text`, prepared now when it is not kept; null on failure, with
  // the reason in `error`.
  SQLHSTMT Prepared(const std::string& text, DatabaseError& error);
  void Forget(const std::string& text);
  void FreeAll();
};

SQLHSTMT CDatabaseConnection::Handles::Prepared(const std::string& text, DatabaseError& error) {
  if (const auto kept = prepared.find(text); kept != prepared.end()) return kept->second;
  if (prepared.size() >= kMaxPrepared) FreeAll();
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
  if (!Succeeded(rc)) {
    error = {DiagnosticText(SQL_HANDLE_DBC, dbc), rc};
    return SQL_NULL_HSTMT;
  }
  std::string copy = text;  // SQLPrepare takes a mutable buffer
  rc = SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(copy.data()), static_cast<SQLINTEGER>(copy.size()));
  if (!Succeeded(rc)) {
    error = {DiagnosticText(SQL_HANDLE_STMT, stmt), rc};
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return SQL_NULL_HSTMT;
  }
  prepared.emplace(text, stmt);
  return stmt;
}

void CDatabaseConnection::Handles::Forget(const std::string& text) {
  if (const auto kept = prepared.find(text); kept != prepared.end()) {
    SQLFreeHandle(SQL_HANDLE_STMT, kept->second);
    prepared.erase(kept);
  }
}

void CDatabaseConnection::Handles::FreeAll() {
  for (const auto& [text, stmt] : prepared) SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  prepared.clear();
}

CDatabaseConnection::CDatabaseConnection() : handles_(new Handles) {}

CDatabaseConnection::~CDatabaseConnection() {
  Close();
  delete handles_;
}

bool CDatabaseConnection::Open(std::string_view dbSetting) {
  Close();
  const auto fail = [this](SQLRETURN rc, std::string text) {
    error_ = {std::move(text), rc};
    Close();
    return false;
  };
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handles_->env);
  if (!Succeeded(rc)) return fail(rc, "The ODBC driver manager cannot be initialised");
  rc = SQLSetEnvAttr(handles_->env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (!Succeeded(rc)) return fail(rc, DiagnosticText(SQL_HANDLE_ENV, handles_->env));
  rc = SQLAllocHandle(SQL_HANDLE_DBC, handles_->env, &handles_->dbc);
  if (!Succeeded(rc)) return fail(rc, DiagnosticText(SQL_HANDLE_ENV, handles_->env));
  SQLSetConnectAttr(handles_->dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), 0);

  std::string in = ConnectStringFromSetting(dbSetting);
  rc = SQLDriverConnect(handles_->dbc, nullptr, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS, nullptr, 0, nullptr,
                        SQL_DRIVER_NOPROMPT);
  if (!Succeeded(rc)) return fail(rc, DiagnosticText(SQL_HANDLE_DBC, handles_->dbc));
  handles_->connected = true;
  return true;
}

void CDatabaseConnection::Close() {
  handles_->FreeAll();
  // ODBC refuses to disconnect inside a transaction.
  if (handles_->connected && handles_->inTransaction) SQLEndTran(SQL_HANDLE_DBC, handles_->dbc, SQL_ROLLBACK);
  if (handles_->connected) SQLDisconnect(handles_->dbc);
  if (handles_->dbc != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, handles_->dbc);
  if (handles_->env != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, handles_->env);
  handles_->env = SQL_NULL_HENV;
  handles_->dbc = SQL_NULL_HDBC;
  handles_->connected = false;
  handles_->inTransaction = false;
}

bool CDatabaseConnection::IsOpen() const { return handles_->connected; }

void CDatabaseConnection::SetQueryTimeout(int seconds) { queryTimeoutSeconds_ = std::max(seconds, 0); }

bool CDatabaseConnection::Execute(std::string_view statement, std::span<const std::string> parameters) {
  if (!handles_->connected) {
    error_ = {"The database connection is not open", SQL_INVALID_HANDLE};
    return false;
  }
  const std::string text(statement);
  const SQLHSTMT stmt = handles_->Prepared(text, error_);
  if (stmt == SQL_NULL_HSTMT) return false;

  std::vector<SQLLEN> lengths(parameters.size());
  SQLRETURN rc = SQL_SUCCESS;
  for (std::size_t i = 0; i < parameters.size() && Succeeded(rc); ++i) {
    const std::string& value = parameters[i];
    lengths[i] = static_cast<SQLLEN>(value.size());
    rc = SQLBindParameter(stmt, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, SQL_C_CHAR,
                          value.size() > kLongestVarchar ? SQL_LONGVARCHAR : SQL_VARCHAR,
                          std::max<SQLULEN>(value.size(), 1), 0, const_cast<char*>(value.data()), lengths[i],
                          &lengths[i]);
  }
  bool cancelled = false;
  if (Succeeded(rc)) {
    const SQLULEN limit = static_cast<SQLULEN>(queryTimeoutSeconds_);
    SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(limit), 0);
    const auto start = std::chrono::steady_clock::now();
    if (limit > 0) handles_->watchdog.Arm(std::chrono::seconds(limit), [stmt] { SQLCancel(stmt); });
    rc = SQLExecute(stmt);
    if (limit > 0) cancelled = handles_->watchdog.Disarm();
    // Drivers that keep the limit say so in their own words (PostgreSQL: SQLSTATE 57014, not
    // HYT00); a failure once the time is up is the limit's doing either way.
    cancelled = cancelled || (limit > 0 && std::chrono::steady_clock::now() - start >= std::chrono::seconds(limit));
  }
  // No rows affected (an UPDATE that matched nothing) is not a failure.
  const bool ok = Succeeded(rc) || rc == SQL_NO_DATA;
  if (!ok) {
    std::string state;
    error_ = {DiagnosticText(SQL_HANDLE_STMT, stmt, &state), rc};
    error_.timedOut = cancelled || state == "HYT00";
  }
  SQLFreeStmt(stmt, SQL_CLOSE);
  SQLFreeStmt(stmt, SQL_RESET_PARAMS);
  // A statement that was stopped is prepared afresh next time rather than trusted again.
  if (!ok && error_.timedOut) handles_->Forget(text);
  return ok;
}

bool CDatabaseConnection::BeginTransaction() {
  if (!handles_->connected) {
    error_ = {"The database connection is not open", SQL_INVALID_HANDLE};
    return false;
  }
  const SQLRETURN rc = SQLSetConnectAttr(handles_->dbc, SQL_ATTR_AUTOCOMMIT,
                                         reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), SQL_IS_UINTEGER);
  if (!Succeeded(rc)) {
    error_ = {DiagnosticText(SQL_HANDLE_DBC, handles_->dbc), rc};
    return false;
  }
  handles_->inTransaction = true;
  return true;
}

bool CDatabaseConnection::EndTransaction(bool commit) {
  if (!handles_->inTransaction) return true;
  handles_->inTransaction = false;
  SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, handles_->dbc, commit ? SQL_COMMIT : SQL_ROLLBACK);
  const bool ended = Succeeded(rc);
  if (!ended) {
    error_ = {DiagnosticText(SQL_HANDLE_DBC, handles_->dbc), rc};
    if (commit) SQLEndTran(SQL_HANDLE_DBC, handles_->dbc, SQL_ROLLBACK);  // what the server kept is undone
  }
  // Autocommit on again. A driver that refuses would keep every later statement in a
  // transaction that nobody commits; the connection closes instead, and those statements fail
  // as on a connection that is not open, until the next load of the rules opens it again.
  rc = SQLSetConnectAttr(handles_->dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON),
                         SQL_IS_UINTEGER);
  if (!Succeeded(rc)) Close();
  return ended;
}

std::string CDatabaseConnection::ErrorReport() const { return FormatDatabaseError(error_); }

std::string ConnectStringFromSetting(std::string_view dbSetting) {
  std::string out;
  std::size_t pos = 0;
  for (std::size_t found; (found = dbSetting.find(kOdbcPrefix, pos)) != std::string_view::npos;
       pos = found + kOdbcPrefix.size()) {
    out.append(dbSetting.substr(pos, found - pos));
  }
  out.append(dbSetting.substr(pos));
  return out;
}

std::string FormatDatabaseError(const DatabaseError& error) {
  return "Database CDBException error: " + error.text + ", (" + std::to_string(error.code) + ")";
}

}  // namespace qv
