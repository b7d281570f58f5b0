#include "ui/editors/trap_parameters.h"

#include "core/settings/settings_store.h"
#include "rules/rule.h"

namespace qv {

TrapParameters TrapParameters::FromRule(const CRule& rule) {
  return {rule.SNMPCommunity, rule.SNMPSenderOid, rule.SNMPGenericType,
          rule.SNMPSpecificType, rule.SNMPStringOid, rule.SNMPString};
}

void TrapParameters::ApplyTo(CRule& rule) const {
  rule.SNMPCommunity = community;
  rule.SNMPSenderOid = senderOid;
  rule.SNMPGenericType = genericType;
  rule.SNMPSpecificType = specificType;
  rule.SNMPStringOid = stringOid;
  rule.SNMPString = text;
}

TrapParameterFields TrapParameterFields::From(const TrapParameters& p) {
  return {p.community, p.senderOid, std::to_string(p.genericType), std::to_string(p.specificType), p.stringOid, p.text};
}

std::optional<FieldError<TrapParameterFields::Field>> TrapParameterFields::Read(TrapParameters& parameters) const {
  const UnsignedField generic = ReadUnsignedField(genericType, 0, UINT32_MAX);
  if (!generic.ok()) return FieldError<Field>{Field::kGenericType, generic.error};
  const UnsignedField specific = ReadUnsignedField(specificType, 0, UINT32_MAX);
  if (!specific.ok()) return FieldError<Field>{Field::kSpecificType, specific.error};
  parameters = {community, senderOid, generic.value, specific.value, stringOid, text};
  return std::nullopt;
}

EmailParameters EmailParameters::Defaults() {
  return {AppSettings().GetString("Settings", "mailsubject"), AppSettings().GetString("Settings", "mailtext"), true};
}

EmailParameters EmailParameters::FromRule(const CRule& rule) {
  return {rule.EMailSubject, rule.EMailText, rule.EMailInclude};
}

void EmailParameters::ApplyTo(CRule& rule) const {
  rule.EMailSubject = subject;
  rule.EMailText = text;
  rule.EMailInclude = include;
}

}  // namespace qv
