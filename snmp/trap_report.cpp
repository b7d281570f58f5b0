#include "snmp/trap_report.h"

namespace qv {
namespace {

constexpr std::string_view kGenericTrapNames[] = {
    "ColdStart", "WarmStart", "LinkDown", "LinkUp", "Authentication Failure", "egpNeighborLoss", "EnterpriseSpecific",
};
constexpr int32_t kGenericTrapCount = 7;
constexpr int32_t kEnterpriseSpecific = 6;

}  // namespace

std::string_view GenericTrapName(int32_t generic) {
  const int32_t index = (generic % kGenericTrapCount + kGenericTrapCount) % kGenericTrapCount;
  return kGenericTrapNames[index];
}

bool IsReportedPduType(uint8_t pduType) {
  return pduType == kPduTrapV1 || pduType == kPduInformRequest || pduType == kPduTrapV2;
}

std::optional<std::string> TrapReportText(const CSnmpMessage& message) {
  if (!message.HasVersion() || !IsReportedPduType(message.PduType())) return std::nullopt;

  const int32_t generic = message.GenericTrap();
  // Widened: a received version may be the largest 32-bit number.
  const int64_t shownVersion = int64_t{message.Version()} + 1;
  std::string line = "SNMP Trap: Ver=" + std::to_string(shownVersion) + " Community=" + message.Community() +
                     " Type=" + std::string(GenericTrapName(generic));
  if (generic == kEnterpriseSpecific) line += "/" + std::to_string(message.SpecificTrap());
  line += " Timestamp=" + std::to_string(message.TimeStamp());
  if (message.PduType() == kPduTrapV1) line += " Sender's OID=" + message.EnterpriseText().value_or("");
  for (int i = 1; i <= message.BindingCount(); ++i) {
    line += " [OID=" + message.BindingNameText(i) + " " + message.BindingTypeName(i) + "=" +
            message.BindingValueText(i) + "]";
  }
  return line;
}

std::string TrapReportAddress(const CSnmpMessage& message, std::string_view sourceAddress) {
  if (message.PduType() == kPduTrapV1) {
    const std::optional<std::string> agent = message.AgentAddressText();
    if (agent && *agent != "0.0.0.0") return *agent;
  }
  return std::string(sourceAddress);
}

}  // namespace qv
