#include "platform/eventlog/event_log_store.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <ctime>
#include <mutex>

#include "platform/paths/data_root.h"
#include "platform/registry/shared_database.h"

namespace qv::evt {
namespace {

constexpr const char* kDatabaseName = "eventlog.db";

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS logs("
    "  id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE COLLATE NOCASE,"
    "  newest INTEGER NOT NULL DEFAULT 0, count INTEGER NOT NULL DEFAULT 0, bytes INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS records("
    "  id INTEGER PRIMARY KEY, log INTEGER NOT NULL, number INTEGER NOT NULL, record BLOB NOT NULL,"
    "  UNIQUE(log, number));";

// A prepared statement for one call; finalized (and so never holding a read snapshot) at the
// end of the scope.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (db != nullptr) sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  Statement& Bind(int index, int64_t value) {
    sqlite3_bind_int64(stmt_, index, value);
    return *this;
  }
  Statement& Bind(int index, std::string_view text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& BindBlob(int index, std::string_view bytes) {
    sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error.
  int Step() { return stmt_ == nullptr ? SQLITE_ERROR : sqlite3_step(stmt_); }
  int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  std::string_view Blob(int column) const {
    const void* bytes = sqlite3_column_blob(stmt_, column);
    const int size = sqlite3_column_bytes(stmt_, column);
    if (bytes == nullptr) return {};
    return std::string_view(static_cast<const char*>(bytes), static_cast<size_t>(size));
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

bool Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

// Rolls back a transaction that was not committed.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db), open_(Exec(db, "BEGIN IMMEDIATE;")) {}
  ~Transaction() {
    if (open_) Exec(db_, "ROLLBACK;");
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  bool open() const { return open_; }
  bool Commit() {
    open_ = false;
    return Exec(db_, "COMMIT;");
  }

 private:
  sqlite3* db_;
  bool open_;
};

}  // namespace

std::string EventLogFolder() {
  if (!EnsureDataRoot()) return "";
  const std::string folder = DataPath("eventlog");
  // The data root keeps others out; the group of a shared data root may enter (umask 007).
  if (mkdir(folder.c_str(), 0770) != 0 && errno != EEXIST) return "";
  return folder;
}

struct CEventLogStore::Connection {
  std::mutex mutex;
  sqlite3* db = nullptr;
  std::string path;

  // The open database for the current data root, or null when it cannot be opened.
  sqlite3* Db() {
    const std::string folder = EventLogFolder();
    if (folder.empty()) {
      Close();
      return nullptr;
    }
    const std::string wanted = folder + "/" + kDatabaseName;
    if (db != nullptr && wanted == path) return db;
    Close();
    db = OpenSharedDatabase(wanted, kSchema);
    if (db != nullptr) path = wanted;
    return db;
  }

  void Close() {
    if (db != nullptr) sqlite3_close(db);
    db = nullptr;
    path.clear();
  }
};

CEventLogStore& CEventLogStore::Instance() {
  static CEventLogStore store;
  return store;
}

CEventLogStore::CEventLogStore() : connection_(new Connection) {}

CEventLogStore::~CEventLogStore() {
  connection_->Close();
  delete connection_;
}

Status CEventLogStore::Append(std::string_view logName, EventRecord& record, uint64_t maxBytes) {
  std::lock_guard<std::mutex> lock(connection_->mutex);
  sqlite3* db = connection_->Db();
  if (db == nullptr) return kAccessDenied;
  Transaction transaction(db);
  if (!transaction.open()) return kStoreFailed;

  Statement addLog(db, "INSERT OR IGNORE INTO logs(name) VALUES(?1)");
  if (addLog.Bind(1, logName).Step() != SQLITE_DONE) return kStoreFailed;
  Statement readLog(db, "SELECT id, newest, count, bytes FROM logs WHERE name = ?1");
  if (readLog.Bind(1, logName).Step() != SQLITE_ROW) return kStoreFailed;
  const int64_t logId = readLog.Int(0);
  const int64_t newest = readLog.Int(1) + 1;
  int64_t count = readLog.Int(2) + 1;
  int64_t bytes = readLog.Int(3);
  if (newest > UINT32_MAX) return kStoreFailed;

  const auto now = static_cast<uint32_t>(std::time(nullptr));
  record.recordNumber = static_cast<uint32_t>(newest);
  record.timeWritten = now;
  if (record.timeGenerated == 0) record.timeGenerated = now;
  const std::string encoded = EncodeEventRecord(record);
  bytes += static_cast<int64_t>(encoded.size());
  Statement insert(db, "INSERT INTO records(log, number, record) VALUES(?1, ?2, ?3)");
  if (insert.Bind(1, logId).Bind(2, newest).BindBlob(3, encoded).Step() != SQLITE_DONE) return kStoreFailed;

  while (bytes > static_cast<int64_t>(maxBytes) && count > 1) {
    const int64_t oldest = newest - count + 1;
    Statement size(db, "SELECT length(record) FROM records WHERE log = ?1 AND number = ?2");
    if (size.Bind(1, logId).Bind(2, oldest).Step() != SQLITE_ROW) return kStoreFailed;
    bytes -= size.Int(0);
    Statement remove(db, "DELETE FROM records WHERE log = ?1 AND number = ?2");
    if (remove.Bind(1, logId).Bind(2, oldest).Step() != SQLITE_DONE) return kStoreFailed;
    --count;
  }

  Statement update(db, "UPDATE logs SET newest = ?2, count = ?3, bytes = ?4 WHERE id = ?1");
  if (update.Bind(1, logId).Bind(2, newest).Bind(3, count).Bind(4, bytes).Step() != SQLITE_DONE) return kStoreFailed;
  return transaction.Commit() ? kSuccess : kStoreFailed;
}

Status CEventLogStore::GetSpan(std::string_view logName, LogSpan* span) {
  std::lock_guard<std::mutex> lock(connection_->mutex);
  sqlite3* db = connection_->Db();
  if (db == nullptr) return kAccessDenied;
  Statement readLog(db, "SELECT newest, count FROM logs WHERE name = ?1");
  const int rc = readLog.Bind(1, logName).Step();
  *span = LogSpan{};
  if (rc == SQLITE_DONE) return kSuccess;  // a log that never had a record
  if (rc != SQLITE_ROW) return kStoreFailed;
  span->newest = static_cast<uint32_t>(readLog.Int(0));
  span->count = static_cast<uint32_t>(readLog.Int(1));
  span->oldest = span->count == 0 ? 0 : span->newest - span->count + 1;
  return kSuccess;
}

Status CEventLogStore::Read(std::string_view logName, uint32_t first, bool forwards, std::size_t capacity,
                            std::string* out, uint32_t* last, uint32_t* firstSize) {
  std::lock_guard<std::mutex> lock(connection_->mutex);
  sqlite3* db = connection_->Db();
  if (db == nullptr) return kAccessDenied;
  Statement select(db, forwards ? "SELECT r.number, r.record FROM records r JOIN logs l ON r.log = l.id "
                                  "WHERE l.name = ?1 AND r.number >= ?2 ORDER BY r.number ASC"
                                : "SELECT r.number, r.record FROM records r JOIN logs l ON r.log = l.id "
                                  "WHERE l.name = ?1 AND r.number <= ?2 ORDER BY r.number DESC");
  select.Bind(1, logName).Bind(2, first);
  const std::size_t start = out->size();
  int rc = SQLITE_ROW;
  while ((rc = select.Step()) == SQLITE_ROW) {
    const std::string_view record = select.Blob(1);
    if (out->size() == start && record.size() > capacity) {
      *firstSize = static_cast<uint32_t>(record.size());
      return kInsufficientBuffer;
    }
    if (out->size() - start + record.size() > capacity) break;
    out->append(record);
    *last = static_cast<uint32_t>(select.Int(0));
  }
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return kStoreFailed;
  return out->size() == start ? kHandleEof : kSuccess;
}

}  // namespace qv::evt
