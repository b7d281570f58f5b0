// Cost of putting one received record through a typical rule set: ten rules with plain
// contents, three patterns, a host, a severity threshold with a quiet time, an address and a
// facility, over records of the kinds routers, firewalls and servers send. The actions do
// nothing here: what is measured is the engine and the matching.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "core/settings/settings_store.h"
#include "rules/pattern_matcher.h"
#include "rules/rules_engine.h"
#include "testing/temp_home.h"

namespace {

class NullSink : public qv::CSyslogSink {
 public:
  void OnDatagram(std::string_view, int32_t, std::string_view) override {}
  void OnLocalMessage(std::string_view) override {}
};

class CountingExecutor : public qv::CActionExecutor {
 public:
  void BeginLoadRules(const qv::ActionContext&) override {}
  void RuleLoaded(const qv::CRule&, const qv::ActionContext&) override {}
  void Execute(const qv::CRule&, const qv::SyslogMessage&, const qv::ActionContext&) override { ++executed; }
  int64_t executed = 0;
};

qv::CRule Rule(const char* name, int32_t action) {
  qv::CRule rule;
  rule.Name = name;
  rule.Action = action;
  return rule;
}

std::vector<qv::CRule> TypicalRules() {
  std::vector<qv::CRule> rules;
  auto plain = [&](const char* name, const char* text, int32_t action) {
    rules.push_back(Rule(name, action));
    rules.back().Message = text;
  };
  auto pattern = [&](const char* name, const char* text, int32_t action) {
    plain(name, text, action);
    rules.back().UseRegExp = true;
  };
  plain("Errors", "error", qv::kActionRunProgram);
  plain("Auth failures", "authentication failure", qv::kActionSaveToFile);
  plain("Disk full", "No space left on device", qv::kActionSendMail);
  pattern("Link down", "changed state to <down>", qv::kActionSnmpTrap);
  pattern("Denied", "denied \\w+ \\d+\\.\\d+\\.\\d+\\.\\d+", qv::kActionSaveToFile);
  pattern("Privilege", "\\c(sshd)|(sudo)\\[\\d+\\]:", qv::kActionMessageBox);
  rules.push_back(Rule("Core switch", qv::kActionHighlight));
  rules.back().Hostname = "core-sw1";
  rules.push_back(Rule("Urgent", qv::kActionForward));
  rules.back().Severity = 11;  // "Error or Higher"
  rules.back().ThreshSecs = 60;
  rules.push_back(Rule("Firewall", qv::kActionDatabase));
  rules.back().IP = 0xC0A8010A;  // 192.168.1.10
  rules.push_back(Rule("Cron noise", qv::kActionDiscard));
  rules.back().Facility = 9;
  rules.back().Message = "CMD";
  return rules;
}

std::vector<qv::SyslogMessage> Corpus() {
  struct Sample {
    const char* address;
    const char* datagram;
  };
  const Sample samples[] = {
      {"10.0.0.1", "<187>Oct 11 22:14:15 core-sw1 %LINK-3-UPDOWN: Interface GigabitEthernet0/1, changed state to down"},
      {"10.0.0.1", "<189>Oct 11 22:14:16 core-sw1 %LINEPROTO-5-UPDOWN: Line protocol on Interface GigabitEthernet0/1, changed state to up"},
      {"192.168.1.10", "<166>Oct 11 22:14:17 fw01 %ASA-6-106100: access-list outside denied tcp 203.0.113.7(51514) -> 192.168.1.20(22) hit-cnt 1"},
      {"192.168.1.10", "<164>Oct 11 22:14:18 fw01 %ASA-4-106023: Deny udp src outside:198.51.100.9/53 dst inside:192.168.1.5/1024 by access-group \"outside\""},
      {"10.0.2.15", "<86>Oct 11 22:14:19 web1 sshd[2291]: pam_unix(sshd:auth): authentication failure; logname= uid=0 euid=0 tty=ssh ruser= rhost=203.0.113.7"},
      {"10.0.2.15", "<85>Oct 11 22:14:20 web1 sudo[3120]:    alice : TTY=pts/0 ; PWD=/home/alice ; USER=root ; COMMAND=/usr/bin/systemctl restart nginx"},
      {"10.0.2.16", "<78>Oct 11 22:15:01 web2 CRON[4411]: (root) CMD (/usr/local/bin/backup.sh > /dev/null 2>&1)"},
      {"10.0.2.16", "<27>Oct 11 22:15:02 web2 postgres[991]: ERROR:  could not extend file \"base/16384/2619\": No space left on device"},
      {"10.0.2.17", "<30>Oct 11 22:15:03 db1 systemd[1]: Started Daily apt download activities."},
      {"10.0.2.17", "<13>Oct 11 22:15:04 db1 kernel: [12345.678901] EXT4-fs (sda1): re-mounted. Opts: errors=remount-ro"},
      {"10.0.3.1", "<134>Oct 11 22:15:05 ap-lobby hostapd: wlan0: STA 3c:22:fb:11:22:33 IEEE 802.11: associated"},
      {"10.0.3.2", "<131>Oct 11 22:15:06 ups1 upsd[88]: UPS on battery, 93% charge remaining, error count 0"},
      {"10.0.0.2", "<190>Oct 11 22:15:07 edge-rt1 %SEC-6-IPACCESSLOGP: list 101 denied tcp 10.1.1.1(1234) -> 10.2.2.2(80), 1 packet"},
      {"10.0.0.2", "<188>Oct 11 22:15:08 edge-rt1 %BGP-4-MAXPFX: No. of prefix received from 192.0.2.1 (afi 0) reaches 9001, max 10000"},
      {"10.0.2.18", "<38>Oct 11 22:15:09 mail1 postfix/smtpd[7001]: connect from unknown[198.51.100.23]"},
      {"10.0.2.18", "<35>Oct 11 22:15:10 mail1 dovecot: auth: Error: net_connect_unix(auth-worker) failed: Permission denied"},
  };
  std::vector<qv::SyslogMessage> corpus;
  for (const Sample& sample : samples) {
    qv::SyslogMessage message;
    message.ParseDatagram(sample.address, 514, sample.datagram);
    corpus.push_back(message);
  }
  return corpus;
}

void BM_RunRulesTypicalSet(benchmark::State& state) {
  qv::testing::TempHome home;
  const std::vector<qv::CRule> rules = TypicalRules();
  for (size_t n = 0; n < rules.size(); ++n) rules[n].Save(qv::RuleSectionName(static_cast<int>(n)));
  qv::AppSettings().SetInt("Settings", "rulescount", static_cast<int32_t>(rules.size()));

  NullSink sink;
  auto executor = std::make_unique<CountingExecutor>();
  CountingExecutor* counter = executor.get();
  qv::CRulesEngine engine(sink, std::move(executor));
  engine.LoadRules(nullptr);
  const std::vector<qv::SyslogMessage> corpus = Corpus();

  int64_t discarded = 0;
  for (auto _ : state) {
    for (const qv::SyslogMessage& received : corpus) {
      qv::SyslogMessage message = received;
      bool discard = false;
      engine.RunRules(message, discard, message.highlighted);
      discarded += discard ? 1 : 0;
      benchmark::DoNotOptimize(message);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(corpus.size()));
  state.counters["ns_per_message"] = benchmark::Counter(
      static_cast<double>(state.iterations() * static_cast<int64_t>(corpus.size())),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["actions_per_message"] =
      static_cast<double>(counter->executed) / static_cast<double>(state.iterations() * static_cast<int64_t>(corpus.size()));
  state.counters["discarded"] = static_cast<double>(discarded);
}
BENCHMARK(BM_RunRulesTypicalSet);

// The three patterns alone, searched over every record of the corpus.
void BM_PatternSearch(benchmark::State& state) {
  const char* patterns[] = {"changed state to <down>", "denied \\w+ \\d+\\.\\d+\\.\\d+\\.\\d+",
                            "\\c(sshd)|(sudo)\\[\\d+\\]:"};
  std::vector<qv::PatternPtr> compiled;
  for (const char* pattern : patterns) compiled.emplace_back(qv::CompilePattern(pattern));
  const std::vector<qv::SyslogMessage> corpus = Corpus();
  for (auto _ : state) {
    for (const qv::SyslogMessage& message : corpus) {
      for (const qv::PatternPtr& pattern : compiled) {
        benchmark::DoNotOptimize(qv::MatchPattern(pattern.get(), message.message, 0, nullptr, qv::kPatternCaseSensitive));
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(corpus.size() * compiled.size()));
}
BENCHMARK(BM_PatternSearch);

// The longest one search can take: 64 KB messages that drive a pattern into its step budget
// (exponential or quadratic backtracking) or through a long linear scan.
void BM_PatternWorstCase(benchmark::State& state) {
  struct Case {
    const char* pattern;
    std::string text;
  };
  const std::string as(65536, 'a');
  const Case cases[] = {
      {"(a*)*b", as},                           // exponential: ends at the budget
      {"a\\S+ failed", as},                   // quadratic from every start: ends at the budget
      {"\\S+ failed", as},                    // one run, covered by the first attempt
      {"(\\w+)=(\\d+)", as + " port=514"},  // the same with a match at the end
      {"(a*)*bcdefghijklmnopqrstuvwxyz", as},  // a larger pattern: ends at the budget's cap
  };
  const Case& chosen = cases[state.range(0)];
  state.SetLabel(chosen.pattern);
  const qv::PatternPtr pattern(qv::CompilePattern(chosen.pattern));
  for (auto _ : state) {
    benchmark::DoNotOptimize(qv::MatchPattern(pattern.get(), chosen.text, 0, nullptr, qv::kPatternCaseSensitive));
  }
}
// Time per search, in milliseconds.
BENCHMARK(BM_PatternWorstCase)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

}  // namespace
