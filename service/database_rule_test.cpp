// "Save to Database" end to end: a real dunmir with a database rule on SQLite's ODBC driver,
// datagrams sent to it over loopback (in a network namespace of the test's own when it may make
// one), and the rows read back from the database file.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/settings/settings_store.h"
#include "service/dunmir_test_process.h"
#include "testing/free_udp_port.h"
#include "testing/network_namespace.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

using namespace std::chrono_literals;


void SendDatagram(int32_t port, const std::string& text) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  close(fd);
}

// Rows of `sql`, each its columns joined by '|'.
std::vector<std::string> Rows(const std::string& file, const char* sql) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 1000);
    sqlite3_exec(
        db, sql,
        [](void* out, int count, char** columns, char**) {
          std::string row;
          for (int i = 0; i < count; ++i) row += (i > 0 ? "|" : "") + std::string(columns[i] ? columns[i] : "NULL");
          static_cast<std::vector<std::string>*>(out)->push_back(row);
          return 0;
        },
        &rows, nullptr);
  }
  sqlite3_close(db);
  return rows;
}

TEST(DatabaseRuleTest, TheServiceStoresWhatASenderWritesAndRunsNoneOfIt) {
  qv::testing::OwnNetworkNamespace::Enter();  // where it may; loopback either way
  qv::testing::TempHome home;
  const std::string file = home.file("messages.db");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE log(host TEXT, msg TEXT)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);

  const int32_t port = qv::testing::FreeUdpPort();
  const CSettingsStore& store = AppSettings();
  store.SetInt("Settings", "udpport", port);
  store.SetInt("Settings", "SNMPTrapMonitor", 0);
  // The strict reading takes any word after the stamp as the host, so the hostile word below
  // reaches $hostname (the lenient one leaves a word that cannot name a host in the text).
  store.SetInt("Settings", "lenient", 0);
  store.SetString("Settings", "db", ("Driver=SQLite3;Database=" + file).c_str());
  store.SetInt("Settings", "rulescount", 1);
  store.SetInt("Rules\\rule0", "Action", 9);
  store.SetString("Rules\\rule0", "ActionValue", "INSERT INTO log VALUES ('$hostname', '$msg')");
  const pid_t dunmir = qv::testing::SpawnDunmir({"debug"});
  const auto started = std::chrono::steady_clock::now();
  while (!qv::testing::UdpPortIsTaken(port) && std::chrono::steady_clock::now() - started < 10s) std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(qv::testing::UdpPortIsTaken(port));

  const std::vector<std::pair<std::string, std::string>> sent = {
      {"x'||(SELECT/**/group_concat(name)/**/FROM/**/sqlite_master)||'", "first"},
      {"gw1", "it's'); DROP TABLE log; -- \\' \\\\ \xc3\xa9t\xc3\xa9 \xe9"},
  };
  for (const auto& [host, text] : sent) SendDatagram(port, "<11>Oct  5 07:03:07 " + host + " " + text);
  std::vector<std::string> rows;
  for (const auto deadline = std::chrono::steady_clock::now() + 10s;
       rows.size() < sent.size() && std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(50ms)) {
    rows = Rows(file, "SELECT host, msg FROM log ORDER BY rowid");
  }
  kill(dunmir, SIGTERM);
  EXPECT_EQ(qv::testing::WaitForExit(dunmir), 0);

  ASSERT_EQ(rows.size(), sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i) EXPECT_EQ(rows[i], sent[i].first + "|" + sent[i].second);
  EXPECT_EQ(Rows(file, "SELECT name FROM sqlite_master"), std::vector<std::string>{"log"});
}

}  // namespace
}  // namespace qv
