#pragma once
// The rule action "Send SNMP Trap": one SNMPv1 trap about a syslog message, sent over UDP to a
// management station. Nothing is reported here; a host that does not resolve or a socket that
// cannot be used means the trap is not sent. An enterprise or binding name that is not a valid
// object identifier is told to the caller, which reports it: that is a mistake in the rule.
//
// Safe to call from any thread. The machine's own address is looked up at the first send and
// kept for the life of the process.

#include <cstdint>
#include <optional>
#include <string_view>

#include "snmp/snmp_message.h"

namespace qv {

constexpr uint16_t kSnmpTrapPort = 162;

// The trap: version 0, the community, the enterprise, the agent address, the generic and
// specific numbers, time stamp 0, and one binding named `bindingName` whose value is `text` as
// an octet string. Nothing when the enterprise or the binding name is not a valid object
// identifier (blanks around them are ignored); an agent address that is not dotted IPv4 text is
// sent as 0.0.0.0.
std::optional<CSnmpMessage> BuildSnmpTrap(std::string_view text, std::string_view community,
                                          std::string_view enterprise, int32_t generic, int32_t specific,
                                          std::string_view bindingName, std::string_view agentAddress);

// Sends the trap for a message from `messageAddress` to `host` (dotted IPv4 address or a name,
// resolved at each call). The agent address is the message's address, or this machine's
// address (GetLocalAddress) when the message was made locally ("127.0.0.1"), so that a trap
// about another device names that device. `port` exists for tests; the action uses 162. False
// when no trap could be made because the enterprise or the binding name is not a valid object
// identifier; true otherwise, whether the datagram went out or not.
bool SendSnmpTrap(std::string_view host, std::string_view text, std::string_view community,
                  std::string_view enterprise, int32_t generic, int32_t specific, std::string_view bindingName,
                  std::string_view messageAddress, uint16_t port = kSnmpTrapPort);

// This machine's IPv4 address in network order, 0 when none is found: the address of the
// interface that routes towards other networks (found by connecting a UDP socket, which sends
// nothing), else the first address of the host name that is not a loopback address.
uint32_t GetLocalAddress();

}  // namespace qv
