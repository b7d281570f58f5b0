#include "platform/registry/shared_database.h"

#include <sqlite3.h>

#include <chrono>
#include <thread>

#include "platform/paths/data_root.h"

namespace qv {
namespace {

bool Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

// The opened database, or null; `busy` tells whether another connection was in the way.
sqlite3* OpenOnce(const std::string& path, const char* schema, bool* busy) {
  *busy = false;
  CreateDataFile(path);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 10000);
  if (Exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;") && Exec(db, "BEGIN IMMEDIATE;") &&
      Exec(db, schema) && Exec(db, "COMMIT;")) {
    return db;
  }
  const int code = sqlite3_errcode(db) & 0xff;
  *busy = code == SQLITE_BUSY || code == SQLITE_LOCKED;
  sqlite3_close(db);  // rolls an unfinished transaction back
  return nullptr;
}

}  // namespace

sqlite3* OpenSharedDatabase(const std::string& path, const char* schema) {
  sqlite3* db = nullptr;
  bool busy = true;
  for (int attempt = 0; attempt < 50 && db == nullptr && busy; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    db = OpenOnce(path, schema, &busy);
  }
  return db;
}

}  // namespace qv
