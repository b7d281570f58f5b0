#pragma once
// The rules engine's action executor for both programs: performs every action of a rule that
// reaches outside the engine.
//
//   Run Program             the program of ActionValue, words split first, macros per word;
//                           not started while Options::maxRunningPrograms started by rules
//                           still run (a local message says so, at most once a minute)
//   Save to file            the message, in the format of ActionInt (record line, traditional,
//                           RFC 5424, JSON), appended to the file ActionValue names (strftime),
//                           kept open while its name leads to it; a file that cannot be written
//                           is reported at most once a minute per rule, with the count of
//                           failures since the last report
//   Send to another Syslog  the record forwarded to port 514 of ActionValue; nothing without a
//     server                forwarder
//   Play sound              the sound file ActionValue, in the background, no default sound
//   Send E-Mail             one mail to ActionValue (EMailSubject, EMailText, EMailInclude);
//                           blocks until the dialogue has ended; a failed mail is reported
//                           (with or without "maildebug"), at most once a minute per rule,
//                           with the count of failures since the last report
//   Message Box             ActionValue with macros under the rule's name, through the box host
//   Copy to Windows         the detail block as an Application event of the source "quorvel"
//     Event log
//   Save to Database        ActionValue as one SQL statement on the connection opened at
//                           LoadRules, the macros' values bound as parameters; at most
//                           "dbtimeout" seconds a statement; a batch (ExecuteBatch) in one
//                           transaction (save_to_database.h)
//   Send SNMP Trap          a trap to ActionValue with SNMPString after macro substitution; a
//                           rule whose OIDs are invalid is reported once (until the next load)
//   any other code          "Unknown rule fired" with the rule's name, through the box host
//
// The four actions that only change the record or the engine's flags (discard, highlight,
// modify facility, modify severity) are the engine's own and do nothing here. No action reports
// success; the database, the mail action (and with "maildebug" the whole mail dialogue) report
// failures through the context's reporter.
//
// Owned by one engine. Lines are written to files on the engine's thread; with an action worker,
// the other actions, LoadRules and ReportHeldBack run on the worker's thread, so the open files
// and the file failure counts are locked. Holds the database connection and the files of "Save
// to file", which live from the LoadRules that opened them to the next LoadRules or the runner's
// end.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "core/report/report_throttle.h"
#include "rules/action_executor.h"
#include "rules/actions/message_box_host.h"
#include "rules/actions/run_program.h"
#include "rules/actions/save_to_database.h"
#include "rules/actions/save_to_file.h"
#include "rules/mail/mail_sender.h"

namespace qv {

class CActionRunner : public CActionExecutor {
 public:
  struct Options {
    // The mail client's reply wait and trusted CAs (tests make a server and a CA of their own).
    CMailSender::Options mail;
    // Plays a sound file in the background; null: the process's sound player.
    std::function<bool(const std::string&)> playSound;
    // Where traps go; the standard port unless a test listens elsewhere.
    uint16_t snmpTrapPort = 162;
    // Programs started by rules that may run at once.
    int maxRunningPrograms = kMaxRunningRulePrograms;
    // The shortest time between two reports of failed mails, files or database timeouts of
    // one rule.
    std::chrono::milliseconds reportInterval = std::chrono::minutes(1);
  };

  // `boxes` shows the message boxes; it must not be null.
  explicit CActionRunner(std::unique_ptr<CMessageBoxHost> boxes);
  CActionRunner(std::unique_ptr<CMessageBoxHost> boxes, Options options);

  void BeginLoadRules(const ActionContext& context) override;
  void RuleLoaded(const CRule& rule, const ActionContext& context) override;
  void Execute(const CRule& rule, const SyslogMessage& message, const ActionContext& context) override;
  void ExecuteBatch(std::span<const QueuedAction> actions, const ActionContext& context) override;
  void ReportHeldBack(const ActionContext& context) override;

 private:
  void SendMail(const CRule& rule, const SyslogMessage& message, const ActionContext& context);
  void RunProgram(const CRule& rule, const SyslogMessage& message, const ActionContext& context);
  void SaveFile(const CRule& rule, const SyslogMessage& message, const ActionContext& context);
  void SendTrap(const CRule& rule, const SyslogMessage& message, const ActionContext& context);

  std::unique_ptr<CMessageBoxHost> boxes_;
  Options options_;
  CSaveToDatabase database_;
  CSaveToFile files_;
  CRuleProgramStarter programs_;
  std::optional<std::chrono::steady_clock::time_point> lastProgramLimitReport_;
  std::set<std::string> rulesWithBadOids_;  // reported since the last load
  CReportThrottle mailFailures_;  // kinds: rule names
  // "Save to file", kinds: rule names. Counted on the owner's thread, where the files are
  // written, and taken by ReportHeldBack, which a worker calls on its own thread.
  std::mutex fileFailuresMutex_;
  CReportThrottle fileFailures_;
};

}  // namespace qv
