#include "rules/caseless_search.h"

#include <cstddef>

namespace qv {
namespace {

uint8_t Upper(uint8_t c) { return c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - 'a' + 'A') : c; }

}  // namespace

CCaselessSearch::CCaselessSearch(std::string_view needle) : needle_(needle), upperNeedle_(needle) {
  for (char& c : upperNeedle_) c = static_cast<char>(Upper(static_cast<uint8_t>(c)));
  const std::size_t length = upperNeedle_.size();
  // A needle longer than any skip the table can hold only ever moves by the largest one.
  const uint32_t longest = length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length);
  skip_.fill(longest == 0 ? 1 : longest);
  for (std::size_t j = 0; j + 1 < length; ++j) {
    const std::size_t fromEnd = length - 1 - j;
    skip_[static_cast<uint8_t>(upperNeedle_[j])] = fromEnd > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(fromEnd);
  }
  // A lower-case letter at the end of a window moves it as its upper-case form does.
  for (int c = 'a'; c <= 'z'; ++c) skip_[c] = skip_[Upper(static_cast<uint8_t>(c))];
}

std::size_t CCaselessSearch::Find(std::string_view haystack, std::size_t from) const {
  const std::size_t length = upperNeedle_.size();
  if (from > haystack.size()) return std::string_view::npos;
  if (length == 0) return from;
  if (length > haystack.size()) return std::string_view::npos;
  const auto* text = reinterpret_cast<const uint8_t*>(haystack.data());
  const auto* wanted = reinterpret_cast<const uint8_t*>(upperNeedle_.data());
  const uint8_t wantedLast = wanted[length - 1];
  const std::size_t lastStart = haystack.size() - length;
  for (std::size_t start = from; start <= lastStart;) {
    const uint8_t last = text[start + length - 1];
    if (Upper(last) == wantedLast) {
      std::size_t j = 0;
      while (j + 1 < length && Upper(text[start + j]) == wanted[j]) ++j;
      if (j + 1 == length) return start;
    }
    start += skip_[last];
  }
  return std::string_view::npos;
}

}  // namespace qv
