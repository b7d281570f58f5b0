#include "snmp/ber.h"

namespace qv::ber {

void AppendLength(Bytes& out, size_t length) {
  if (length <= 126) {
    out.push_back(static_cast<uint8_t>(length));
    return;
  }
  uint8_t digits[sizeof(size_t)];
  size_t count = 0;
  for (size_t rest = length; rest != 0; rest >>= 8) digits[count++] = static_cast<uint8_t>(rest & 0xFF);
  out.push_back(static_cast<uint8_t>(0x80 | count));
  while (count > 0) out.push_back(digits[--count]);
}

void AppendElement(Bytes& out, uint8_t tag, ByteSpan content) {
  out.push_back(tag);
  AppendLength(out, content.size());
  out.insert(out.end(), content.begin(), content.end());
}

Bytes SignedContent(int64_t value) {
  const auto bits = static_cast<uint64_t>(value);
  size_t count = 8;
  // Drop a leading byte while the next one's top bit still carries the sign.
  while (count > 1) {
    const auto top = static_cast<uint8_t>(bits >> (8 * (count - 1)));
    const bool nextNegative = ((bits >> (8 * (count - 1) - 1)) & 1) != 0;
    if ((top == 0x00 && !nextNegative) || (top == 0xFF && nextNegative)) {
      --count;
    } else {
      break;
    }
  }
  Bytes out;
  for (size_t i = count; i > 0; --i) out.push_back(static_cast<uint8_t>(bits >> (8 * (i - 1))));
  return out;
}

Bytes UnsignedContent(uint64_t value) {
  Bytes out;
  size_t count = 1;
  while (count < 8 && (value >> (8 * count)) != 0) ++count;
  if ((value >> (8 * count - 1)) & 1) out.push_back(0x00);
  for (size_t i = count; i > 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * (i - 1))));
  return out;
}

uint32_t ReadNumber32(ByteSpan content) {
  uint32_t value = (!content.empty() && content.size() < 4 && (content[0] & 0x80)) ? 0xFFFFFFFFu : 0;
  for (uint8_t byte : content) value = (value << 8) | byte;
  return value;
}

uint64_t ReadNumber64(ByteSpan content) {
  uint64_t value = 0;
  for (uint8_t byte : content) value = (value << 8) | byte;
  return value;
}

std::optional<uint8_t> CBerReader::PeekTag() const {
  if (AtEnd()) return std::nullopt;
  return bytes_[pos_];
}

std::optional<Element> CBerReader::Next() {
  if (AtEnd()) return std::nullopt;
  size_t pos = pos_;
  const uint8_t tag = bytes_[pos++];
  if (pos >= bytes_.size()) {
    failed_ = true;
    return std::nullopt;
  }
  const uint8_t first = bytes_[pos++];
  size_t length = first;
  if (first & 0x80) {
    // The indefinite form (0x80) has no place in SNMP; more than four length bytes cannot fit a
    // datagram.
    const size_t count = first & 0x7F;
    if (count == 0 || count > 4 || count > bytes_.size() - pos) {
      failed_ = true;
      return std::nullopt;
    }
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | bytes_[pos++];
  }
  if (length > bytes_.size() - pos) {
    failed_ = true;
    return std::nullopt;
  }
  pos_ = pos + length;
  return Element{tag, bytes_.subspan(pos, length)};
}

std::optional<Element> CBerReader::NextIf(uint8_t tag) {
  if (PeekTag() != tag) return std::nullopt;
  return Next();
}

}  // namespace qv::ber
