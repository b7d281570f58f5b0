#include "rules/rules_engine.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/settings/settings_store.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

class RecordingSink : public CSyslogSink {
 public:
  void OnDatagram(std::string_view, int32_t, std::string_view) override {}
  void OnLocalMessage(std::string_view text) override { reports.emplace_back(text); }
  std::vector<std::string> reports;
};

class RecordingForwarder : public CForwarder {
 public:
  void Forward(std::string_view, const SyslogMessage&) override {}
};

// Notes every call the engine makes; "name@severity" per executed rule.
struct ExecutorLog {
  int loadsBegun = 0;
  std::vector<std::string> loaded;
  std::vector<std::string> executed;
  CForwarder* lastForwarder = nullptr;
};

class RecordingExecutor : public CActionExecutor {
 public:
  explicit RecordingExecutor(ExecutorLog& log) : log_(log) {}
  void BeginLoadRules(const ActionContext&) override { ++log_.loadsBegun; }
  void RuleLoaded(const CRule& rule, const ActionContext&) override { log_.loaded.push_back(rule.Name); }
  void Execute(const CRule& rule, const SyslogMessage& message, const ActionContext& context) override {
    log_.executed.push_back(rule.Name + "@" + std::to_string(message.severity));
    log_.lastForwarder = context.forwarder;
    context.reporter.OnLocalMessage(rule.Name);
  }

 private:
  ExecutorLog& log_;
};

class RulesEngineTest : public ::testing::Test {
 protected:
  RulesEngineTest()
      : engine_(sink_, std::make_unique<RecordingExecutor>(log_), [this] { return now_; }) {}

  // Stores the rules as the rule editor does and loads them.
  void Store(const std::vector<CRule>& rules) {
    for (size_t n = 0; n < rules.size(); ++n) rules[n].Save(RuleSectionName(static_cast<int>(n)));
    AppSettings().SetInt("Settings", "rulescount", static_cast<int32_t>(rules.size()));
    engine_.LoadRules(nullptr);
  }

  static CRule Rule(std::string name, int32_t action, uint32_t threshSecs = 0) {
    CRule rule;
    rule.Name = std::move(name);
    rule.Action = action;
    rule.ThreshSecs = threshSecs;
    return rule;
  }

  static SyslogMessage Record(std::string address = "10.0.0.1", int32_t severity = 6) {
    SyslogMessage message;
    message.facility = 1;
    message.severity = severity;
    message.ipAddress = std::move(address);
    message.message = "link down";
    return message;
  }

