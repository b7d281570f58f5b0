#pragma once
// BER (X.690 basic encoding rules) primitives of the SNMP library: writing tag-length-content
// elements, and reading them back from a received datagram without ever looking outside it.
//
// Lengths up to 126 take one byte; 127 and more take the long form 0x80 + n followed by n
// bytes, most significant first. Every receiver reads both forms, so the long form for 127 is
// harmless and keeps the output identical to what management stations have always seen.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qv {

using Bytes = std::vector<uint8_t>;
using ByteSpan = std::span<const uint8_t>;

namespace ber {

void AppendLength(Bytes& out, size_t length);
void AppendElement(Bytes& out, uint8_t tag, ByteSpan content);

// The shortest big-endian two's-complement form of a signed number (1 to 8 bytes):
// 0 -> 00, 127 -> 7F, 128 -> 00 80, -1 -> FF.
Bytes SignedContent(int64_t value);
// The shortest form that reads back as the same non-negative number: a leading 00 is added when
// the top bit would otherwise be set (1 to 9 bytes).
Bytes UnsignedContent(uint64_t value);

// n content bytes taken big-endian into 32 bits: fewer than 4 bytes with the top bit set are
// sign-extended, more than 4 bytes keep the low 32 bits, no bytes read as 0.
uint32_t ReadNumber32(ByteSpan content);
// Big-endian unsigned; more than 8 bytes keep the low 64 bits.
uint64_t ReadNumber64(ByteSpan content);

struct Element {
  uint8_t tag = 0;
  ByteSpan content;
};

// Walks the elements of one byte range in order. The range must outlive the reader and the
// elements it returns (they point into it). A length that is malformed or runs past the end of
// the range fails the reader for good: Next() returns nothing from then on.
class CBerReader {
 public:
  explicit CBerReader(ByteSpan bytes) : bytes_(bytes) {}

  bool AtEnd() const { return failed_ || pos_ >= bytes_.size(); }
  bool Failed() const { return failed_; }

  // The tag of the next element without taking it; nothing at the end.
  std::optional<uint8_t> PeekTag() const;
  // Takes the next element; nothing at the end or when its length does not fit.
  std::optional<Element> Next();
  // Takes the next element only when it has this tag.
  std::optional<Element> NextIf(uint8_t tag);

 private:
  ByteSpan bytes_;
  size_t pos_ = 0;
  bool failed_ = false;
};

}  // namespace ber
}  // namespace qv
