#include "rules/actions/action_runner.h"

#include <cerrno>
#include <ctime>
#include <string>

#include "platform/sound/sound_player.h"
#include "rules/actions/event_log_copy.h"
#include "rules/actions/run_program.h"
#include "rules/actions/substitute_macros.h"
#include "snmp/snmp_oid.h"
#include "snmp/trap_sender.h"

namespace qv {

CActionRunner::CActionRunner(std::unique_ptr<CMessageBoxHost> boxes) : CActionRunner(std::move(boxes), Options{}) {}

CActionRunner::CActionRunner(std::unique_ptr<CMessageBoxHost> boxes, Options options)
    : boxes_(std::move(boxes)),
      options_(std::move(options)),
      database_(options_.reportInterval),
      programs_(options_.maxRunningPrograms),
      mailFailures_(options_.reportInterval) {}

void CActionRunner::BeginLoadRules(const ActionContext&) {
  database_.Close();
  files_.CloseAll();
  rulesWithBadOids_.clear();
}

void CActionRunner::RuleLoaded(const CRule& rule, const ActionContext& context) {
  if (rule.Action == kActionDatabase) database_.RuleLoaded(context.reporter);
}

void CActionRunner::Execute(const CRule& rule, const SyslogMessage& message, const ActionContext& context) {
  switch (rule.Action) {
    case kActionRunProgram:
      RunProgram(rule, message, context);
      break;
    case kActionSaveToFile:
      SaveFile(rule, message, context);
      break;
    case kActionForward:
      if (context.forwarder != nullptr) context.forwarder->Forward(rule.ActionValue, message);
      break;
    case kActionPlaySound:
      if (options_.playSound) options_.playSound(rule.ActionValue);
      else PlaySoundFile(rule.ActionValue);
      break;
    case kActionSendMail:
      SendMail(rule, message, context);
      break;
    case kActionMessageBox:
      boxes_->ShowMessageBox(rule.Name, SubstituteMacros(rule.ActionValue, message, false));
      break;
    case kActionEventLog:
      CopyToEventLog(message);
      break;
    case kActionDatabase:
      database_.Execute(rule, message, context.reporter);
      break;
    case kActionSnmpTrap:
      SendTrap(rule, message, context);
      break;
    case kActionDiscard:
    case kActionHighlight:
    case kActionModifyFacility:
    case kActionModifySeverity:
      break;  // performed by the engine itself
    default:
      boxes_->ShowUnknownRule(rule.Name);
      break;
  }
}

void CActionRunner::ExecuteBatch(std::span<const QueuedAction> actions, const ActionContext& context) {
  database_.ExecuteBatch(actions, context.reporter);
}

void CActionRunner::SendMail(const CRule& rule, const SyslogMessage& message, const ActionContext& context) {
  CMailSender mail(context.reporter, options_.mail);
  if (mail.SendMail(rule.ActionValue, message.FormatExportLine(), rule.EMailSubject, rule.EMailText, rule.EMailInclude)) {
    return;
  }
  const std::optional<uint64_t> count = mailFailures_.Count(rule.Name);
  if (!count) return;
  std::string text = "Send E-Mail: \"" + rule.Name + "\" failed: " + mail.failure();
  if (*count > 1) text += " (" + std::to_string(*count) + " mails of this rule failed since the last report)";
  context.reporter.OnLocalMessage(text + "; check the Email Settings and the mail server");
}

void CActionRunner::ReportHeldBack(const ActionContext& context) {
  database_.ReportHeldBack(context.reporter);
  for (const auto& [ruleName, count] : mailFailures_.TakeDue()) {
    context.reporter.OnLocalMessage("Send E-Mail: \"" + ruleName + "\": " + std::to_string(count) +
                                    " more mails failed since the last report");
  }
  const auto dueFiles = [this] {
    const std::lock_guard lock(fileFailuresMutex_);
    return fileFailures_.TakeDue();
  }();
  for (const auto& [ruleName, count] : dueFiles) {
    context.reporter.OnLocalMessage("Save to file: \"" + ruleName + "\": " + std::to_string(count) +
                                    " more lines could not be written since the last report");
  }
}

void CActionRunner::RunProgram(const CRule& rule, const SyslogMessage& message, const ActionContext& context) {
  if (programs_.Run(rule.ActionValue, message) != EAGAIN) return;  // other failures are not reported
  const auto now = std::chrono::steady_clock::now();
  if (lastProgramLimitReport_ && now - *lastProgramLimitReport_ < std::chrono::minutes(1)) return;
  lastProgramLimitReport_ = now;
  context.reporter.OnLocalMessage("Run Program: \"" + rule.Name + "\" not started, " +
                                  std::to_string(programs_.Limit()) + " programs started by rules are still running");
}

void CActionRunner::SaveFile(const CRule& rule, const SyslogMessage& message, const ActionContext& context) {
  std::string failure;
  if (files_.Save(rule.ActionValue, SaveToFileFormat(rule.ActionInt), message, std::time(nullptr), &failure)) return;
  // Once a minute per rule, with how often it failed since: a refused file fails for every message.
  const auto count = [&] {
    const std::lock_guard lock(fileFailuresMutex_);
    return fileFailures_.Count(rule.Name);
  }();
  if (!count) return;
  context.reporter.OnLocalMessage(failure + " (rule \"" + rule.Name + "\"" +
                                  (*count > 1 ? ", " + std::to_string(*count) + " times since the last report)" : ")"));
}

void CActionRunner::SendTrap(const CRule& rule, const SyslogMessage& message, const ActionContext& context) {
  if (SendSnmpTrap(rule.ActionValue, SubstituteMacros(rule.SNMPString, message, false), rule.SNMPCommunity,
                   rule.SNMPSenderOid, static_cast<int32_t>(rule.SNMPGenericType),
                   static_cast<int32_t>(rule.SNMPSpecificType), rule.SNMPStringOid, message.ipAddress,
                   options_.snmpTrapPort)) {
    return;
  }
  if (!rulesWithBadOids_.insert(rule.Name).second) return;
  const std::string& bad = CSnmpOid::FromText(rule.SNMPSenderOid) ? rule.SNMPStringOid : rule.SNMPSenderOid;
  context.reporter.OnLocalMessage("Send SNMP Trap: \"" + rule.Name + "\" not sent, \"" + bad +
                                  "\" is not a valid OID");
}

}  // namespace qv
