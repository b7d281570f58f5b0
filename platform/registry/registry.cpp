#include "platform/registry/registry.h"

#include <sqlite3.h>

#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/paths/data_root.h"
#include "platform/registry/shared_database.h"

namespace qv::reg {

struct KeyHandle {
  sqlite3_int64 id;
  bool writable;
};

namespace {

constexpr sqlite3_int64 kRootId = 1;
KeyHandle g_localMachine{kRootId, true};

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY, parent INTEGER NOT NULL,"
    "  name TEXT NOT NULL COLLATE NOCASE, UNIQUE(parent, name));"
    "CREATE TABLE IF NOT EXISTS vals("
    "  key INTEGER NOT NULL, name TEXT NOT NULL COLLATE NOCASE,"
    "  type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, name)) WITHOUT ROWID;"
    "INSERT OR IGNORE INTO keys(id, parent, name) VALUES(1, 0, '');";

// One connection per process, reopened when the data root changes (tests move QUORVEL_HOME).
// Prepared statements are kept per SQL text; the mutex serialises every use.
class Store {
 public:
  ~Store() { Close(); }

  // Returns the open database, or null when the store cannot be opened for this user.
  sqlite3* Db() {
    const std::string path = DataPath("registry.db");
    if (db_ != nullptr && path == path_) return db_;
    Close();
    if (!EnsureDataRoot()) return nullptr;
    db_ = OpenSharedDatabase(path, kSchema);
    if (db_ != nullptr) path_ = path;
    return db_;
  }

  sqlite3_stmt* Prepare(const char* sql) {
    auto found = statements_.find(sql);
    if (found != statements_.end()) {
      sqlite3_reset(found->second);
      sqlite3_clear_bindings(found->second);
      return found->second;
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) return nullptr;
    statements_.emplace(sql, stmt);
    return stmt;
  }

  std::mutex& mutex() { return mutex_; }

 private:
  void Close() {
    for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
    statements_.clear();
    if (db_ != nullptr) sqlite3_close(db_);
    db_ = nullptr;
    path_.clear();
  }

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  std::string path_;
  std::map<const char*, sqlite3_stmt*> statements_;
};

Store& TheStore() {
  static Store store;
  return store;
}

// A locked session on the store for the length of one call.
class Session {
 public:
  Session() : lock_(TheStore().mutex()), db_(TheStore().Db()) {}
  ~Session() {
    // A stepped but unreset statement would hold its read snapshot open and hide later writes
    // of other processes from this connection.
    for (sqlite3_stmt* stmt : used_) sqlite3_reset(stmt);
    if (inTransaction_) sqlite3_exec(db_, "ROLLBACK;", nullptr, nullptr, nullptr);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool open() const { return db_ != nullptr; }

  bool Begin() {
    inTransaction_ = sqlite3_exec(db_, "BEGIN IMMEDIATE;", nullptr, nullptr, nullptr) == SQLITE_OK;
    return inTransaction_;
  }
  bool Commit() {
    inTransaction_ = false;
    return sqlite3_exec(db_, "COMMIT;", nullptr, nullptr, nullptr) == SQLITE_OK;
  }

  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* stmt = TheStore().Prepare(sql);
    if (stmt != nullptr) used_.push_back(stmt);
    return stmt;
  }
  // The statement with ?1 bound to a key's id, and ?2 to a name when one is given; null on a
  // database error.
  sqlite3_stmt* Prepare(const char* sql, sqlite3_int64 id) {
    sqlite3_stmt* stmt = Prepare(sql);
    if (stmt != nullptr) sqlite3_bind_int64(stmt, 1, id);
    return stmt;
  }
  sqlite3_stmt* Prepare(const char* sql, sqlite3_int64 id, std::string_view name) {
    sqlite3_stmt* stmt = Prepare(sql, id);
    if (stmt != nullptr) sqlite3_bind_text(stmt, 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    return stmt;
  }

  bool KeyExists(sqlite3_int64 id) {
    sqlite3_stmt* stmt = Prepare("SELECT 1 FROM keys WHERE id = ?1", id);
    return stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW;
  }

  // The child's id, 0 when absent, -1 on a database error.
  sqlite3_int64 FindChild(sqlite3_int64 parent, std::string_view name) {
    sqlite3_stmt* stmt = Prepare("SELECT id FROM keys WHERE parent = ?1 AND name = ?2", parent, name);
    if (stmt == nullptr) return -1;
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) return sqlite3_column_int64(stmt, 0);
    return rc == SQLITE_DONE ? 0 : -1;
  }

