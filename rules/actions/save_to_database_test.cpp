#include "rules/actions/save_to_database.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "core/settings/settings_store.h"
#include "rules/action_worker.h"
#include "rules/actions/action_runner.h"
#include "rules/rules_engine.h"
#include "testing/postgres_server.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

class RecordingSink : public CSyslogSink {
 public:
  void OnDatagram(std::string_view, int32_t, std::string_view) override {}
  void OnLocalMessage(std::string_view text) override { reports.emplace_back(text); }
  std::vector<std::string> reports;
};

class NoBoxes : public CMessageBoxHost {
 public:
  void ShowMessageBox(const std::string&, const std::string&) override {}
  void ShowUnknownRule(const std::string&) override {}
};

std::string Hex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (const unsigned char c : bytes) hex += {digits[c >> 4], digits[c & 15]};
  return hex;
}

// The first column of each row of `sql`.
std::vector<std::string> SqliteRows(const std::string& file, const std::string& sql) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_exec(
        db, sql.c_str(),
        [](void* out, int, char** columns, char**) {
          static_cast<std::vector<std::string>*>(out)->push_back(columns[0] != nullptr ? columns[0] : "NULL");
          return 0;
        },
        &rows, nullptr);
  }
  sqlite3_close(db);
  return rows;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t from = 0, end; (end = text.find('\n', from)) != std::string::npos; from = end + 1) {
    lines.push_back(text.substr(from, end - from));
  }
  return lines;
}

// A database that the "db" setting names, and how to read its table "log" back.
struct Database {
  std::string connect;
  // Per row, in insertion order: the lower-case hex of the SQL expression given.
  std::function<std::vector<std::string>(const std::string& expression)> rows;
  std::string serialKey;  // the type of the row number column
};

class SaveToDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override { AppSettings().SetInt("Settings", "timeutc", 1); }

  void Load(const std::string& connect, const std::string& statement) {
    AppSettings().SetString("Settings", "db", connect.c_str());
    CRule rule;
    rule.Name = "to db";
    rule.Action = kActionDatabase;
    rule.ActionValue = statement;
    rule.Save(RuleSectionName(0));
    AppSettings().SetInt("Settings", "rulescount", 1);
    auto runner = std::make_unique<CActionRunner>(std::make_unique<NoBoxes>(), options_);
    runner_ = runner.get();
    engine_ = std::make_unique<CRulesEngine>(sink_, std::move(runner));
    engine_->LoadRules(nullptr);
  }

  void Run(SyslogMessage message) {
    bool discard = false;
    bool highlight = false;
    engine_->RunRules(message, discard, highlight);
  }

  // Every macro of every message holds one hostile text; each row must hold exactly that.
  void StoresEveryValueLiterally(const Database& database) {
    ASSERT_TRUE(CreateTable(database.connect, database.serialKey));
    Load(database.connect,
         "INSERT INTO log(host, msg, ip, whole, names, fixed) VALUES ('$hostname', '$msg', 'from $ipaddr:', $all, "
         "'$facility/$severity', 'it''s fixed') -- $msg");
    const std::vector<std::string> hostile = {
        "x'||(SELECT/**/group_concat(name)/**/FROM/**/sqlite_master)||'",
        "'); DROP TABLE log; --",
        "it's \"quoted\" ''twice'' \\' back\\\\slash\\",
        "a; b -- c /* d",
        "\xc3\xa9t\xc3\xa9 \xe2\x82\xac ? $1",
        std::string(5000, 'L'),  // past a VARCHAR: bound as LONGVARCHAR
    };
    std::vector<std::string> expected;
    for (const std::string& text : hostile) {
      SyslogMessage message;
      message.facility = 16;
      message.severity = 3;
      message.hostName = text;
      message.ipAddress = text;
      message.message = text;
      message.timeReceived = 1791183787;
      Run(message);
      expected.push_back(Hex(text + "|" + text + "|from " + text + ":|" + message.FormatExportLine() +
                             "|local0/ERROR|it's fixed"));
    }
    EXPECT_THAT(sink_.reports, IsEmpty());
    EXPECT_EQ(database.rows("host||'|'||msg||'|'||ip||'|'||whole||'|'||names||'|'||fixed"), expected);
  }

  // Batches of many rows, some of them refused (a check on the message, or a second rule whose
  // table is missing): every other row is stored, in the order of its record, and each refused
  // one is reported once. Last, the service stops while the worker is in the middle of a batch:
  // nothing is lost. The messages of each case start with its letter.
  void BatchesKeepEveryGoodRowInOrder(const Database& database) {
    ASSERT_TRUE(CreateTable(database.connect, database.serialKey, " CHECK (msg NOT LIKE '%bad%')"));
    Load(database.connect, kInsert);
    CRule good;
    good.Name = "to db";
    good.Action = kActionDatabase;
    good.ActionValue = kInsert;
    CRule broken = good;
    broken.Name = "broken";
    broken.ActionValue = "INSERT INTO missing(msg) VALUES ('$msg')";
    struct Case {
      char letter;
      int count;
      std::function<bool(int)> refusedByCheck;
      std::function<bool(int)> brokenRule;
      std::size_t length = 0;  // of each message, filled up with 'x'
    } cases[] = {
        {'a', 1000, [](int) { return false; }, [](int) { return false; }},
        {'b', 1000, [](int i) { return i == 0 || i == 500 || i == 999; }, [](int) { return false; }},
        {'c', 300, [](int i) { return i % 7 == 3; }, [](int i) { return i % 10 == 5; }},
        {'d', 2, [](int i) { return i == 1; }, [](int) { return false; }},
        // More values than one transaction takes: parts of the batch.
        {'f', 2 * static_cast<int>(CSaveToDatabase::kBatchBytes / 60000), [](int i) { return i == 400; },
         [](int) { return false; }, 60000},
    };
    std::vector<std::string> expected;
    for (const Case& c : cases) {
      SCOPED_TRACE(c.letter);
      sink_.reports.clear();
      std::vector<SyslogMessage> messages(c.count);
      std::vector<QueuedAction> actions;
      std::size_t refused = 0;
      for (int i = 0; i < c.count; ++i) {
        const bool bad = c.refusedByCheck(i);
        messages[i].message = std::string(1, c.letter) + (bad ? "-bad-" : "-") + std::to_string(i);
        messages[i].message.resize(std::max(c.length, messages[i].message.size()), 'x');
        actions.push_back({c.brokenRule(i) ? &broken : &good, &messages[i]});
        if (bad || c.brokenRule(i)) ++refused;
        else expected.push_back(Hex(messages[i].message));
      }
      runner_->ExecuteBatch(actions, ActionContext{sink_, nullptr});
      EXPECT_EQ(database.rows("msg"), expected);
      EXPECT_EQ(sink_.reports.size(), refused);
      for (const std::string& report : sink_.reports) EXPECT_THAT(report, HasSubstr("Database CDBException error: "));
    }

    // Through the worker, stopped at once: the batch under way and those behind it are stored.
    sink_.reports.clear();
    CActionWorker worker(std::make_unique<CActionRunner>(std::make_unique<NoBoxes>(), options_), [] {});
    const ActionContext context{sink_, nullptr};
    worker.BeginLoadRules(context);
    worker.RuleLoaded(good, context);
    SyslogMessage message;
    for (int i = 0; i < 5000; ++i) {
      message.message = "e-" + std::to_string(i);
      worker.Execute(good, message, context);
      expected.push_back(Hex(message.message));
    }
    EXPECT_GT(worker.pending(), 0u);
    EXPECT_EQ(worker.Stop(std::chrono::seconds(60)), 0u);
    EXPECT_THAT(sink_.reports, IsEmpty());
    EXPECT_EQ(database.rows("msg"), expected);
  }

  static constexpr const char* kInsert = "INSERT INTO log(host, msg) VALUES ('$hostname', '$msg')";

  static bool CreateTable(const std::string& connect, const std::string& serialKey, const std::string& check = "") {
    CDatabaseConnection db;
    return db.Open(connect) &&
           db.Execute("CREATE TABLE log(n " + serialKey + ", host TEXT, msg TEXT" + check +
                      ", ip TEXT, whole TEXT, names TEXT, fixed TEXT, tx TEXT)");
  }

  qv::testing::TempHome home_;
  RecordingSink sink_;
  CActionRunner::Options options_;
  CActionRunner* runner_ = nullptr;  // owned by the engine
  std::unique_ptr<CRulesEngine> engine_;
};

