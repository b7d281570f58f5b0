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
//
// Owned by the action runner and used on its thread only.

#include <chrono>

#include "core/message/syslog_message.h"
#include "core/report/report_throttle.h"
#include "reception/syslog_sink.h"
#include "rules/database/database_connection.h"
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
  void ReportHeldBack(CSyslogSink& reporter);

 private:
  void ReportTimeouts(const std::string& ruleName, uint64_t count, CSyslogSink& reporter) const;

  CDatabaseConnection connection_;
  CReportThrottle timeouts_;  // by rule name
  int timeoutSeconds_ = kDefaultDatabaseTimeoutSeconds;
};

}  // namespace qv
