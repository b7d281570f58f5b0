#include "rules/rules_engine.h"

#include <algorithm>
#include <utility>

#include "core/settings/settings_store.h"

namespace qv {
namespace {

constexpr size_t kFirstSweep = 4096;

}  // namespace

CRulesEngine::CRulesEngine(CSyslogSink& reporter, std::unique_ptr<CActionExecutor> executor, Clock clock)
    : reporter_(reporter), executor_(std::move(executor)), clock_(std::move(clock)), sweepAt_(kFirstSweep) {}

CRulesEngine::~CRulesEngine() = default;

void CRulesEngine::LoadRules(CForwarder* forwarder) {
  forwarder_ = forwarder;
  rules_.clear();
  if (executor_ != nullptr) executor_->BeginLoadRules(Context());
  thresholds_.clear();
  senders_.clear();
  thresholdCount_ = 0;
  sweepAt_ = kFirstSweep;

  const int32_t count = std::min(AppSettings().GetInt("Settings", "rulescount", 0), kMaxStoredRules);
  for (int32_t n = 0; n < count; ++n) {
    CRule rule;
    rule.Load(RuleSectionName(n));
    if (rule.Enabled == 0) continue;
    rule.Highlighted = false;
    rules_.push_back(std::move(rule));
    if (executor_ != nullptr) executor_->RuleLoaded(rules_.back(), Context());
  }
}

void CRulesEngine::RunRules(SyslogMessage& message, bool& discard, bool& highlight) {
  discard = false;
  highlight = false;
  for (CRule& rule : rules_) {
    if (discard) break;
    if (!rule.Matches(message)) continue;
    if (rule.ThreshSecs != 0 && IsSuppressed(rule, message)) continue;
    Perform(rule, message, discard, highlight);
    if (firstRuleOnly_) break;
  }
}

void CRulesEngine::Perform(CRule& rule, SyslogMessage& message, bool& discard, bool& highlight) {
  switch (rule.Action) {
    case kActionDiscard: discard = true; break;
    case kActionHighlight: highlight = true; break;
    case kActionModifyFacility: message.facility = static_cast<int32_t>(rule.ActionInt); break;
    case kActionModifySeverity: message.severity = static_cast<int32_t>(rule.ActionInt); break;
    default:
      if (executor_ != nullptr) executor_->Execute(rule, message, Context());
      break;
  }
}

bool CRulesEngine::IsSuppressed(const CRule& rule, const SyslogMessage& message) {
  const UtcNow utc = clock_();
  const double now = utc.seconds + utc.milliseconds / 1000.0 + static_cast<double>(kNtpToUnixOffset);
  const double next = now + rule.ThreshSecs;

  std::vector<ThresholdEntry>& entries = SenderEntries(AddressToNumber(message.ipAddress));
  for (ThresholdEntry& entry : entries) {
    if (entry.ruleName != rule.Name) continue;
    if (entry.nextAllowed < now) {
      entry.nextAllowed = next;
      return false;
    }
    return true;
  }
  entries.push_back({rule.Name, next});
  if (++thresholdCount_ >= sweepAt_) DropExpiredThresholds(now);
  return false;
}

std::vector<CRulesEngine::ThresholdEntry>& CRulesEngine::SenderEntries(uint32_t address) {
  const auto found = thresholds_.find(address);
  if (found != thresholds_.end()) {
    senders_.splice(senders_.begin(), senders_, found->second);
    return found->second->entries;
  }
  if (thresholds_.size() >= kMaxThresholdSenders) {
    thresholdCount_ -= senders_.back().entries.size();
    thresholds_.erase(senders_.back().address);
    senders_.pop_back();
  }
  senders_.push_front({address, {}});
  thresholds_.emplace(address, senders_.begin());
  return senders_.front().entries;
}

void CRulesEngine::DropExpiredThresholds(double now) {
  thresholdCount_ = 0;
  for (auto sender = senders_.begin(); sender != senders_.end();) {
    std::vector<ThresholdEntry>& entries = sender->entries;
    std::erase_if(entries, [now](const ThresholdEntry& entry) { return entry.nextAllowed < now; });
    thresholdCount_ += entries.size();
    if (entries.empty()) {
      thresholds_.erase(sender->address);
      sender = senders_.erase(sender);
    } else {
      ++sender;
    }
  }
  sweepAt_ = std::max(kFirstSweep, 2 * thresholdCount_);
}

}  // namespace qv
