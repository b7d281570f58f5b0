#include "snmp/snmp_oid.h"

#include <charconv>
#include <limits>

namespace qv {
namespace {

size_t EncodedSize(uint64_t subIdentifier) {
  size_t size = 1;
  while (subIdentifier >>= 7) ++size;
  return size;
}

void AppendSubIdentifier(Bytes& out, uint64_t subIdentifier) {
  for (size_t i = EncodedSize(subIdentifier); i > 1; --i) {
    out.push_back(static_cast<uint8_t>(0x80 | ((subIdentifier >> (7 * (i - 1))) & 0x7F)));
  }
  out.push_back(static_cast<uint8_t>(subIdentifier & 0x7F));
}

// The first sub-identifier joins the first two arcs; it is at most 2 * 40 + (2^32 - 1).
uint64_t FirstSubIdentifier(const std::vector<uint32_t>& arcs) { return uint64_t{40} * arcs[0] + arcs[1]; }

size_t ContentSize(const std::vector<uint32_t>& arcs) {
  if (arcs.empty()) return 0;
  size_t size = EncodedSize(FirstSubIdentifier(arcs));
  for (size_t i = 2; i < arcs.size(); ++i) size += EncodedSize(arcs[i]);
  return size;
}

}  // namespace

std::optional<CSnmpOid> CSnmpOid::FromText(std::string_view dotted) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
  while (!dotted.empty() && isBlank(dotted.front())) dotted.remove_prefix(1);
  while (!dotted.empty() && isBlank(dotted.back())) dotted.remove_suffix(1);
  if (!dotted.empty() && dotted.front() == '.') dotted.remove_prefix(1);
  std::vector<uint32_t> arcs;
  const char* pos = dotted.data();
  const char* end = dotted.data() + dotted.size();
  while (true) {
    uint32_t arc = 0;
    const auto [next, error] = std::from_chars(pos, end, arc);
    if (error != std::errc()) return std::nullopt;
    arcs.push_back(arc);
    pos = next;
    if (pos == end) break;
    if (*pos != '.') return std::nullopt;
    ++pos;
    // Bound the work on absurd input before measuring the content exactly.
    if (arcs.size() > kMaxContentLength + 1) return std::nullopt;
  }
  if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] >= 40)) return std::nullopt;
  if (ContentSize(arcs) > kMaxContentLength) return std::nullopt;
  return CSnmpOid(std::move(arcs));
}

std::optional<CSnmpOid> CSnmpOid::FromContent(ByteSpan content) {
  if (content.size() > kMaxContentLength) return std::nullopt;
  std::vector<uint32_t> arcs;
  size_t pos = 0;
  while (pos < content.size()) {
    uint64_t subIdentifier = 0;
    bool more = true;
    while (more) {
      if (pos >= content.size()) return std::nullopt;  // the last group still had its top bit set
      const uint8_t byte = content[pos++];
      subIdentifier = (subIdentifier << 7) | (byte & 0x7F);
      if (subIdentifier > std::numeric_limits<uint32_t>::max() + uint64_t{80}) return std::nullopt;
      more = (byte & 0x80) != 0;
    }
    if (arcs.empty()) {
      const uint32_t first = subIdentifier < 40 ? 0 : subIdentifier < 80 ? 1 : 2;
      const uint64_t second = subIdentifier - uint64_t{40} * first;
      if (second > std::numeric_limits<uint32_t>::max()) return std::nullopt;
      arcs.push_back(first);
      arcs.push_back(static_cast<uint32_t>(second));
    } else {
      if (subIdentifier > std::numeric_limits<uint32_t>::max()) return std::nullopt;
      arcs.push_back(static_cast<uint32_t>(subIdentifier));
    }
  }
  return CSnmpOid(std::move(arcs));
}

std::string CSnmpOid::Text() const {
  std::string text;
  for (size_t i = 0; i < arcs_.size(); ++i) {
    if (i > 0) text.push_back('.');
    text += std::to_string(arcs_[i]);
  }
  return text;
}

Bytes CSnmpOid::Content() const {
  Bytes out;
  if (arcs_.empty()) return out;
  out.reserve(ContentSize(arcs_));
  AppendSubIdentifier(out, FirstSubIdentifier(arcs_));
  for (size_t i = 2; i < arcs_.size(); ++i) AppendSubIdentifier(out, arcs_[i]);
  return out;
}

}  // namespace qv
