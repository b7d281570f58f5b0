#include "rules/database/database_connection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "testing/postgres_server.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

constexpr const char* kPrefix = "Database CDBException error: ";

std::vector<std::string> SqliteColumn(const std::string& file, const char* sql) {
  std::vector<std::string> values;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_exec(
        db, sql,
        [](void* out, int, char** columns, char**) {
          static_cast<std::vector<std::string>*>(out)->push_back(columns[0] != nullptr ? columns[0] : "NULL");
          return 0;
        },
        &values, nullptr);
  }
  sqlite3_close(db);
  return values;
}

bool StartsAndEndsWith(const std::string& text, const std::string& start, const std::string& end) {
  return text.rfind(start, 0) == 0 && text.size() >= start.size() + end.size() &&
         text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// ExecuteRows on `db` (open, with a table t(n <row number>, v TEXT CHECK (v <> 'bad'))):
// arrays of every shape store their rows in order, and a failure is placed among the rows.
// `values` reads v back in row order.
void RowsRunInOrder(CDatabaseConnection& db, const std::function<std::vector<std::string>()>& values) {
  const std::string insert = "INSERT INTO t(v) VALUES (?)";
  const auto rowsOf = [](int count, std::size_t size, int bad = -1) {
    std::vector<std::vector<std::string>> rows;
    for (int i = 0; i < count; ++i) {
      std::string value = std::to_string(i) + "-";
      value.resize(std::max(size, value.size()), 'v');
      rows.push_back({i == bad ? "bad" : value});
    }
    return rows;
  };
  struct Case {
    const char* name;
    std::string statement;
    std::vector<std::vector<std::string>> rows;
    int failing;  // the row that fails, -1 for none
  } cases[] = {
      {"many short rows", insert, rowsOf(2500, 10), -1},
      {"long values, past a VARCHAR and past one array's bytes", insert, rowsOf(300, 20000), -1},
      {"one row", insert, rowsOf(1, 10), -1},
      {"no parameters: every row runs", "INSERT INTO t(v) VALUES ('fixed')", std::vector<std::vector<std::string>>(50),
       -1},
      {"a bad row among many", insert, rowsOf(1000, 10, 637), 637},
      {"a bad first row", insert, rowsOf(300, 10, 0), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(db.Execute("DELETE FROM t")) << db.ErrorReport();
    ASSERT_TRUE(db.BeginTransaction()) << db.ErrorReport();
    const CDatabaseConnection::RowsResult result = db.ExecuteRows(c.statement, c.rows);
    if (c.failing < 0) {
      EXPECT_EQ(result.done, c.rows.size());
      EXPECT_EQ(result.suspect, 0u) << db.ErrorReport();
      ASSERT_TRUE(db.EndTransaction(true)) << db.ErrorReport();
      std::vector<std::string> expected;
      for (const auto& row : c.rows) expected.push_back(row.empty() ? "fixed" : row[0]);
      EXPECT_EQ(values(), expected);
    } else {
      const auto failing = static_cast<std::size_t>(c.failing);
      EXPECT_LE(result.done, failing);
      EXPECT_GT(result.done + result.suspect, failing);
      EXPECT_THAT(db.lastError().text, ::testing::ContainsRegex("CHECK|check")) << db.ErrorReport();
      EXPECT_TRUE(db.EndTransaction(false));
      EXPECT_THAT(values(), ::testing::IsEmpty());
    }
  }
}

TEST(ConnectStringTest, EveryOdbcPrefixIsRemovedAndNothingElse) {
  EXPECT_EQ(ConnectStringFromSetting("ODBC;DSN=syslog;UID=q;PWD=p"), "DSN=syslog;UID=q;PWD=p");
  EXPECT_EQ(ConnectStringFromSetting("ODBC;Driver=SQLite3;ODBC;Database=/a;ODBC;"), "Driver=SQLite3;Database=/a;");
  EXPECT_EQ(ConnectStringFromSetting("odbc;DSN=x;ODBC"), "odbc;DSN=x;ODBC");
  EXPECT_EQ(ConnectStringFromSetting("OODBC;DBC;"), "ODBC;");  // one pass, left to right
  EXPECT_EQ(ConnectStringFromSetting(""), "");
}

TEST(DatabaseConnectionTest, SqliteDriverInsertsTextWithItsQuotesIntact) {
  qv::testing::TempHome home;
  const std::string file = home.file("messages.db");
  CDatabaseConnection db;
  EXPECT_FALSE(db.IsOpen());
  ASSERT_TRUE(db.Open("ODBC;Driver=SQLite3;Database=" + file + ";")) << db.ErrorReport();
  EXPECT_TRUE(db.IsOpen());

  ASSERT_TRUE(db.Execute("CREATE TABLE log(host TEXT, msg TEXT)")) << db.ErrorReport();
  // The action doubles the quotes of the message text; the statement is executed as it is.
  EXPECT_TRUE(db.Execute("INSERT INTO log VALUES ('router1', 'it''s \"quoted\"; DROP TABLE log; --')"));
  EXPECT_TRUE(db.Execute("UPDATE log SET host = 'x' WHERE host = 'nobody'"));  // no rows is no failure
  EXPECT_TRUE(db.Execute("SELECT * FROM log"));                               // a result set is discarded
  EXPECT_EQ(SqliteColumn(file, "SELECT msg FROM log"), std::vector<std::string>{"it's \"quoted\"; DROP TABLE log; --"});

  db.Close();
  EXPECT_FALSE(db.IsOpen());
  ASSERT_TRUE(db.Open("Driver=SQLite3;Database=" + file));
  EXPECT_TRUE(db.Execute("INSERT INTO log VALUES ('r2', 'again')"));
  EXPECT_EQ(SqliteColumn(file, "SELECT COUNT(*) FROM log"), std::vector<std::string>{"2"});
}

TEST(DatabaseConnectionTest, FailuresCarryTheDriversTextAndTheReturnCode) {
  qv::testing::TempHome home;
  CDatabaseConnection db;

  EXPECT_FALSE(db.Execute("INSERT INTO log VALUES ('x')"));
  EXPECT_EQ(db.ErrorReport(), std::string(kPrefix) + "The database connection is not open, (-2)");

  EXPECT_FALSE(db.Open("ODBC;Driver=NoSuchDriver;Database=/nowhere"));
  EXPECT_FALSE(db.IsOpen());
  EXPECT_TRUE(StartsAndEndsWith(db.ErrorReport(), kPrefix, ", (-1)")) << db.ErrorReport();
  EXPECT_NE(db.lastError().text.find("NoSuchDriver"), std::string::npos) << db.lastError().text;
  EXPECT_FALSE(db.Execute("INSERT INTO log VALUES ('x')"));
  EXPECT_EQ(db.lastError().code, -2);

  EXPECT_FALSE(db.Open(""));  // never prompts for the missing data source
  EXPECT_TRUE(StartsAndEndsWith(db.ErrorReport(), kPrefix, ", (-1)")) << db.ErrorReport();
  EXPECT_GT(db.lastError().text.size(), 10u);

  ASSERT_TRUE(db.Open("Driver=SQLite3;Database=" + home.file("m.db")));
  EXPECT_FALSE(db.Execute("INSERT INTO missing VALUES ('x')"));
  EXPECT_TRUE(StartsAndEndsWith(db.ErrorReport(), kPrefix, ", (-1)")) << db.ErrorReport();
  EXPECT_NE(db.lastError().text.find("no such table: missing"), std::string::npos) << db.lastError().text;
  EXPECT_FALSE(db.Execute("this is not SQL"));
  EXPECT_NE(db.lastError().text.find("syntax error"), std::string::npos) << db.lastError().text;
  // The connection stays usable after a failed statement.
  EXPECT_TRUE(db.Execute("CREATE TABLE t(x)"));
}

TEST(DatabaseConnectionTest, ATransactionKeepsItsStatementsOnlyWhenCommitted) {
  qv::testing::TempHome home;
  const std::string file = home.file("m.db");
  enum class End { kCommit, kRollBack, kClose };
  const struct Case {
    End end;
    const char* kept;
  } cases[] = {{End::kCommit, "2"}, {End::kRollBack, "0"}, {End::kClose, "0"}};
  CDatabaseConnection db;
  EXPECT_FALSE(db.BeginTransaction());  // not open
  EXPECT_EQ(db.lastError().code, -2);
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.end));
    ASSERT_TRUE(db.Open("Driver=SQLite3;Database=" + file)) << db.ErrorReport();
    ASSERT_TRUE(db.Execute("CREATE TABLE IF NOT EXISTS t(x)"));
    ASSERT_TRUE(db.Execute("DELETE FROM t"));
    ASSERT_TRUE(db.BeginTransaction()) << db.ErrorReport();
    EXPECT_TRUE(db.Execute("INSERT INTO t VALUES (1)"));
    EXPECT_FALSE(db.Execute("INSERT INTO missing VALUES (1)"));  // a failure leaves the rest to the caller
    EXPECT_TRUE(db.Execute("INSERT INTO t VALUES (2)"));
    EXPECT_EQ(SqliteColumn(file, "SELECT count(*) FROM t"), std::vector<std::string>{"0"});  // not yet
    if (c.end == End::kClose) {
      db.Close();
    } else {
      EXPECT_TRUE(db.EndTransaction(c.end == End::kCommit)) << db.ErrorReport();
    }
    EXPECT_EQ(SqliteColumn(file, "SELECT count(*) FROM t"), std::vector<std::string>{c.kept});
    // Each statement commits by itself again.
    if (!db.IsOpen()) {
      ASSERT_TRUE(db.Open("Driver=SQLite3;Database=" + file)) << db.ErrorReport();
    }
    EXPECT_TRUE(db.Execute("INSERT INTO t VALUES (3)"));
    EXPECT_EQ(SqliteColumn(file, "SELECT count(*) FROM t WHERE x = 3"), std::vector<std::string>{"1"});
  }
}

