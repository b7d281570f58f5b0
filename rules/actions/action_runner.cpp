#include "rules/actions/action_runner.h"

#include <ctime>

#include "core/settings/settings_store.h"
#include "platform/sound/sound_player.h"
#include "rules/actions/event_log_copy.h"
#include "rules/actions/run_program.h"
#include "rules/actions/save_to_file.h"
#include "rules/actions/substitute_macros.h"
#include "snmp/trap_sender.h"

namespace qv {

CActionRunner::CActionRunner(std::unique_ptr<CMessageBoxHost> boxes) : CActionRunner(std::move(boxes), Options{}) {}

CActionRunner::CActionRunner(std::unique_ptr<CMessageBoxHost> boxes, Options options)
    : boxes_(std::move(boxes)), options_(std::move(options)) {}

void CActionRunner::BeginLoadRules(const ActionContext&) { database_.Close(); }

void CActionRunner::RuleLoaded(const CRule& rule, const ActionContext& context) {
  if (rule.Action != kActionDatabase || database_.IsOpen()) return;
  // A failure is reported, and the next database rule of the load tries again.
  if (!database_.Open(AppSettings().GetString("Settings", "db"))) context.reporter.OnLocalMessage(database_.ErrorReport());
}

void CActionRunner::Execute(const CRule& rule, const SyslogMessage& message, const ActionContext& context) {
  switch (rule.Action) {
    case kActionRunProgram:
      RunProgram(rule.ActionValue, message);
      break;
    case kActionSaveToFile:
      SaveToFile(rule.ActionValue, message, std::time(nullptr));
      break;
    case kActionForward:
      if (context.forwarder != nullptr) context.forwarder->Forward(rule.ActionValue, message);
      break;
    case kActionPlaySound:
      if (options_.playSound) options_.playSound(rule.ActionValue);
      else PlaySoundFile(rule.ActionValue);
      break;
    case kActionSendMail:
      CMailSender(context.reporter, options_.mail)
          .SendMail(rule.ActionValue, message.FormatExportLine(), rule.EMailSubject, rule.EMailText, rule.EMailInclude);
      break;
    case kActionMessageBox:
      boxes_->ShowMessageBox(rule.Name, SubstituteMacros(rule.ActionValue, message, false));
      break;
    case kActionEventLog:
      CopyToEventLog(message);
      break;
    case kActionDatabase:
      // Also while the connection is not open: each matching message reports that.
      if (!database_.Execute(SubstituteMacros(rule.ActionValue, message, true))) {
        context.reporter.OnLocalMessage(database_.ErrorReport());
      }
      break;
    case kActionSnmpTrap:
      SendSnmpTrap(rule.ActionValue, SubstituteMacros(rule.SNMPString, message, false), rule.SNMPCommunity,
                   rule.SNMPSenderOid, static_cast<int32_t>(rule.SNMPGenericType),
                   static_cast<int32_t>(rule.SNMPSpecificType), rule.SNMPStringOid, message.ipAddress,
                   options_.snmpTrapPort);
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

}  // namespace qv
