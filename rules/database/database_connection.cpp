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

// Sets `error` from the diagnostics of `stmt`; false.
bool SetFailure(SQLHSTMT stmt, SQLRETURN rc, bool cancelled, DatabaseError& error) {
  std::string state;
  error = {DiagnosticText(SQL_HANDLE_STMT, stmt, &state), rc};
  error.timedOut = cancelled || state == "HYT00";
  return false;
}

// Executes `stmt`, its parameters bound, for at most `limit` seconds (0: no limit) and discards
// any result set; false with `error` on failure.
bool RunBound(SQLHSTMT stmt, int limitSeconds, CStatementWatchdog& watchdog, DatabaseError& error) {
  const SQLULEN limit = static_cast<SQLULEN>(limitSeconds);
  SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(limit), 0);
  const auto start = std::chrono::steady_clock::now();
  if (limit > 0) watchdog.Arm(std::chrono::seconds(limit), [stmt] { SQLCancel(stmt); });
  const SQLRETURN rc = SQLExecute(stmt);
  bool cancelled = false;
  if (limit > 0) cancelled = watchdog.Disarm();
  // Drivers that keep the limit say so in their own words (PostgreSQL: SQLSTATE 57014, not
  // HYT00); a failure once the time is up is the limit's doing either way.
  cancelled = cancelled || (limit > 0 && std::chrono::steady_clock::now() - start >= std::chrono::seconds(limit));
  // No rows affected (an UPDATE that matched nothing) is not a failure.
  const bool ok = Succeeded(rc) || rc == SQL_NO_DATA;
  if (!ok) SetFailure(stmt, rc, cancelled, error);
  SQLFreeStmt(stmt, SQL_CLOSE);
  return ok;
}

// The rows from the start of `rows` whose values fit `budget` bytes when laid out by column,
// each value in a slot as wide as the longest of its column; at least one. A row with another
// count of values ends them.
std::size_t RowsThatFit(std::span<const std::vector<std::string>> rows, std::size_t budget) {
  std::vector<std::size_t> widths(rows.front().size(), 1);
  std::size_t count = 0;
  for (const std::vector<std::string>& row : rows) {
    if (row.size() != widths.size()) break;
    std::size_t rowBytes = 0;
    for (std::size_t c = 0; c < row.size(); ++c) rowBytes += std::max(widths[c], row[c].size());
    if (count > 0 && rowBytes * (count + 1) > budget) break;
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    ++count;
  }
  return std::max<std::size_t>(count, 1);
}

}  // namespace

struct CDatabaseConnection::Handles {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  bool connected = false;
  bool inTransaction = false;
  bool arrays = true;  // the driver runs arrays of parameter sets
  std::unordered_map<std::string, SQLHSTMT> prepared;  // by statement text
  CStatementWatchdog watchdog;

  // The prepared statement for `text`, prepared now when it is not kept; null on failure, with
  // the reason in `error`.
  SQLHSTMT Prepared(const std::string& text, DatabaseError& error);
  // Unbinds the parameters of the statement for `text` after a run; one stopped at its time
  // limit (`failure` says) is freed, to be prepared afresh next time rather than trusted again.
  void Release(const std::string& text, const DatabaseError* failure);
  void FreeAll();
  // For a driver that believes a transaction open that the database has ended: opens one for
  // it to end. True when the driver's rollback then succeeds.
  bool RollBackStale();
};

bool CDatabaseConnection::Handles::RollBackStale() {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (!Succeeded(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) return false;
  std::string begin = "BEGIN";
  const bool begun = Succeeded(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(begin.data()), SQL_NTS));
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  return begun && Succeeded(SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK));
}

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

