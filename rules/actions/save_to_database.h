#pragma once
// The "Save to Database" action: the rule's statement runs on the connection opened at
// LoadRules, and whatever a message supplies travels as bound parameters, never as statement
// text. Each string literal of the statement that holds a macro, and each macro outside a
// literal, becomes one parameter whose value is that text with the macros substituted
// (rules/database/sql_parameters.h); the rest of the statement is sent as the user wrote it.
//
// - The connection opens with the setting "db" and limits each statement to "dbtimeout"
//   seconds (default 10; 0 for no limit), both read when a database rule is loaded and the
//   connection is not open. A failure to open is reported, and the next database rule of the
//   load tries again.
// - Every failed statement is reported as "Database CDBException error: %s, (%d)", also while
//   the connection is not open, except one stopped at its time limit: that is said at most
//   once per report interval (a minute) per rule, with the count since the last report and
//   what to do about it; ReportHeldBack says the count of a burst that has stopped.
// - Statements given together (ExecuteBatch) run in order in one transaction, committed once
//   (up to kBatchBytes of values; a batch with more takes one transaction per part), so that a
//   server stores them at the rate of the network rather than one commit a row. A
//   failed statement costs only itself: the transaction is rolled back, the statements before
//   it run again in a transaction of their own, it runs once more alone (and is reported as
//   above when it fails again), and the batch goes on after it. One stopped at its time limit
//   is not run again, since it has had its time. When a commit fails, each statement of that
//   transaction runs alone. The records of one statement that follow each other go to the
//   driver as arrays of parameter sets (CDatabaseConnection::ExecuteRows), so that a server
//   driver sends many rows without waiting for each answer; where a failed array does not name
//   its row, the records among which it lies run one by one in the next transaction to find
//   it. So a statement runs a bounded number of times per batch (at most five), each time
//   under the limit, and the rows that are stored keep the order of their records (one that
//   only a retry stored comes after those around it).
//
// Owned by the action runner and used on its thread only.

#include <chrono>
#include <span>
#include <string>
#include <unordered_map>

#include "core/message/syslog_message.h"
#include "core/report/report_throttle.h"
#include "reception/syslog_sink.h"
#include "rules/action_executor.h"
#include "rules/database/database_connection.h"
#include "rules/database/sql_parameters.h"
#include "rules/rule.h"

namespace qv {

inline constexpr int kDefaultDatabaseTimeoutSeconds = 10;

class CSaveToDatabase {
 public:
  explicit CSaveToDatabase(std::chrono::milliseconds reportInterval = std::chrono::minutes(1))
      : timeouts_(reportInterval) {}

  // LoadRules is replacing the rules: the connection closes.
  void Close();
  // A database rule was loaded: opens the connection unless it is open.
  void RuleLoaded(CSyslogSink& reporter);
  void Execute(const CRule& rule, const SyslogMessage& message, CSyslogSink& reporter);
  // The actions' statements in order, in one transaction, as described above. Every rule's
  // action is "Save to Database".
  void ExecuteBatch(std::span<const QueuedAction> actions, CSyslogSink& reporter);
  void ReportHeldBack(CSyslogSink& reporter);

  // The most values a batch holds at once; macros may make each up to 64 KiB.
  static constexpr std::size_t kBatchBytes = 16 * 1024 * 1024;

 private:
  struct Batch;
  // How a transaction over some records of a batch ended.
  struct Outcome {
    bool committed = false;
    std::size_t failed = 0;      // the first record not known to have succeeded; the end when none failed
    std::size_t suspectEnd = 0;  // the failure lies in records [failed, suspectEnd)
    bool timedOut = false;       // it was stopped at its time limit
  };

  void Add(const CRule& rule, const SyslogMessage& message, Batch& batch);
  // Runs the statements of `batch` as ExecuteBatch describes.
  void Run(const Batch& batch, CSyslogSink& reporter);
  // Runs records [from, to) in one transaction: those of one statement that follow each other
  // as arrays, except those before `singlyUntil`, which run one by one.
  Outcome RunInTransaction(const Batch& batch, std::size_t from, std::size_t to, std::size_t singlyUntil);
  void RunAlone(const Batch& batch, std::size_t index, CSyslogSink& reporter);
  // Says the last failure of the connection as the rule's.
  void ReportFailure(const CRule& rule, CSyslogSink& reporter);
  void CountTimeout(const CRule& rule, CSyslogSink& reporter);
  void ReportTimeouts(const std::string& ruleName, uint64_t count, CSyslogSink& reporter) const;

  CDatabaseConnection connection_;
  // Each rule's statement split into text and parameters once per load, by statement text.
  std::unordered_map<std::string, SqlWithParameters> parameterized_;
  CReportThrottle timeouts_;  // by rule name
  int timeoutSeconds_ = kDefaultDatabaseTimeoutSeconds;
};

}  // namespace qv