TEST(DatabaseConnectionTest, SqliteRowsRunInOrderAndAFailureIsPlacedAmongThem) {
  qv::testing::TempHome home;
  const std::string file = home.file("m.db");
  CDatabaseConnection db;
  ASSERT_TRUE(db.Open("Driver=SQLite3;Database=" + file)) << db.ErrorReport();
  ASSERT_TRUE(db.Execute("CREATE TABLE t(n INTEGER PRIMARY KEY, v TEXT CHECK (v <> 'bad'))")) << db.ErrorReport();
  RowsRunInOrder(db, [&] { return SqliteColumn(file, "SELECT v FROM t ORDER BY n"); });
}

TEST(DatabaseConnectionTest, StatementsStopAtTheQueryTimeout) {
  qv::testing::TempHome home;
  CDatabaseConnection db;
  db.SetQueryTimeout(1);
  ASSERT_TRUE(db.Open("Driver=SQLite3;Database=" + home.file("m.db"))) << db.ErrorReport();
  // SQLite's driver accepts the ODBC query timeout and runs on; this takes about a minute.
  const char* slow = "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 200000000) "
                     "SELECT count(*) FROM c";
  for (int round = 0; round < 2; ++round) {  // the stopped statement is prepared afresh
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(db.Execute(slow));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    EXPECT_TRUE(db.lastError().timedOut) << db.ErrorReport();
    EXPECT_TRUE(db.Execute("SELECT 1")) << db.ErrorReport();
  }
  EXPECT_FALSE(db.Execute("SELECT * FROM missing"));
  EXPECT_FALSE(db.lastError().timedOut);
}