  sqlite3_int64 AddChild(sqlite3_int64 parent, std::string_view name) {
    sqlite3_stmt* stmt = Prepare("INSERT INTO keys(parent, name) VALUES(?1, ?2)", parent, name);
    if (stmt == nullptr) return -1;
    return sqlite3_step(stmt) == SQLITE_DONE ? sqlite3_last_insert_rowid(db_) : -1;
  }

 private:
  std::lock_guard<std::mutex> lock_;
  sqlite3* db_;
  bool inTransaction_ = false;
  std::vector<sqlite3_stmt*> used_;
};

std::vector<std::string_view> SplitPath(std::string_view path) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string ColumnBlob(sqlite3_stmt* stmt, int column) {
  const void* bytes = sqlite3_column_blob(stmt, column);
  const int size = sqlite3_column_bytes(stmt, column);
  return bytes == nullptr ? std::string() : std::string(static_cast<const char*>(bytes), static_cast<size_t>(size));
}

// Steps an enumeration's statement ("... LIMIT 1 OFFSET ?2") to the index-th row: kSuccess with
// the row at hand, kNoMoreItems past the last one.
Status StepToRow(sqlite3_stmt* stmt, uint32_t index) {
  if (stmt == nullptr) return kStoreFailed;
  sqlite3_bind_int64(stmt, 2, index);
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_DONE) return kNoMoreItems;
  return rc == SQLITE_ROW ? kSuccess : kStoreFailed;
}

Status OpenOrCreate(HKEY parent, std::string_view subKey, Access access, HKEY* result, bool create) {
  if (result == nullptr) return kInvalidHandle;
  *result = nullptr;
  if (parent == nullptr) return kInvalidHandle;
  Session session;
  if (!session.open()) return kAccessDenied;
  if (create && !session.Begin()) return kStoreFailed;
  if (!session.KeyExists(parent->id)) return kKeyDeleted;
  sqlite3_int64 id = parent->id;
  for (std::string_view part : SplitPath(subKey)) {
    sqlite3_int64 child = session.FindChild(id, part);
    if (child < 0) return kStoreFailed;
    if (child == 0) {
      if (!create) return kFileNotFound;
      child = session.AddChild(id, part);
      if (child < 0) return kStoreFailed;
    }
    id = child;
  }
  if (create && !session.Commit()) return kStoreFailed;
  *result = new KeyHandle{id, access == Access::kReadWrite};
  return kSuccess;
}

}  // namespace

HKEY LocalMachine() { return &g_localMachine; }

Status CreateKey(HKEY parent, std::string_view subKey, Access access, HKEY* result) {
  return OpenOrCreate(parent, subKey, access, result, true);
}

Status OpenKey(HKEY parent, std::string_view subKey, Access access, HKEY* result) {
  return OpenOrCreate(parent, subKey, access, result, false);
}

void CloseKey(HKEY key) {
  if (key != nullptr && key != &g_localMachine) delete key;
}

Status QueryValue(HKEY key, std::string_view name, uint32_t* type, std::string* data) {
  if (key == nullptr) return kInvalidHandle;
  Session session;
  if (!session.open()) return kAccessDenied;
  sqlite3_stmt* stmt = session.Prepare("SELECT type, data FROM vals WHERE key = ?1 AND name = ?2", key->id, name);
  if (stmt == nullptr) return kStoreFailed;
  const int rc = sqlite3_step(stmt);
  if (rc != SQLITE_ROW) {
    if (rc != SQLITE_DONE) return kStoreFailed;
    return session.KeyExists(key->id) ? kFileNotFound : kKeyDeleted;
  }
  if (type != nullptr) *type = static_cast<uint32_t>(sqlite3_column_int64(stmt, 0));
  if (data != nullptr) *data = ColumnBlob(stmt, 1);
  return kSuccess;
}

