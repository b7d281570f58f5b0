#include "ui/editors/database_setup.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "core/settings/settings_store.h"
#include "rules/database/database_connection.h"

namespace qv {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

// One attribute of a connection string: where it starts and ends (its ';' excluded), and its
// key and value. A value in braces may hold ';'.
struct Attribute {
  std::size_t begin, end;
  std::string_view key, value;
};

std::vector<Attribute> Split(std::string_view connect) {
  std::vector<Attribute> attributes;
  std::size_t pos = 0;
  while (pos < connect.size()) {
    const std::size_t begin = pos;
    const std::size_t equals = connect.find('=', pos);
    std::size_t end = connect.find(';', pos);
    if (equals != std::string_view::npos && (end == std::string_view::npos || equals < end)) {
      std::size_t valueStart = equals + 1;
      while (valueStart < connect.size() && connect[valueStart] == ' ') ++valueStart;
      if (valueStart < connect.size() && connect[valueStart] == '{') {
        const std::size_t close = connect.find('}', valueStart);
        end = close == std::string_view::npos ? connect.size() : connect.find(';', close);
      }
      if (end == std::string_view::npos) end = connect.size();
      std::string_view value = Trim(connect.substr(equals + 1, end - equals - 1));
      if (value.size() >= 2 && value.front() == '{' && value.back() == '}') value = value.substr(1, value.size() - 2);
      attributes.push_back({begin, end, Trim(connect.substr(begin, equals - begin)), value});
    } else if (end == std::string_view::npos) {
      end = connect.size();
    }
    pos = end + 1;
  }
  return attributes;
}

std::string Quoted(std::string_view value) {
  if (value.find_first_of(";{}") == std::string_view::npos && Trim(value) == value) return std::string(value);
  return "{" + std::string(value) + "}";
}

template <typename Fetch>
std::vector<OdbcEntry> List(Fetch fetch) {
  std::vector<OdbcEntry> entries;
  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return entries;
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLCHAR name[512];
  SQLCHAR description[1024];
  SQLSMALLINT nameLength = 0, descriptionLength = 0;
  for (SQLUSMALLINT direction = SQL_FETCH_FIRST;
       SQL_SUCCEEDED(fetch(env, direction, name, static_cast<SQLSMALLINT>(sizeof name), &nameLength, description,
                           static_cast<SQLSMALLINT>(sizeof description), &descriptionLength));
       direction = SQL_FETCH_NEXT) {
    OdbcEntry entry{reinterpret_cast<const char*>(name), reinterpret_cast<const char*>(description)};
    entries.push_back(std::move(entry));
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return entries;
}

DatabaseSetupResult Connect(const std::string& connect) {
  DatabaseSetupResult result;
  CDatabaseConnection connection;
  result.stored = connection.Open(connect);
  if (!result.stored) result.error = connection.lastError().text + " (" + std::to_string(connection.lastError().code) + ")";
  return result;
}

}  // namespace

std::vector<OdbcEntry> ListOdbcDrivers() {
  // A driver's attributes come as "key=value" texts, each ended by a zero, the list by a second
  // zero; its "Description" is what the list shows.
  return List([](SQLHENV env, SQLUSMALLINT direction, SQLCHAR* name, SQLSMALLINT nameSize, SQLSMALLINT* nameLength,
                 SQLCHAR* attributes, SQLSMALLINT attributesSize, SQLSMALLINT* attributesLength) {
    const SQLRETURN rc = SQLDrivers(env, direction, name, nameSize, nameLength, attributes, attributesSize, attributesLength);
    std::string description;
    if (SQL_SUCCEEDED(rc)) {
      const char* text = reinterpret_cast<const char*>(attributes);
      const std::size_t size = static_cast<std::size_t>(attributesSize);
      for (std::size_t pos = 0; pos < size && text[pos] != '\0';) {
        const std::string_view pair(text + pos, strnlen(text + pos, size - pos));
        if (pair.rfind("Description=", 0) == 0) description = pair.substr(12);
        pos += pair.size() + 1;
      }
    }
    const std::size_t length = std::min(description.size(), static_cast<std::size_t>(attributesSize) - 1);
    description.copy(reinterpret_cast<char*>(attributes), length);
    attributes[length] = '\0';
    return rc;
  });
}

std::vector<OdbcEntry> ListOdbcDataSources() { return List(SQLDataSources); }

std::string DriverConnectString(std::string_view driver) { return "Driver=" + Quoted(driver) + ";"; }
std::string DataSourceConnectString(std::string_view dataSource) { return "DSN=" + Quoted(dataSource) + ";"; }

std::optional<std::string> ConnectAttribute(std::string_view connect, std::string_view key) {
  for (const Attribute& attribute : Split(connect)) {
    if (EqualNoCase(attribute.key, key)) return std::string(attribute.value);
  }
  return std::nullopt;
}

std::string WithConnectAttribute(std::string_view connect, std::string_view key, std::string_view value) {
  const std::string assignment = std::string(key) + "=" + Quoted(value);
  for (const Attribute& attribute : Split(connect)) {
    if (EqualNoCase(attribute.key, key)) {
      std::string result(connect);
      result.replace(attribute.begin, attribute.end - attribute.begin, assignment);
      return result;
    }
  }
  std::string result(Trim(connect));
  if (!result.empty() && result.back() != ';') result += ';';
  return result + assignment + ";";
}

bool IsSqliteDriver(std::string_view driverName) {
  std::string lower(driverName);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.find("sqlite") != std::string::npos;
}

DatabaseSetupResult StoreDatabaseSetting(const std::string& connect, bool opened) {
  DatabaseSetupResult result = opened ? DatabaseSetupResult{true, ""} : Connect(connect);
  if (!result.stored) return result;
  result.stored = AppSettings().SetString("Settings", "db", connect.c_str());
  if (!result.stored) result.error = "The setting could not be written.";
  return result;
}

DatabaseSetupResult TestDatabaseConnection(const std::string& connect) { return Connect(connect); }

}  // namespace qv
