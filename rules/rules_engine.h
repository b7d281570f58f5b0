#pragma once
// Puts every received record through the enabled rules, in their stored order. One engine
// belongs to each message store (the windowed program's document, the service's engine).
//
// For each rule whose conditions the record meets, the rule's per-sender threshold is applied
// and then its action performed: "Discard message" ends the run and tells the caller to drop the
// record, "Highlight message" sets the caller's highlight flag, "Modify Facility" and "Modify
// Severity" change the record so that later rules test the new values, and every other action
// goes to the action executor. With first-rule-only set, the run ends after the first rule whose
// action was performed; a rule held back by its threshold does not count.
//
// Thresholds: after a rule with ThreshSecs fired for a sender address, it stays silent for that
// sender until ThreshSecs seconds have passed and fires again for the first matching record
// after that. Rules that share a name share their thresholds. LoadRules re-arms them all. The
// thresholds of at most kMaxThresholdSenders sender addresses are kept: when a new sender
// comes to a full table, the one heard from least recently is forgotten, so a flood of spoofed
// addresses cannot grow the table without end, and senders that keep talking keep theirs.
//
// Not locked: LoadRules and RunRules must be called from one thread at a time (the owner's
// receiving thread). The reporter and any forwarder must outlive the engine or their detachment.

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/message/syslog_message.h"
#include "core/message/time_conversions.h"
#include "reception/syslog_sink.h"
#include "rules/action_executor.h"
#include "rules/forwarder.h"
#include "rules/rule.h"

namespace qv {

class CRulesEngine {
 public:
  using Clock = std::function<UtcNow()>;

  // No rules, no thresholds, no forwarder, first-rule-only clear. The engine owns `executor`;
  // without one (null), actions other than the four the engine performs itself are skipped.
  // `clock` gives the time for thresholds (the system clock unless a test supplies one).
  CRulesEngine(CSyslogSink& reporter, std::unique_ptr<CActionExecutor> executor, Clock clock = CurrentUtcSeconds);
  ~CRulesEngine();
  CRulesEngine(const CRulesEngine&) = delete;
  CRulesEngine& operator=(const CRulesEngine&) = delete;

  // The socket that forwards records for "Send to another Syslog server"; null detaches it.
  void SetForwarder(CForwarder* forwarder) { forwarder_ = forwarder; }

  // Replaces the rules with the enabled stored rules ("rulescount" sections "Rules\rule<n>"),
  // each with Highlighted cleared, empties the thresholds and attaches `forwarder`. The owner
  // calls it at start, after the rule editor closes and after a settings import. A count above
  // kMaxStoredRules (a damaged or hostile import) reads only that many sections, so that the
  // load ends: every section costs several store reads.
  static constexpr int32_t kMaxStoredRules = 10000;
  void LoadRules(CForwarder* forwarder);

  // Runs the rules on one record. `discard` and `highlight` are cleared first and set by the
  // discard and highlight actions; the record's facility and severity may change. `highlight`
  // may be the record's own `highlighted` field.
  void RunRules(SyslogMessage& message, bool& discard, bool& highlight);

  // The threshold test of a rule with ThreshSecs for the record's sender: false (fire) when the
  // rule has not fired for that sender or its quiet time has passed, which starts a new quiet
  // time; true (hold back) otherwise.
  bool IsSuppressed(const CRule& rule, const SyslogMessage& message);

  // Lets the action executor say the failures its throttles held back (the owner calls it now
  // and then, for example every few seconds).
  void ReportHeldBack() {
    if (executor_ != nullptr) executor_->ReportHeldBack(Context());
  }

  void SetFirstRuleOnly(bool firstRuleOnly) { firstRuleOnly_ = firstRuleOnly; }
  bool FirstRuleOnly() const { return firstRuleOnly_; }

  const std::vector<CRule>& Rules() const { return rules_; }
  // Threshold entries held: one per rule name and sender; those whose quiet time is over may
  // have been dropped.
  size_t ThresholdCount() const { return thresholdCount_; }
  static constexpr size_t kMaxThresholdSenders = 100000;

 private:
  struct ThresholdEntry {
    std::string ruleName;
    double nextAllowed;  // seconds since 1 January 1900
  };
  // Keyed by the address text: IPv6 senders are told apart like IPv4 ones.
  struct SenderThresholds {
    std::string address;
    std::vector<ThresholdEntry> entries;
  };
  using SenderList = std::list<SenderThresholds>;

  void Perform(CRule& rule, SyslogMessage& message, bool& discard, bool& highlight);
  ActionContext Context() { return ActionContext{reporter_, forwarder_}; }
  void DropExpiredThresholds(double now);
  std::vector<ThresholdEntry>& SenderEntries(const std::string& address);

  CSyslogSink& reporter_;
  std::unique_ptr<CActionExecutor> executor_;
  Clock clock_;
  CForwarder* forwarder_ = nullptr;
  bool firstRuleOnly_ = false;
  std::vector<CRule> rules_;
  // By sender address, most recently used first. An entry whose time has passed acts like no
  // entry, so such entries are swept out now and then.
  SenderList senders_;
  std::unordered_map<std::string, SenderList::iterator> thresholds_;
  size_t thresholdCount_ = 0;
  size_t sweepAt_;
};

}  // namespace qv