Status SetValue(HKEY key, std::string_view name, uint32_t type, std::string_view data) {
  if (key == nullptr) return kInvalidHandle;
  if (!key->writable) return kAccessDenied;
  Session session;
  if (!session.open()) return kAccessDenied;
  if (!session.Begin()) return kStoreFailed;
  if (!session.KeyExists(key->id)) return kKeyDeleted;
  sqlite3_stmt* stmt = session.Prepare("INSERT INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4) "
                                       "ON CONFLICT(key, name) DO UPDATE SET type = ?3, data = ?4",
                                       key->id, name);
  if (stmt == nullptr) return kStoreFailed;
  sqlite3_bind_int64(stmt, 3, type);
  sqlite3_bind_blob(stmt, 4, data.empty() ? "" : data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
  if (sqlite3_step(stmt) != SQLITE_DONE) return kStoreFailed;
  return session.Commit() ? kSuccess : kStoreFailed;
}

Status SetDword(HKEY key, std::string_view name, uint32_t value) {
  char bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  return SetValue(key, name, kRegDword, std::string_view(bytes, sizeof bytes));
}

Status SetSz(HKEY key, std::string_view name, std::string_view text) { return SetValue(key, name, kRegSz, text); }

Status DeleteValue(HKEY key, std::string_view name) {
  if (key == nullptr) return kInvalidHandle;
  if (!key->writable) return kAccessDenied;
  Session session;
  if (!session.open()) return kAccessDenied;
  sqlite3_stmt* stmt = session.Prepare("DELETE FROM vals WHERE key = ?1 AND name = ?2", key->id, name);
  if (stmt == nullptr) return kStoreFailed;
  if (sqlite3_step(stmt) != SQLITE_DONE) return kStoreFailed;
  return sqlite3_changes(sqlite3_db_handle(stmt)) > 0 ? kSuccess : kFileNotFound;
}

Status DeleteKey(HKEY parent, std::string_view subKey) {
  if (parent == nullptr) return kInvalidHandle;
  if (!parent->writable) return kAccessDenied;
  const std::vector<std::string_view> parts = SplitPath(subKey);
  if (parts.empty()) return kAccessDenied;  // a key is deleted through its parent, never itself
  Session session;
  if (!session.open()) return kAccessDenied;
  if (!session.Begin()) return kStoreFailed;
  sqlite3_int64 id = parent->id;
  for (std::string_view part : parts) {
    id = session.FindChild(id, part);
    if (id < 0) return kStoreFailed;
    if (id == 0) return kFileNotFound;
  }
  static constexpr const char* kSubtree =
      "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN sub ON k.parent = sub.id) ";
  static const std::string kDeleteValues = std::string(kSubtree) + "DELETE FROM vals WHERE key IN sub";
  static const std::string kDeleteKeys = std::string(kSubtree) + "DELETE FROM keys WHERE id IN sub";
  for (const std::string* sql : {&kDeleteValues, &kDeleteKeys}) {
    sqlite3_stmt* stmt = session.Prepare(sql->c_str(), id);
    if (stmt == nullptr || sqlite3_step(stmt) != SQLITE_DONE) return kStoreFailed;
  }
  return session.Commit() ? kSuccess : kStoreFailed;
}

Status EnumKey(HKEY key, uint32_t index, std::string* name) {
  if (key == nullptr) return kInvalidHandle;
  Session session;
  if (!session.open()) return kAccessDenied;
  sqlite3_stmt* stmt =
      session.Prepare("SELECT name FROM keys WHERE parent = ?1 ORDER BY name LIMIT 1 OFFSET ?2", key->id);
  const Status status = StepToRow(stmt, index);
  if (status == kSuccess && name != nullptr) *name = ColumnBlob(stmt, 0);
  return status;
}

Status EnumValue(HKEY key, uint32_t index, std::string* name, uint32_t* type, std::string* data) {
  if (key == nullptr) return kInvalidHandle;
  Session session;
  if (!session.open()) return kAccessDenied;
  sqlite3_stmt* stmt =
      session.Prepare("SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY name LIMIT 1 OFFSET ?2", key->id);
  const Status status = StepToRow(stmt, index);
  if (status != kSuccess) return status;
  if (name != nullptr) *name = ColumnBlob(stmt, 0);
  if (type != nullptr) *type = static_cast<uint32_t>(sqlite3_column_int64(stmt, 1));
  if (data != nullptr) *data = ColumnBlob(stmt, 2);
  return kSuccess;
}

Status QuerySubKeyCount(HKEY key, uint32_t* count) {
  if (key == nullptr || count == nullptr) return kInvalidHandle;
  Session session;
  if (!session.open()) return kAccessDenied;
  sqlite3_stmt* stmt = session.Prepare("SELECT COUNT(*) FROM keys WHERE parent = ?1", key->id);
  if (stmt == nullptr || sqlite3_step(stmt) != SQLITE_ROW) return kStoreFailed;
  if (!session.KeyExists(key->id)) return kKeyDeleted;
  *count = static_cast<uint32_t>(sqlite3_column_int64(stmt, 0));
  return kSuccess;
}

std::string_view StripRootPrefix(std::string_view path) {
  for (std::string_view prefix : {"HKEY_LOCAL_MACHINE", "HKLM"}) {
    if (path.size() < prefix.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < prefix.size() && same; ++i) {
      same = std::toupper(static_cast<unsigned char>(path[i])) == prefix[i];
    }
    if (!same) continue;
    if (path.size() == prefix.size()) return {};
    if (path[prefix.size()] == '\\') return path.substr(prefix.size() + 1);
  }
  return path;
}

}  // namespace qv::reg
