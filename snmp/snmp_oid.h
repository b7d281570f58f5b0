#pragma once
// An object identifier value. It keeps its arcs; the content is written as one sub-identifier
// 40 * X + Y for the first two arcs (X is 0, 1 or 2) and then every further arc in base 128,
// most significant group first, the top bit set on every byte but the last. The encoded content
// never exceeds 4,096 bytes.
//
// Reading takes the first sub-identifier whole (it may span several bytes, as for 2.999) and
// splits it: below 40 it is 0.v, below 80 it is 1.(v - 40), otherwise 2.(v - 80).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "snmp/snmp_value.h"

namespace qv {

class CSnmpOid final : public CSnmpValue {
 public:
  static constexpr size_t kMaxContentLength = 4096;

  // The empty identifier (no content).
  CSnmpOid() = default;

  // Dotted decimal text such as "1.3.6.1.4.1.0", a leading "." allowed; blanks (spaces, tabs)
  // around it are ignored, as a pasted identifier often has them. Nothing when the text
  // has fewer than two arcs, anything but digits and single dots, an arc above 2^32 - 1, a first
  // arc above 2, a second arc above 39 under a first arc of 0 or 1, or a content longer than
  // kMaxContentLength.
  static std::optional<CSnmpOid> FromText(std::string_view dotted);
  // Nothing when the last sub-identifier is cut off, one is above 2^32 - 1, or the content is
  // longer than kMaxContentLength.
  static std::optional<CSnmpOid> FromContent(ByteSpan content);

  const std::vector<uint32_t>& Arcs() const { return arcs_; }

  uint8_t Tag() const override { return kTagOid; }
  std::string_view TypeName() const override { return "OID"; }
  // Dotted decimal; the empty identifier gives the empty text.
  std::string Text() const override;
  Bytes Content() const override;

 private:
  explicit CSnmpOid(std::vector<uint32_t> arcs) : arcs_(std::move(arcs)) {}

  std::vector<uint32_t> arcs_;  // empty, or at least two
};

}  // namespace qv
