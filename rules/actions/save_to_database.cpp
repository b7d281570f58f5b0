#include "rules/actions/save_to_database.h"

#include <string>
#include <vector>

#include "core/settings/settings_store.h"
#include "rules/actions/substitute_macros.h"

namespace qv {

// One record's statement, ready to run: the text kept in parameterized_ and the values to bind.
struct CSaveToDatabase::Statement {
  const CRule* rule;
  const std::string* text;
  std::vector<std::string> values;
};

void CSaveToDatabase::Close() {
  connection_.Close();
  parameterized_.clear();
}

void CSaveToDatabase::RuleLoaded(CSyslogSink& reporter) {
  if (connection_.IsOpen()) return;
  timeoutSeconds_ = AppSettings().GetInt("Settings", "dbtimeout", kDefaultDatabaseTimeoutSeconds);
  connection_.SetQueryTimeout(timeoutSeconds_);
  if (!connection_.Open(AppSettings().GetString("Settings", "db"))) reporter.OnLocalMessage(connection_.ErrorReport());
}

CSaveToDatabase::Statement CSaveToDatabase::Bind(const CRule& rule, const SyslogMessage& message) {
  auto found = parameterized_.find(rule.ActionValue);
  if (found == parameterized_.end()) {
    found = parameterized_.emplace(rule.ActionValue, ParameterizeStatement(rule.ActionValue, kMacroNames)).first;
  }
  const SqlWithParameters& statement = found->second;
  Statement bound{&rule, &statement.text, {}};
  bound.values.reserve(statement.parameters.size());
  for (const std::string& text : statement.parameters) bound.values.push_back(SubstituteMacros(text, message, true));
  return bound;
}

void CSaveToDatabase::Execute(const CRule& rule, const SyslogMessage& message, CSyslogSink& reporter) {
  RunAlone(Bind(rule, message), reporter);
}

void CSaveToDatabase::ExecuteBatch(std::span<const QueuedAction> actions, CSyslogSink& reporter) {
  std::vector<Statement> statements;
  statements.reserve(actions.size());
  for (const QueuedAction& action : actions) statements.push_back(Bind(*action.rule, *action.message));
  const std::span<const Statement> all(statements);
  std::size_t from = 0;
  while (from < all.size()) {
    if (all.size() - from == 1 || !connection_.IsOpen()) {
      for (const Statement& statement : all.subspan(from)) RunAlone(statement, reporter);
      return;
    }
    const Outcome outcome = RunInTransaction(all.subspan(from));
    if (outcome.committed) return;
    const std::size_t failed = from + outcome.failed;
    if (failed == all.size()) {  // the commit (or the start) failed: no statement to blame
      for (const Statement& statement : all.subspan(from)) RunAlone(statement, reporter);
      return;
    }
    // The statements before the failed one succeeded a moment ago: they run again together.
    const std::span<const Statement> before = all.subspan(from, failed - from);
    if (!before.empty() && !RunInTransaction(before).committed) {
      for (const Statement& statement : before) RunAlone(statement, reporter);
    }
    if (outcome.failedTimedOut) {
      CountTimeout(*all[failed].rule, reporter);
    } else {
      RunAlone(all[failed], reporter);
    }
    from = failed + 1;
  }
}

CSaveToDatabase::Outcome CSaveToDatabase::RunInTransaction(std::span<const Statement> statements) {
  Outcome outcome;
  outcome.failed = statements.size();
  if (!connection_.BeginTransaction()) return outcome;
  for (std::size_t i = 0; i < statements.size(); ++i) {
    if (!connection_.Execute(*statements[i].text, statements[i].values)) {
      outcome.failed = i;
      outcome.failedTimedOut = connection_.lastError().timedOut;
      // The failure is the statement's; one of the rollback would only say that again.
      connection_.EndTransaction(false);
      return outcome;
    }
  }
  // A commit that fails has every statement run alone, each saying its own failure.
  outcome.committed = connection_.EndTransaction(true);
  return outcome;
}

void CSaveToDatabase::RunAlone(const Statement& statement, CSyslogSink& reporter) {
  if (!connection_.Execute(*statement.text, statement.values)) ReportFailure(*statement.rule, reporter);
}

void CSaveToDatabase::ReportFailure(const CRule& rule, CSyslogSink& reporter) {
  if (connection_.lastError().timedOut) {
    CountTimeout(rule, reporter);
  } else {
    reporter.OnLocalMessage(connection_.ErrorReport());
  }
}

void CSaveToDatabase::CountTimeout(const CRule& rule, CSyslogSink& reporter) {
  if (const auto count = timeouts_.Count(rule.Name)) ReportTimeouts(rule.Name, *count, reporter);
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