  // Runs the rules at `seconds` past a fixed moment; true when the record was not discarded.
  bool RunAt(int32_t seconds, SyslogMessage message) {
    now_ = UtcNow{1'700'000'000 + seconds, 250};
    bool discard = false;
    engine_.RunRules(message, discard, message.highlighted);
    return !discard;
  }

  qv::testing::TempHome home_;
  RecordingSink sink_;
  ExecutorLog log_;
  UtcNow now_{1'700'000'000, 0};
  CRulesEngine engine_;
};

TEST_F(RulesEngineTest, LoadsEnabledRulesWithinTheCountOnly) {
  CRule disabled = Rule("off", kActionRunProgram);
  disabled.Enabled = 0;
  CRule marked = Rule("marked", kActionRunProgram);
  marked.Highlighted = true;
  std::vector<CRule> rules = {Rule("first", kActionRunProgram), disabled, marked, Rule("stale3", kActionRunProgram),
                              Rule("stale4", kActionRunProgram)};
  Store(rules);
  AppSettings().SetInt("Settings", "rulescount", 3);  // sections 3 and 4 stay behind, unread
  RecordingForwarder forwarder;
  engine_.LoadRules(&forwarder);

  ASSERT_EQ(engine_.Rules().size(), 2u);
  EXPECT_EQ(engine_.Rules()[0].Name, "first");
  EXPECT_EQ(engine_.Rules()[1].Name, "marked");
  EXPECT_FALSE(engine_.Rules()[1].Highlighted);
  EXPECT_EQ(log_.loadsBegun, 2);
  EXPECT_EQ(log_.loaded, (std::vector<std::string>{"first", "marked", "stale3", "stale4", "first", "marked"}));

  RunAt(0, Record());
  EXPECT_EQ(log_.executed, (std::vector<std::string>{"first@6", "marked@6"}));
  EXPECT_EQ(log_.lastForwarder, &forwarder);
  EXPECT_EQ(sink_.reports, (std::vector<std::string>{"first", "marked"}));
  engine_.SetForwarder(nullptr);
  RunAt(0, Record());
  EXPECT_EQ(log_.lastForwarder, nullptr);
}

TEST_F(RulesEngineTest, ThresholdHoldsARuleBackPerSender) {
  Store({Rule("flap", kActionRunProgram, 60)});
  RunAt(0, Record("10.0.0.1"));
  RunAt(30, Record("10.0.0.1"));
  RunAt(30, Record("10.0.0.2"));
  RunAt(60, Record("10.0.0.1"));
  RunAt(61, Record("10.0.0.1"));
  RunAt(90, Record("10.0.0.1"));
  EXPECT_EQ(log_.executed, (std::vector<std::string>{"flap@6", "flap@6", "flap@6"}));
  // The firings were at 0 (first sender), 30 (second sender) and 61 (first sender again).
  log_.executed.clear();
  RunAt(91, Record("10.0.0.2"));
  RunAt(121, Record("10.0.0.1"));
  EXPECT_EQ(log_.executed.size(), 1u);  // second sender's quiet time ended at 90, first's lasts to 121

  // Reloading re-arms every threshold.
  engine_.LoadRules(nullptr);
  RunAt(122, Record("10.0.0.1"));
  EXPECT_EQ(log_.executed.size(), 2u);
}

TEST_F(RulesEngineTest, RulesWithOneNameShareTheirThresholds) {
  Store({Rule("dup", kActionRunProgram, 60), Rule("dup", kActionPlaySound, 10), Rule("other", kActionRunProgram, 60)});
  RunAt(0, Record());
  EXPECT_EQ(log_.executed, (std::vector<std::string>{"dup@6", "other@6"}));
  RunAt(20, Record());  // the second "dup" finds the entry of the first, still quiet
  EXPECT_EQ(log_.executed.size(), 2u);
  RunAt(61, Record());  // the first fires and starts a new quiet time, which holds the second back
  EXPECT_EQ(log_.executed, (std::vector<std::string>{"dup@6", "other@6", "dup@6", "other@6"}));
}

TEST_F(RulesEngineTest, DiscardStopsTheRunAndHighlightMarksTheRecord) {
  Store({Rule("drop", kActionDiscard), Rule("mark", kActionHighlight), Rule("after", kActionRunProgram)});
  SyslogMessage message = Record();
  bool discard = false;
  engine_.RunRules(message, discard, message.highlighted);
  EXPECT_TRUE(discard);
  EXPECT_FALSE(message.highlighted);
  EXPECT_TRUE(log_.executed.empty());

  Store({Rule("mark", kActionHighlight), Rule("after", kActionRunProgram)});
  discard = true;
  engine_.RunRules(message, discard, message.highlighted);
  EXPECT_FALSE(discard);
  EXPECT_TRUE(message.highlighted);
  EXPECT_EQ(log_.executed, std::vector<std::string>{"after@6"});
}

TEST_F(RulesEngineTest, FirstRuleOnlyCountsOnlyRulesThatRan) {
  engine_.SetFirstRuleOnly(true);
  Store({Rule("quiet", kActionRunProgram, 60), Rule("second", kActionRunProgram), Rule("third", kActionRunProgram)});
  RunAt(0, Record());
  EXPECT_EQ(log_.executed, std::vector<std::string>{"quiet@6"});
  RunAt(10, Record());  // "quiet" is held back, so "second" is the first rule that runs
  EXPECT_EQ(log_.executed, (std::vector<std::string>{"quiet@6", "second@6"}));

  engine_.SetFirstRuleOnly(false);
  RunAt(20, Record());
  EXPECT_EQ(log_.executed, (std::vector<std::string>{"quiet@6", "second@6", "second@6", "third@6"}));
}

TEST_F(RulesEngineTest, LaterRulesTestTheModifiedRecord) {
  CRule toUrgent = Rule("urgent", kActionModifySeverity);
  toUrgent.ActionInt = 0;
  CRule onlyUrgent = Rule("page", kActionRunProgram);
  onlyUrgent.Severity = 0;
  CRule toLocal7 = Rule("local7", kActionModifyFacility);
  toLocal7.ActionInt = 23;
  CRule onlyLocal7 = Rule("file", kActionSaveToFile);
  onlyLocal7.Facility = 23;
  Store({toUrgent, onlyUrgent, toLocal7, onlyLocal7});

  SyslogMessage message = Record("10.0.0.1", 6);
  bool discard = false;
  bool highlight = false;
  engine_.RunRules(message, discard, highlight);
  EXPECT_EQ(message.severity, 0);
  EXPECT_EQ(message.facility, 23);
  EXPECT_EQ(log_.executed, (std::vector<std::string>{"page@0", "file@0"}));
}

TEST_F(RulesEngineTest, WithoutAnExecutorOnlyTheEngineActionsRun) {
  CRulesEngine bare(sink_, nullptr);
  CRule drop = Rule("drop", kActionDiscard);
  drop.Message = "down";
  Store({Rule("program", kActionRunProgram), Rule("unknown", 13), drop});
  bare.LoadRules(nullptr);
  SyslogMessage message = Record();
  bool discard = false;
  bool highlight = false;
  bare.RunRules(message, discard, highlight);
  EXPECT_TRUE(discard);
  EXPECT_TRUE(sink_.reports.empty());
}

TEST_F(RulesEngineTest, ExpiredThresholdsAreDroppedWithoutChangingTheOutcome) {
  Store({Rule("flood", kActionRunProgram, 10)});
  auto address = [](int n) { return "10.1." + std::to_string(n / 256) + "." + std::to_string(n % 256); };
  for (int n = 0; n < 5000; ++n) RunAt(0, Record(address(n)));
  RunAt(5, Record("10.9.9.9"));
  EXPECT_EQ(log_.executed.size(), 5001u);
  for (int n = 5000; n < 10000; ++n) RunAt(100, Record(address(n)));
  EXPECT_LT(engine_.ThresholdCount(), 6000u);  // the first 5000 had expired by then

  // A sender whose quiet time is still running keeps it through a sweep.
  RunAt(100, Record(address(0)));  // fires again: its entry expired at 10
  RunAt(105, Record(address(0)));
  RunAt(105, Record(address(9999)));
  EXPECT_EQ(log_.executed.size(), 10002u);
}

TEST_F(RulesEngineTest, AFloodOfSendersForgetsTheQuietestAndKeepsTheTalkingOnes) {
  Store({Rule("flood", kActionRunProgram, 3600)});
  auto address = [](int n) { return "10." + std::to_string(n / 65536) + "." + std::to_string(n / 256 % 256) + "." +
                                    std::to_string(n % 256); };
  const int senders = static_cast<int>(CRulesEngine::kMaxThresholdSenders) + 10;
  RunAt(0, Record("192.168.1.1"));
  for (int n = 0; n < senders; ++n) {
    RunAt(1, Record(address(n)));
    if (n % 10000 == 0) RunAt(1, Record("192.168.1.1"));  // a real sender that keeps talking
  }
  EXPECT_EQ(engine_.ThresholdCount(), CRulesEngine::kMaxThresholdSenders);
  EXPECT_EQ(log_.executed.size(), static_cast<size_t>(senders) + 1);

  RunAt(2, Record("192.168.1.1"));   // still in its quiet time
  RunAt(2, Record(address(senders - 1)));  // likewise
  EXPECT_EQ(log_.executed.size(), static_cast<size_t>(senders) + 1);
  RunAt(2, Record(address(0)));  // the least recently heard: forgotten, so it fires again
  EXPECT_EQ(log_.executed.size(), static_cast<size_t>(senders) + 2);
}

}  // namespace
}  // namespace qv