TEST_F(SaveToDatabaseTest, SqliteStoresEveryMacroValueLiterally) {
  const std::string file = home_.file("messages.db");
  StoresEveryValueLiterally({"Driver=SQLite3;Database=" + file,
                             [&](const std::string& columns) {
                               return SqliteRows(file, "SELECT lower(hex(" + columns + ")) FROM log ORDER BY n");
                             },
                             "INTEGER PRIMARY KEY"});
  // Nothing but the statement ran: no table was read, made or dropped.
  EXPECT_EQ(SqliteRows(file, "SELECT group_concat(name) FROM sqlite_master"), std::vector<std::string>{"log"});
}

TEST_F(SaveToDatabaseTest, PostgresqlStoresEveryMacroValueLiterally) {
  qv::testing::PostgresServer server(home_.path());
  if (!server.available()) GTEST_SKIP() << "the PostgreSQL server binaries are not installed";
  if (!qv::testing::PostgresServer::DriverRegistered()) GTEST_SKIP() << "the PostgreSQL ODBC driver is not registered";
  ASSERT_TRUE(server.Start());
  StoresEveryValueLiterally({server.ConnectString(),
                             [&](const std::string& columns) {
                               return Lines(server.Query("SELECT encode(convert_to(" + columns +
                                                         ", 'UTF8'), 'hex') FROM log ORDER BY n"));
                             },
                             "SERIAL"});
  EXPECT_EQ(server.Query("SELECT string_agg(tablename, ',') FROM pg_tables WHERE schemaname = 'public'"), "log\n");
}

TEST_F(SaveToDatabaseTest, SqliteBatchesKeepEveryGoodRowInOrder) {
  const std::string file = home_.file("messages.db");
  BatchesKeepEveryGoodRowInOrder({"Driver=SQLite3;Database=" + file,
                                  [&](const std::string& columns) {
                                    return SqliteRows(file, "SELECT lower(hex(" + columns + ")) FROM log ORDER BY n");
                                  },
                                  "INTEGER PRIMARY KEY"});
}

TEST_F(SaveToDatabaseTest, PostgresqlBatchesKeepEveryGoodRowInOrderInOneTransactionEach) {
  qv::testing::PostgresServer server(home_.path());
  if (!server.available()) GTEST_SKIP() << "the PostgreSQL server binaries are not installed";
  if (!qv::testing::PostgresServer::DriverRegistered()) GTEST_SKIP() << "the PostgreSQL ODBC driver is not registered";
  ASSERT_TRUE(server.Start());
  const Database database{server.ConnectString(),
                          [&](const std::string& columns) {
                            return Lines(server.Query("SELECT encode(convert_to(" + columns +
                                                      ", 'UTF8'), 'hex') FROM log ORDER BY n"));
                          },
                          "SERIAL"};
  BatchesKeepEveryGoodRowInOrder(database);
  server.Query("ALTER TABLE log ALTER COLUMN tx SET DEFAULT txid_current()");
  SyslogMessage message;
  for (int i = 0; i < 20; ++i) Run(message);  // alone: a transaction each
  // A clean batch is one transaction; so are the rows that it stored around a refused one.
  std::vector<SyslogMessage> messages(100);
  std::vector<QueuedAction> actions;
  CRule rule;
  rule.Name = "to db";
  rule.Action = kActionDatabase;
  rule.ActionValue = kInsert;
  for (SyslogMessage& batched : messages) actions.push_back({&rule, &batched});
  runner_->ExecuteBatch(actions, ActionContext{sink_, nullptr});
  EXPECT_EQ(server.Query("SELECT count(DISTINCT tx), count(*) FROM log WHERE tx IS NOT NULL"), "21|120\n");
}

