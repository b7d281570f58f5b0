#pragma once
// Finds a text in another without regard to the case of the letters a-z, as a plain rule's
// contents are looked for: both sides are compared upper-cased (a-z become A-Z; every other
// byte, those of 128 and above included, compares as it is).
//
// The needle is prepared once (upper-cased, with a skip table of 256 entries), so that each
// search is a Horspool scan: on ordinary log text it looks at a fraction of the haystack's
// bytes instead of upper-casing and comparing every one. A search never allocates. Immutable
// after construction; a const object may be searched from several threads.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

class CCaselessSearch {
 public:
  // An empty needle is found in every text.
  explicit CCaselessSearch(std::string_view needle = {});

  // The needle as given to the constructor.
  const std::string& needle() const { return needle_; }

  // True when the needle occurs in `haystack`, letters a-z and A-Z taken as equal.
  bool FoundIn(std::string_view haystack) const { return Find(haystack, 0) != std::string_view::npos; }
  // Where the needle first occurs in `haystack` at or after `from`; npos when nowhere.
  std::size_t Find(std::string_view haystack, std::size_t from) const;

 private:
  std::string needle_;
  std::string upperNeedle_;
  // For each byte that ends a window without a match: how far the window may move on.
  std::array<uint32_t, 256> skip_{};
};

}  // namespace qv
