#pragma once
// How the trap monitor reports a received trap or inform: one line of text, handed on as a local
// message with severity 6 and the trap's sender as the sender's address.
//
//   SNMP Trap: Ver=1 Community=public Type=EnterpriseSpecific/0 Timestamp=0
//   Sender's OID=1.3.6.1.4.1.0 [OID=1.3.6.1.4.1.0 String=disk full]
//
// (one line). Pure functions of the message; safe on any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "snmp/snmp_message.h"

namespace qv {

// The name of a generic trap number, taken modulo 7 (so 7 is "ColdStart"). A negative number
// counts back from the end of the table: -1 is "EnterpriseSpecific".
std::string_view GenericTrapName(int32_t generic);

// Whether the monitor reports messages of this PDU type: SNMPv1 traps, informs, SNMPv2 traps.
bool IsReportedPduType(uint8_t pduType);

// The message text, beginning with "SNMP Trap: ". Nothing for a message the monitor drops: one
// without version, or of a PDU type it does not report.
std::optional<std::string> TrapReportText(const CSnmpMessage& message);

// The sender the report names, given the dotted address the datagram came from: the agent
// address of an SNMPv1 trap (the device that raised it, which a relaying manager keeps), or the
// source when that field is left 0.0.0.0; the source itself for SNMPv2 traps and informs, which
// carry no agent address.
std::string TrapReportAddress(const CSnmpMessage& message, std::string_view sourceAddress);

}  // namespace qv
