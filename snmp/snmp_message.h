#pragma once
// One SNMPv1 or SNMPv2c message: version, community, one PDU and the list of variable bindings,
// encoded to and decoded from one UDP datagram.
//
// Decoding never reads outside the datagram it is given: a datagram shorter than its outer
// length, an inner length that runs past its enclosing element, or a PDU field or binding name
// whose content is invalid for its kind yields no message. A binding value whose content is
// invalid for its kind (an address of three bytes) is kept as an opaque value shown in
// hexadecimal. What a lenient reader can make sense of is kept: a
// missing version (see Version()), a missing community ("public"), an unknown PDU tag (a
// message without PDU, PDU type 255, no bindings), a missing PDU field (its default).
//
// Binding indexes count from 1. A message is movable, not copyable, and not thread-safe.

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "snmp/ber.h"
#include "snmp/snmp_oid.h"
#include "snmp/snmp_pdu.h"
#include "snmp/snmp_value.h"

namespace qv {

// Raised by CSnmpMessage::Version() for a received message that carries no version.
class CSnmpMissingVersion : public std::runtime_error {
 public:
  CSnmpMissingVersion() : std::runtime_error("SNMP message has no version") {}
};

struct CSnmpBinding {
  CSnmpOid name;
  std::unique_ptr<CSnmpValue> value;  // null: written as NULL (05 00)
};

class CSnmpMessage {
 public:
  static constexpr uint8_t kNoPdu = 255;
  static constexpr int32_t kVersion1 = 0;
  static constexpr int32_t kVersion2c = 1;

  // A message for sending: version 0 (SNMPv1), community "public", a PDU of this type with all
  // fields 0 and no bindings. A type outside the seven PDU types makes a message without PDU.
  explicit CSnmpMessage(uint8_t pduType);

  // Nothing when the datagram does not decode (see above).
  static std::optional<CSnmpMessage> Decode(ByteSpan datagram);
  // The datagram. A message without version or without PDU leaves that element out.
  Bytes Encode() const;

  bool HasVersion() const { return version_.has_value(); }
  // 0 for SNMPv1, 1 for SNMPv2c. Throws CSnmpMissingVersion when the message has none; readers
  // of received messages test HasVersion() first and drop such messages.
  int32_t Version() const;
  void SetVersion(int32_t version) { version_ = version; }

  // The community rendered like an octet string value: its bytes, or hexadecimal digits when it
  // holds non-printable bytes.
  std::string Community() const { return community_.Text(); }
  void SetCommunity(std::string_view community) { community_ = CSnmpOctetString(std::string(community)); }

  // PDU type tag; kNoPdu when the message has no PDU.
  uint8_t PduType() const { return pdu_ ? pdu_->Type() : kNoPdu; }
  // Changes the type, or gives a message without PDU one of this type.
  void SetPduType(uint8_t type);
  int32_t RequestId() const { return pdu_ ? pdu_->requestId : 0; }

  // SNMPv1 trap: the generic field. SNMPv2-Trap and InformRequest: always 6 (enterprise
  // specific). Other PDUs: 0.
  int32_t GenericTrap() const;
  // SNMPv1 trap: the specific field. SNMPv2-Trap and InformRequest: the number after the last
  // "." of binding 2's value text (the trap identifier), 0 when there is none. Other PDUs: 0.
  int32_t SpecificTrap() const;
  // SNMPv1 trap: the time stamp field; every other PDU: 0.
  uint32_t TimeStamp() const;
  // SNMPv1 trap: the agent address; SNMPv2-Trap and InformRequest: "255.255.255.255"; other
  // PDUs: nothing.
  std::optional<std::string> AgentAddressText() const;
  // SNMPv1 trap: the enterprise. SNMPv2-Trap and InformRequest: binding 2's value text when it
  // is an object identifier. Otherwise nothing.
  std::optional<std::string> EnterpriseText() const;

  // The trap setters change the SNMPv1 trap fields and do nothing on a message without PDU.
  // The two text setters return false, and change nothing, for text that is not a valid object
  // identifier or dotted IPv4 address.
  bool SetEnterprise(std::string_view dotted);
  bool SetAgentAddress(std::string_view dotted);
  void SetGenericTrap(int32_t generic);
  void SetSpecificTrap(int32_t specific);
  void SetTimeStamp(uint32_t ticks);
  void SetErrorStatus(int32_t status);
  void SetErrorIndex(int32_t index);

  int BindingCount() const { return static_cast<int>(bindings_.size()); }
  // Binding i (from 1), or null when there is none.
  const CSnmpBinding* Binding(int i) const;
  // Dotted name, value type name and value text of binding i; "NULL" when there is no binding i
  // (and, for type and text, when the binding has no value).
  std::string BindingNameText(int i) const;
  std::string BindingTypeName(int i) const;
  std::string BindingValueText(int i) const;
  // Bindings keep their order. They are written only inside a PDU.
  void AppendBinding(CSnmpOid name, std::unique_ptr<CSnmpValue> value = nullptr);

 private:
  CSnmpMessage() = default;

  bool DecodeBindings(ber::CBerReader& reader);

  std::optional<int32_t> version_;
  CSnmpOctetString community_{"public"};
  std::optional<CSnmpPdu> pdu_;
  std::vector<CSnmpBinding> bindings_;
};

}  // namespace qv