TEST(DatabaseConnectionTest, PostgresqlDriverWorksTheSameWay) {
  qv::testing::TempHome home;
  qv::testing::PostgresServer server(home.path());
  if (!server.available()) GTEST_SKIP() << "the PostgreSQL server binaries are not installed";
  if (!qv::testing::PostgresServer::DriverRegistered()) GTEST_SKIP() << "the PostgreSQL ODBC driver is not registered";
  ASSERT_TRUE(server.Start());

  CDatabaseConnection db;
  ASSERT_TRUE(db.Open(server.ConnectString())) << db.ErrorReport();
  ASSERT_TRUE(db.Execute("CREATE TABLE log(msg TEXT)")) << db.ErrorReport();
  EXPECT_TRUE(db.Execute("INSERT INTO log VALUES ('it''s')")) << db.ErrorReport();
  EXPECT_EQ(server.Query("SELECT msg FROM log"), "it's\n");
  EXPECT_FALSE(db.Execute("INSERT INTO missing VALUES ('x')"));
  EXPECT_TRUE(StartsAndEndsWith(db.ErrorReport(), kPrefix, ", (-1)")) << db.ErrorReport();
  EXPECT_NE(db.lastError().text.find("\"missing\" does not exist"), std::string::npos) << db.lastError().text;
  EXPECT_FALSE(db.lastError().timedOut);

  // Typed columns take bound text as they took literals: the server converts it.
  ASSERT_TRUE(db.Execute("CREATE TABLE typed(at TIMESTAMP, n INTEGER)")) << db.ErrorReport();
  EXPECT_TRUE(db.Execute("INSERT INTO typed VALUES (?, ?)", std::array<std::string, 2>{"2026-10-05 07:03:07", "42"}))
      << db.ErrorReport();
  EXPECT_EQ(server.Query("SELECT at, n + 1 FROM typed"), "2026-10-05 07:03:07|43\n");

  ASSERT_TRUE(db.Execute("CREATE TABLE t(n SERIAL, v TEXT CHECK (v <> 'bad'))")) << db.ErrorReport();
  RowsRunInOrder(db, [&] {
    std::vector<std::string> values;
    const std::string text = server.Query("SELECT v FROM t ORDER BY n");
    for (std::size_t from = 0, end; (end = text.find('\n', from)) != std::string::npos; from = end + 1) {
      values.push_back(text.substr(from, end - from));
    }
    return values;
  });

  db.SetQueryTimeout(1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(db.Execute("SELECT pg_sleep(30)"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  EXPECT_TRUE(db.lastError().timedOut) << db.ErrorReport();
  EXPECT_TRUE(db.Execute("SELECT 1")) << db.ErrorReport();
}

}  // namespace
}  // namespace qv
