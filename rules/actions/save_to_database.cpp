#include "rules/actions/save_to_database.h"

#include <string>
#include <vector>

#include "core/settings/settings_store.h"
#include "rules/actions/substitute_macros.h"
#include "rules/database/sql_parameters.h"

namespace qv {

void CSaveToDatabase::Close() { connection_.Close(); }

void CSaveToDatabase::RuleLoaded(CSyslogSink& reporter) {
  if (connection_.IsOpen()) return;
  timeoutSeconds_ = AppSettings().GetInt("Settings", "dbtimeout", kDefaultDatabaseTimeoutSeconds);
  connection_.SetQueryTimeout(timeoutSeconds_);
  if (!connection_.Open(AppSettings().GetString("Settings", "db"))) reporter.OnLocalMessage(connection_.ErrorReport());
}

void CSaveToDatabase::Execute(const CRule& rule, const SyslogMessage& message, CSyslogSink& reporter) {
  const SqlWithParameters statement = ParameterizeStatement(rule.ActionValue, kMacroNames);
  std::vector<std::string> values;
  values.reserve(statement.parameters.size());
  for (const std::string& text : statement.parameters) values.push_back(SubstituteMacros(text, message, true));
  if (connection_.Execute(statement.text, values)) return;
  if (!connection_.lastError().timedOut) {
    reporter.OnLocalMessage(connection_.ErrorReport());
  } else if (const auto count = timeouts_.Count(rule.Name)) {
    ReportTimeouts(rule.Name, *count, reporter);
  }
}

void CSaveToDatabase::ReportHeldBack(CSyslogSink& reporter) {
  for (const auto& [ruleName, count] : timeouts_.TakeDue()) ReportTimeouts(ruleName, count, reporter);
}

void CSaveToDatabase::ReportTimeouts(const std::string& ruleName, uint64_t count, CSyslogSink& reporter) const {
  std::string text = "Save to Database: the statement of rule \"" + ruleName + "\" was stopped after " +
                     std::to_string(timeoutSeconds_) + " s";
  if (count > 1) text += " (" + std::to_string(count) + " times since the last report)";
  text += "; make it faster, or raise the setting \"dbtimeout\" (seconds, 0 for no limit)";
  reporter.OnLocalMessage(text);
}

}  // namespace qv
