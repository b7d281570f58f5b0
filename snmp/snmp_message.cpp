#include "snmp/snmp_message.h"

#include <charconv>

namespace qv {
namespace {

constexpr const char* kNoBinding = "NULL";

bool IsSnmpV2Notification(uint8_t type) { return type == kPduTrapV2 || type == kPduInformRequest; }

}  // namespace

CSnmpMessage::CSnmpMessage(uint8_t pduType) : version_(kVersion1) {
  if (CSnmpPdu::IsKnownType(pduType)) pdu_.emplace(pduType);
}

std::optional<CSnmpMessage> CSnmpMessage::Decode(ByteSpan datagram) {
  ber::CBerReader outer(datagram);
  const auto whole = outer.Next();
  if (!whole) return std::nullopt;

  CSnmpMessage message;
  ber::CBerReader reader(whole->content);
  if (auto version = reader.NextIf(kTagInteger)) {
    message.version_ = static_cast<int32_t>(ber::ReadNumber32(version->content));
  }
  if (auto community = reader.NextIf(kTagOctetString)) {
    message.community_ = CSnmpOctetString(std::string(community->content.begin(), community->content.end()));
  }
  const auto pdu = reader.Next();
  if (reader.Failed()) return std::nullopt;
  if (pdu && CSnmpPdu::IsKnownType(pdu->tag)) {
    message.pdu_.emplace(pdu->tag);
    ber::CBerReader fields(pdu->content);
    if (!message.pdu_->DecodeFields(fields) || !message.DecodeBindings(fields)) return std::nullopt;
  }
  return message;
}

bool CSnmpMessage::DecodeBindings(ber::CBerReader& reader) {
  // The list's own tag is not checked: whatever element follows the fields holds the bindings.
  const auto list = reader.Next();
  if (!list) return !reader.Failed();
  ber::CBerReader bindings(list->content);
  while (auto binding = bindings.Next()) {
    ber::CBerReader pair(binding->content);
    const auto name = pair.Next();
    const auto value = pair.Next();
    if (pair.Failed()) return false;
    if (!name || !value || name->tag != kTagOid) continue;
    auto oid = CSnmpOid::FromContent(name->content);
    if (!oid) return false;
    // A value that is not valid for its kind is still within its binding: it is shown as what
    // it holds rather than costing the whole message.
    std::unique_ptr<CSnmpValue> decoded = DecodeSnmpValue(value->tag, value->content);
    if (!decoded) decoded = std::make_unique<CSnmpOpaque>(std::string(value->content.begin(), value->content.end()), true);
    bindings_.push_back(CSnmpBinding{std::move(*oid), std::move(decoded)});
  }
  return !bindings.Failed();
}

Bytes CSnmpMessage::Encode() const {
  Bytes body;
  if (version_) CSnmpInteger(*version_).Encode(body);
  community_.Encode(body);
  if (pdu_) {
    Bytes list;
    for (const auto& binding : bindings_) {
      Bytes pair;
      binding.name.Encode(pair);
      if (binding.value) {
        binding.value->Encode(pair);
      } else {
        ber::AppendElement(pair, kTagNull, {});
      }
      ber::AppendElement(list, kTagSequence, pair);
    }
    Bytes content;
    pdu_->EncodeFields(content);
    ber::AppendElement(content, kTagSequence, list);
    ber::AppendElement(body, pdu_->Type(), content);
  }
  Bytes datagram;
  ber::AppendElement(datagram, kTagSequence, body);
  return datagram;
}

int32_t CSnmpMessage::Version() const {
  if (!version_) throw CSnmpMissingVersion();
  return *version_;
}

void CSnmpMessage::SetPduType(uint8_t type) {
  if (pdu_) {
    pdu_->SetType(type);
  } else {
    pdu_.emplace(type);
  }
}

int32_t CSnmpMessage::GenericTrap() const {
  if (!pdu_) return 0;
  if (pdu_->Type() == kPduTrapV1) return pdu_->genericTrap;
  return IsSnmpV2Notification(pdu_->Type()) ? 6 : 0;
}

int32_t CSnmpMessage::SpecificTrap() const {
  if (!pdu_) return 0;
  if (pdu_->Type() == kPduTrapV1) return pdu_->specificTrap;
  if (!IsSnmpV2Notification(pdu_->Type()) || BindingCount() < 2) return 0;
  const std::string text = BindingValueText(2);
  const size_t dot = text.rfind('.');
  if (dot == std::string::npos) return 0;
  uint32_t number = 0;
  std::from_chars(text.data() + dot + 1, text.data() + text.size(), number);
  return static_cast<int32_t>(number);
}

uint32_t CSnmpMessage::TimeStamp() const { return pdu_ && pdu_->Type() == kPduTrapV1 ? pdu_->timeStamp : 0; }

std::optional<std::string> CSnmpMessage::AgentAddressText() const {
  if (!pdu_) return std::nullopt;
  if (pdu_->Type() == kPduTrapV1) return pdu_->agentAddress.Text();
  if (IsSnmpV2Notification(pdu_->Type())) return std::string("255.255.255.255");
  return std::nullopt;
}

std::optional<std::string> CSnmpMessage::EnterpriseText() const {
  if (!pdu_) return std::nullopt;
  if (pdu_->Type() == kPduTrapV1) return pdu_->enterprise.Text();
  if (IsSnmpV2Notification(pdu_->Type()) && BindingCount() >= 2) {
    const CSnmpBinding* trapId = Binding(2);
    if (trapId->value && trapId->value->Tag() == kTagOid) return trapId->value->Text();
  }
  return std::nullopt;
}

bool CSnmpMessage::SetEnterprise(std::string_view dotted) {
  auto oid = CSnmpOid::FromText(dotted);
  if (!pdu_ || !oid) return false;
  pdu_->enterprise = std::move(*oid);
  return true;
}

bool CSnmpMessage::SetAgentAddress(std::string_view dotted) {
  auto address = CSnmpIpAddress::FromText(dotted);
  if (!pdu_ || !address) return false;
  pdu_->agentAddress = *address;
  return true;
}

void CSnmpMessage::SetGenericTrap(int32_t generic) {
  if (pdu_) pdu_->genericTrap = generic;
}

void CSnmpMessage::SetSpecificTrap(int32_t specific) {
  if (pdu_) pdu_->specificTrap = specific;
}

void CSnmpMessage::SetTimeStamp(uint32_t ticks) {
  if (pdu_) pdu_->timeStamp = ticks;
}

void CSnmpMessage::SetErrorStatus(int32_t status) {
  if (pdu_) pdu_->errorStatus = status;
}

void CSnmpMessage::SetErrorIndex(int32_t index) {
  if (pdu_) pdu_->errorIndex = index;
}

const CSnmpBinding* CSnmpMessage::Binding(int i) const {
  if (i < 1 || i > BindingCount()) return nullptr;
  return &bindings_[static_cast<size_t>(i - 1)];
}

std::string CSnmpMessage::BindingNameText(int i) const {
  const CSnmpBinding* binding = Binding(i);
  return binding ? binding->name.Text() : kNoBinding;
}

std::string CSnmpMessage::BindingTypeName(int i) const {
  const CSnmpBinding* binding = Binding(i);
  return binding && binding->value ? std::string(binding->value->TypeName()) : kNoBinding;
}

std::string CSnmpMessage::BindingValueText(int i) const {
  const CSnmpBinding* binding = Binding(i);
  return binding && binding->value ? binding->value->Text() : kNoBinding;
}

void CSnmpMessage::AppendBinding(CSnmpOid name, std::unique_ptr<CSnmpValue> value) {
  bindings_.push_back(CSnmpBinding{std::move(name), std::move(value)});
}

}  // namespace qv
