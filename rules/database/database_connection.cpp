#include "rules/database/database_connection.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <vector>

namespace qv {
namespace {

constexpr SQLULEN kLoginTimeoutSeconds = 30;
constexpr std::string_view kOdbcPrefix = "ODBC;";

bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// The texts of every diagnostic record of `handle`, joined with a space.
std::string DiagnosticText(SQLSMALLINT type, SQLHANDLE handle) {
  std::string text;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    std::vector<SQLCHAR> message(SQL_MAX_MESSAGE_LENGTH + 1);
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLGetDiagRec(type, handle, record, state, &native, message.data(),
                                       static_cast<SQLSMALLINT>(message.size()), &length);
    if (!Succeeded(rc)) break;
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
};

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
  std::vector<SQLCHAR> out(4096);
  SQLSMALLINT outLength = 0;
  rc = SQLDriverConnect(handles_->dbc, nullptr, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS, out.data(),
                        static_cast<SQLSMALLINT>(out.size()), &outLength, SQL_DRIVER_NOPROMPT);
  if (!Succeeded(rc)) return fail(rc, DiagnosticText(SQL_HANDLE_DBC, handles_->dbc));
  handles_->connected = true;
  const std::size_t size = std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(outLength, 0)),
                                                 out.size() - 1);
  completed_.assign(reinterpret_cast<const char*>(out.data()), size);
  return true;
}

void CDatabaseConnection::Close() {
  if (handles_->connected) SQLDisconnect(handles_->dbc);
  if (handles_->dbc != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, handles_->dbc);
  if (handles_->env != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, handles_->env);
  *handles_ = Handles{};
  completed_.clear();
}

bool CDatabaseConnection::IsOpen() const { return handles_->connected; }

bool CDatabaseConnection::Execute(std::string_view statement) {
  if (!handles_->connected) {
    error_ = {"The database connection is not open", SQL_INVALID_HANDLE};
    return false;
  }
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, handles_->dbc, &stmt);
  if (!Succeeded(rc)) {
    error_ = {DiagnosticText(SQL_HANDLE_DBC, handles_->dbc), rc};
    return false;
  }
  std::string text(statement);
  rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size()));
  // No rows affected (an UPDATE that matched nothing) is not a failure.
  const bool ok = Succeeded(rc) || rc == SQL_NO_DATA;
  if (!ok) error_ = {DiagnosticText(SQL_HANDLE_STMT, stmt), rc};
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  return ok;
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
