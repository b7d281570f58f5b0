#pragma once
// The protocol data unit of an SNMP message, identified by its tag byte. Request-style PDUs
// carry a request id, an error status and an error index; the SNMPv1 trap carries enterprise,
// agent address, generic and specific trap numbers and a time stamp. The binding list that
// follows the fields belongs to the message (snmp_message.h).

#include <cstdint>

#include "snmp/ber.h"
#include "snmp/snmp_oid.h"
#include "snmp/snmp_value.h"

namespace qv {

enum SnmpPduType : uint8_t {
  kPduGetRequest = 0xA0,
  kPduGetNextRequest = 0xA1,
  kPduResponse = 0xA2,
  kPduSetRequest = 0xA3,
  kPduTrapV1 = 0xA4,
  kPduInformRequest = 0xA6,
  kPduTrapV2 = 0xA7,
};

// Every field of every type is kept, so that changing the type (an inform answered as a
// response) keeps what the two types share. Only the fields of the current type are written.
class CSnmpPdu {
 public:
  explicit CSnmpPdu(uint8_t type) : type_(type) {}

  // Whether a tag byte is one of the seven PDU types.
  static bool IsKnownType(uint8_t tag);

  uint8_t Type() const { return type_; }
  void SetType(uint8_t type) { type_ = type; }

  // Writes the fields of the current type in their encoding order.
  void EncodeFields(Bytes& out) const;
  // Reads the fields of the current type from the start of the PDU's content. A field is taken
  // only when the next element has its tag; otherwise it keeps its default and the element is
  // left for the binding list. Returns false when a taken element is malformed.
  bool DecodeFields(ber::CBerReader& reader);

  int32_t requestId = 0;
  int32_t errorStatus = 0;
  int32_t errorIndex = 0;

  CSnmpOid enterprise;
  CSnmpIpAddress agentAddress;
  int32_t genericTrap = 0;
  int32_t specificTrap = 0;
  uint32_t timeStamp = 0;

 private:
  uint8_t type_;
};

}  // namespace qv
