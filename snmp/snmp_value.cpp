#include "snmp/snmp_value.h"

#include <charconv>

#include "snmp/snmp_oid.h"

namespace qv {
namespace {

bool IsPrintable(uint8_t byte) { return byte >= 0x20 && byte <= 0x7E; }

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string TextOf(ByteSpan content) { return std::string(content.begin(), content.end()); }

std::string HexText(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (char c : bytes) {
    const auto byte = static_cast<uint8_t>(c);
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 0x0F]);
  }
  return hex;
}

}  // namespace

void CSnmpValue::Encode(Bytes& out) const { ber::AppendElement(out, Tag(), Content()); }

std::string CSnmpInteger::Text() const { return std::to_string(value_); }

Bytes CSnmpInteger::Content() const { return ber::SignedContent(value_); }

std::string CSnmpUnsigned32::Text() const { return std::to_string(value_); }

Bytes CSnmpUnsigned32::Content() const { return ber::UnsignedContent(value_); }

std::string CSnmpCounter64::Text() const { return std::to_string(value_); }

Bytes CSnmpCounter64::Content() const { return ber::UnsignedContent(value_); }

std::string CSnmpOctetString::Text() const {
  size_t length = bytes_.size();
  if (length > 0 && bytes_[length - 1] == '\0') --length;
  bool readable = true;
  for (size_t i = 0; i < length && readable; ++i) {
    const auto byte = static_cast<uint8_t>(bytes_[i]);
    readable = IsPrintable(byte) || byte == '\t' || byte == '\n' || byte == '\r';
  }
  return readable ? bytes_.substr(0, length) : HexText(bytes_);
}

Bytes CSnmpOctetString::Content() const { return BytesOf(bytes_); }

std::optional<CSnmpIpAddress> CSnmpIpAddress::FromText(std::string_view dotted) {
  CSnmpIpAddress address;
  const char* pos = dotted.data();
  const char* end = dotted.data() + dotted.size();
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (pos == end || *pos != '.') return std::nullopt;
      ++pos;
    }
    unsigned number = 0;
    const auto [next, error] = std::from_chars(pos, end, number);
    if (error != std::errc() || number > 255 || next - pos > 3) return std::nullopt;
    address.octets_[i] = static_cast<uint8_t>(number);
    pos = next;
  }
  if (pos != end) return std::nullopt;
  return address;
}

std::optional<CSnmpIpAddress> CSnmpIpAddress::FromContent(ByteSpan content) {
  if (content.size() != 4) return std::nullopt;
  CSnmpIpAddress address;
  for (size_t i = 0; i < 4; ++i) address.octets_[i] = content[i];
  return address;
}

std::string CSnmpIpAddress::Text() const {
  return std::to_string(octets_[0]) + "." + std::to_string(octets_[1]) + "." + std::to_string(octets_[2]) + "." +
         std::to_string(octets_[3]);
}

std::string CSnmpOpaque::Text() const {
  if (hexText_) return HexText(bytes_);
  std::string text = bytes_;
  for (char& c : text) {
    if (!IsPrintable(static_cast<uint8_t>(c))) c = ' ';
  }
  return text;
}

Bytes CSnmpOpaque::Content() const { return BytesOf(bytes_); }

std::unique_ptr<CSnmpValue> DecodeSnmpValue(uint8_t tag, ByteSpan content) {
  switch (tag) {
    case kTagInteger:
      return std::make_unique<CSnmpInteger>(static_cast<int32_t>(ber::ReadNumber32(content)));
    case kTagOctetString:
      return std::make_unique<CSnmpOctetString>(TextOf(content));
    case kTagOid: {
      auto oid = CSnmpOid::FromContent(content);
      if (!oid) return nullptr;
      return std::make_unique<CSnmpOid>(std::move(*oid));
    }
    case kTagIpAddress: {
      auto address = CSnmpIpAddress::FromContent(content);
      if (!address) return nullptr;
      return std::make_unique<CSnmpIpAddress>(*address);
    }
    case kTagCounter:
      return std::make_unique<CSnmpCounter>(ber::ReadNumber32(content));
    case kTagGauge:
      return std::make_unique<CSnmpGauge>(ber::ReadNumber32(content));
    case kTagTimeTicks:
      return std::make_unique<CSnmpTimeTicks>(ber::ReadNumber32(content));
    case kTagCounter64:
      return std::make_unique<CSnmpCounter64>(ber::ReadNumber64(content));
    default:
      return std::make_unique<CSnmpOpaque>(TextOf(content));
  }
}

}  // namespace qv
