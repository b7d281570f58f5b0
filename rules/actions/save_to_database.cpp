#include "rules/actions/save_to_database.h"

#include <string>
#include <vector>

#include "core/settings/settings_store.h"
#include "rules/actions/substitute_macros.h"

namespace qv {

// The statements of a batch, ready to run: per record, its rule, the statement text kept in
// parameterized_ (records of one statement share the pointer) and the values to bind.
struct CSaveToDatabase::Batch {
  std::vector<const CRule*> rules;
  std::vector<const std::string*> texts;
  std::vector<std::vector<std::string>> values;
  std::size_t bytes = 0;  // of the values

  std::size_t size() const { return rules.size(); }
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

void CSaveToDatabase::Add(const CRule& rule, const SyslogMessage& message, Batch& batch) {
  auto found = parameterized_.find(rule.ActionValue);
  if (found == parameterized_.end()) {
    found = parameterized_.emplace(rule.ActionValue, ParameterizeStatement(rule.ActionValue, kMacroNames)).first;
  }
  const SqlWithParameters& statement = found->second;
  batch.rules.push_back(&rule);
  batch.texts.push_back(&statement.text);
  std::vector<std::string>& values = batch.values.emplace_back();
  values.reserve(statement.parameters.size());
  for (const std::string& text : statement.parameters) {
    batch.bytes += values.emplace_back(SubstituteMacros(text, message, true)).size();
  }
}

void CSaveToDatabase::Execute(const CRule& rule, const SyslogMessage& message, CSyslogSink& reporter) {
  Batch batch;
  Add(rule, message, batch);
  RunAlone(batch, 0, reporter);
}

void CSaveToDatabase::ExecuteBatch(std::span<const QueuedAction> actions, CSyslogSink& reporter) {
  Batch batch;
  for (const QueuedAction& action : actions) {
    Add(*action.rule, *action.message, batch);
    if (batch.bytes >= kBatchBytes) {
      Run(batch, reporter);
      batch = {};
    }
  }
  if (batch.size() > 0) Run(batch, reporter);
}

void CSaveToDatabase::Run(const Batch& batch, CSyslogSink& reporter) {
  const std::size_t size = batch.size();
  const auto runAlone = [&](std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) RunAlone(batch, i, reporter);
  };
  std::size_t from = 0;
  std::size_t singlyUntil = 0;  // records before this one run by themselves, not in arrays
  while (from < size) {
    const bool alone = size - from == 1 || !connection_.IsOpen();
    const Outcome outcome = alone ? Outcome{} : RunInTransaction(batch, from, size, singlyUntil);
    if (outcome.committed) return;
    const std::size_t failed = outcome.failed;
    if (alone || failed == size) {  // or the start or the commit failed: no record to blame
      runAlone(from, size);
      return;
    }
    // The records before the failure succeeded a moment ago: they run again together.
    if (failed > from && !RunInTransaction(batch, from, failed, 0).committed) runAlone(from, failed);
    if (outcome.suspectEnd > failed + 1) {
      // An array failed somewhere among these records: they run one by one to find which.
      from = failed;
      singlyUntil = outcome.suspectEnd;
      continue;
    }
    if (outcome.timedOut) {
      CountTimeout(*batch.rules[failed], reporter);
    } else {
      RunAlone(batch, failed, reporter);
    }
    from = failed + 1;
  }
}

CSaveToDatabase::Outcome CSaveToDatabase::RunInTransaction(const Batch& batch, std::size_t from, std::size_t to,
                                                           std::size_t singlyUntil) {
  Outcome outcome{false, to, to, false};
  if (!connection_.BeginTransaction()) return outcome;
  const std::span<const std::vector<std::string>> values(batch.values);
  for (std::size_t i = from; i < to;) {
    // The records of one statement that follow each other go together, as arrays.
    std::size_t end = i + 1;
    if (i >= singlyUntil) {
      while (end < to && batch.texts[end] == batch.texts[i]) ++end;
    }
    const CDatabaseConnection::RowsResult result = connection_.ExecuteRows(*batch.texts[i], values.subspan(i, end - i));
    if (result.suspect > 0) {
      outcome.failed = i + result.done;
      outcome.suspectEnd = outcome.failed + result.suspect;
      outcome.timedOut = connection_.lastError().timedOut;
      // The failure is the statement's; one of the rollback would only say that again.
      connection_.EndTransaction(false);
      return outcome;
    }
    i = end;
  }
  // A commit that fails has every statement run alone, each saying its own failure.
  outcome.committed = connection_.EndTransaction(true);
  return outcome;
}

void CSaveToDatabase::RunAlone(const Batch& batch, std::size_t index, CSyslogSink& reporter) {
  if (!connection_.Execute(*batch.texts[index], batch.values[index])) ReportFailure(*batch.rules[index], reporter);
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
