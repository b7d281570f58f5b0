#include "snmp/snmp_pdu.h"

namespace qv {
namespace {

void AppendInteger(Bytes& out, int32_t value) { CSnmpInteger(value).Encode(out); }

void ReadInteger(ber::CBerReader& reader, int32_t& field) {
  if (auto element = reader.NextIf(kTagInteger)) field = static_cast<int32_t>(ber::ReadNumber32(element->content));
}

}  // namespace

bool CSnmpPdu::IsKnownType(uint8_t tag) {
  switch (tag) {
    case kPduGetRequest:
    case kPduGetNextRequest:
    case kPduResponse:
    case kPduSetRequest:
    case kPduTrapV1:
    case kPduInformRequest:
    case kPduTrapV2:
      return true;
    default:
      return false;
  }
}

void CSnmpPdu::EncodeFields(Bytes& out) const {
  if (type_ == kPduTrapV1) {
    enterprise.Encode(out);
    agentAddress.Encode(out);
    AppendInteger(out, genericTrap);
    AppendInteger(out, specificTrap);
    CSnmpTimeTicks(timeStamp).Encode(out);
    return;
  }
  AppendInteger(out, requestId);
  AppendInteger(out, errorStatus);
  AppendInteger(out, errorIndex);
}

bool CSnmpPdu::DecodeFields(ber::CBerReader& reader) {
  if (type_ == kPduTrapV1) {
    if (auto element = reader.NextIf(kTagOid)) {
      auto oid = CSnmpOid::FromContent(element->content);
      if (!oid) return false;
      enterprise = std::move(*oid);
    }
    if (auto element = reader.NextIf(kTagIpAddress)) {
      auto address = CSnmpIpAddress::FromContent(element->content);
      if (!address) return false;
      agentAddress = *address;
    }
    ReadInteger(reader, genericTrap);
    ReadInteger(reader, specificTrap);
    if (auto element = reader.NextIf(kTagTimeTicks)) timeStamp = ber::ReadNumber32(element->content);
  } else {
    ReadInteger(reader, requestId);
    ReadInteger(reader, errorStatus);
    ReadInteger(reader, errorIndex);
  }
  return !reader.Failed();
}

}  // namespace qv