void CDatabaseConnection::Handles::Release(const std::string& text, const DatabaseError* failure) {
  const auto kept = prepared.find(text);
  if (kept == prepared.end()) return;
  SQLFreeStmt(kept->second, SQL_RESET_PARAMS);
  if (failure != nullptr && failure->timedOut) {
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
  setting_ = dbSetting;
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
  handles_->arrays = true;
  return true;
}

void CDatabaseConnection::Close() {
  handles_->FreeAll();
  // ODBC refuses to disconnect inside a transaction.
  if (handles_->connected && handles_->inTransaction) SQLEndTran(SQL_HANDLE_DBC, handles_->dbc, SQL_ROLLBACK);
  if (handles_->connected && !Succeeded(SQLDisconnect(handles_->dbc)) && handles_->RollBackStale()) {
    SQLDisconnect(handles_->dbc);
  }
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
  const bool ok = Succeeded(rc) ? RunBound(stmt, queryTimeoutSeconds_, handles_->watchdog, error_)
                                : SetFailure(stmt, rc, false, error_);
  handles_->Release(text, ok ? nullptr : &error_);
  return ok;
}

CDatabaseConnection::RowsResult CDatabaseConnection::ExecuteRows(std::string_view statement,
                                                                 std::span<const std::vector<std::string>> rows) {
  RowsResult result;
  const std::string text(statement);
  while (result.done < rows.size()) {
    const std::span<const std::vector<std::string>> rest = rows.subspan(result.done);
    // Without parameters an array would be the same execution many times, which drivers may
    // run once: such statements go one by one.
    const std::size_t count = handles_->arrays && !rest.front().empty() ? RowsThatFit(rest, kArrayBytes) : 1;
    if (count == 1) {
      if (!Execute(text, rest.front())) {
        result.suspect = 1;
        return result;
      }
      ++result.done;
      continue;
    }
    const RowsResult part = ExecuteArray(text, rest.first(count));
    result.done += part.done;
    if (part.suspect > 0) {
      result.suspect = part.suspect;
      return result;
    }
  }
  return result;
}

CDatabaseConnection::RowsResult CDatabaseConnection::ExecuteArray(const std::string& text,
                                                                  std::span<const std::vector<std::string>> rows) {
  const std::size_t count = rows.size();
  if (!handles_->connected) {
    error_ = {"The database connection is not open", SQL_INVALID_HANDLE};
    return {0, 1};
  }
  const SQLHSTMT stmt = handles_->Prepared(text, error_);
  if (stmt == SQL_NULL_HSTMT) return {0, 1};  // each row would fail the same way
  if (!Succeeded(SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(count), 0))) {
    handles_->arrays = false;
    return {0, 0};  // nothing ran: ExecuteRows goes on row by row
  }

  // The values by column, each in a slot as wide as the longest of its column.
  const std::size_t columns = rows.front().size();
  std::vector<std::size_t> widths(columns, 1);
  for (const std::vector<std::string>& row : rows) {
    for (std::size_t c = 0; c < columns; ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  std::vector<std::size_t> offsets(columns);
  std::size_t total = 0;
  for (std::size_t c = 0; c < columns; ++c) {
    offsets[c] = total;
    total += widths[c] * count;
  }
  std::vector<char> values(total);
  std::vector<SQLLEN> lengths(columns * count);
  for (std::size_t r = 0; r < count; ++r) {
    for (std::size_t c = 0; c < columns; ++c) {
      const std::string& value = rows[r][c];
      std::copy(value.begin(), value.end(), values.begin() + static_cast<std::ptrdiff_t>(offsets[c] + r * widths[c]));
      lengths[c * count + r] = static_cast<SQLLEN>(value.size());
    }
  }
  std::vector<SQLUSMALLINT> status(count, SQL_PARAM_UNUSED);
  SQLULEN processed = 0;
  SQLSetStmtAttr(stmt, SQL_ATTR_PARAM_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_PARAM_BIND_BY_COLUMN), 0);
  SQLSetStmtAttr(stmt, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0);
  SQLSetStmtAttr(stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0);
  SQLRETURN rc = SQL_SUCCESS;
  for (std::size_t c = 0; c < columns && Succeeded(rc); ++c) {
    rc = SQLBindParameter(stmt, static_cast<SQLUSMALLINT>(c + 1), SQL_PARAM_INPUT, SQL_C_CHAR,
                          widths[c] > kLongestVarchar ? SQL_LONGVARCHAR : SQL_VARCHAR, widths[c], 0,
                          values.data() + offsets[c], static_cast<SQLLEN>(widths[c]), lengths.data() + c * count);
  }
  bool ok = Succeeded(rc) ? RunBound(stmt, queryTimeoutSeconds_, handles_->watchdog, error_)
                          : SetFailure(stmt, rc, false, error_);
  // Back to one parameter set, as Execute binds them.
  SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
  SQLSetStmtAttr(stmt, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
  SQLSetStmtAttr(stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);

  const bool rowFailed = std::find(status.begin(), status.end(), SQL_PARAM_ERROR) != status.end();
  if (ok && (processed != count || rowFailed)) {
    // Said to have run, but not every row did: the rows run one by one from now on.
    error_ = {"The ODBC driver ran " + std::to_string(processed) + " of the " + std::to_string(count) +
                  " parameter sets of a statement",
              SQL_ERROR};
    handles_->arrays = rowFailed;  // a failed row is the row's doing, a short count the driver's
    ok = false;
  }
  handles_->Release(text, ok ? nullptr : &error_);
  if (ok) return {count, 0};
  const auto succeeded = [](SQLUSMALLINT s) { return s == SQL_PARAM_SUCCESS || s == SQL_PARAM_SUCCESS_WITH_INFO; };
  const std::size_t done = static_cast<std::size_t>(std::find_if_not(status.begin(), status.end(), succeeded) -
                                                    status.begin());
  // Rows processed include the failed one, but some drivers (SQLite's) count only those before
  // it: one more is taken in.
  const std::size_t end = processed >= done && processed < count ? processed + 1 : count;
  return {done, std::max<std::size_t>(end - done, 1)};
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
  const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, handles_->dbc, commit ? SQL_COMMIT : SQL_ROLLBACK);
  const bool ended = Succeeded(rc);
  // Whether the driver's idea of the transaction may be wrong: a rollback that fails leaves it
  // in doubt (SQLite's driver, after a statement cancelled in a transaction that the database
  // then rolled back itself, believes one still open and lets the next statements commit one
  // by one), and so does a driver that will not go back to autocommit.
  bool inDoubt = false;
  if (!ended) {
    error_ = {DiagnosticText(SQL_HANDLE_DBC, handles_->dbc), rc};
    // What the server kept of a commit that failed is undone.
    inDoubt = !commit || !Succeeded(SQLEndTran(SQL_HANDLE_DBC, handles_->dbc, SQL_ROLLBACK));
    if (inDoubt) inDoubt = !handles_->RollBackStale();
  }
  inDoubt = inDoubt || !Succeeded(SQLSetConnectAttr(handles_->dbc, SQL_ATTR_AUTOCOMMIT,
                                                    reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), SQL_IS_UINTEGER));
  if (inDoubt) {
    // A new connection starts clean; when it cannot be made, the statements that follow fail as
    // on a connection that is not open, until the next load of the rules opens it again.
    const DatabaseError failure = error_;
    const std::string setting = setting_;
    Open(setting);
    error_ = failure;
  }
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