TEST_F(SaveToDatabaseTest, AStatementPastDbtimeoutIsStoppedAndReportedOncePerInterval) {
  AppSettings().SetInt("Settings", "dbtimeout", 1);
  options_.reportInterval = std::chrono::seconds(3);
  // SQLite's driver ignores the ODBC query timeout; unstopped, each message holds the engine
  // for about a minute here.
  Load("Driver=SQLite3;Database=" + home_.file("m.db"),
       "SELECT count(*) FROM (WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
       "WHERE x < 200000000) SELECT x FROM c WHERE '$msg' <> '')");
  ASSERT_THAT(sink_.reports, IsEmpty());
  SyslogMessage message;
  message.message = "slow";
  const auto first = std::chrono::steady_clock::now();
  for (int i = 0; i < 2; ++i) {
    const auto start = std::chrono::steady_clock::now();
    Run(message);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  }
  const ActionContext context{sink_, nullptr};
  runner_->ReportHeldBack(context);  // the second is held back for the next report
  ASSERT_EQ(sink_.reports.size(), 1u);
  EXPECT_THAT(sink_.reports[0], HasSubstr("\"to db\" was stopped after 1 s;"));
  EXPECT_THAT(sink_.reports[0], HasSubstr("\"dbtimeout\""));

  std::this_thread::sleep_until(first + std::chrono::milliseconds(4500));
  runner_->ReportHeldBack(context);
  ASSERT_EQ(sink_.reports.size(), 2u);
  EXPECT_THAT(sink_.reports[1], HasSubstr("\"to db\" was stopped after 1 s"));
}

TEST_F(SaveToDatabaseTest, AStatementPastDbtimeoutInABatchIsStoppedWhileTheOthersAreKept) {
  AppSettings().SetInt("Settings", "dbtimeout", 1);
  const std::string file = home_.file("m.db");
  ASSERT_TRUE(CreateTable("Driver=SQLite3;Database=" + file, "INTEGER PRIMARY KEY"));
  Load("Driver=SQLite3;Database=" + file, kInsert);
  CRule good;
  good.Name = "to db";
  good.Action = kActionDatabase;
  good.ActionValue = kInsert;
  CRule slow = good;
  slow.Name = "slow";
  slow.ActionValue = "INSERT INTO log(msg) SELECT count(*) FROM (WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL "
                     "SELECT x + 1 FROM c WHERE x < 200000000) SELECT x FROM c WHERE '$msg' <> '')";
  std::vector<SyslogMessage> messages(9);
  std::vector<QueuedAction> actions;
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    messages[i].message = std::to_string(i);
    actions.push_back({i == 4 ? &slow : &good, &messages[i]});
    if (i != 4) expected.push_back(Hex(messages[i].message));
  }
  const auto start = std::chrono::steady_clock::now();
  runner_->ExecuteBatch(actions, ActionContext{sink_, nullptr});
  // Stopped once, not run again: its time is spent.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  EXPECT_EQ(SqliteRows(file, "SELECT lower(hex(msg)) FROM log ORDER BY n"), expected);
  ASSERT_EQ(sink_.reports.size(), 1u) << ::testing::PrintToString(sink_.reports);
  EXPECT_THAT(sink_.reports[0], HasSubstr("\"slow\" was stopped after 1 s;"));
}

}  // namespace
}  // namespace qv
