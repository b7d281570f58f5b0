// Any pattern compiles or is refused without fault, and a compiled pattern searches any text
// within its bounds. The input is split at its first zero byte into pattern and text; the byte
// after the zero, when present, chooses the case flag and the start position.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "rules/pattern_matcher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  const std::string_view pattern = input.substr(0, split);
  std::string_view text = split == std::string_view::npos ? pattern : input.substr(split + 1);
  uint8_t options = 0;
  if (split != std::string_view::npos && !text.empty()) {
    options = static_cast<uint8_t>(text.front());
    text.remove_prefix(1);
  }

  qv::PatternPtr compiled(qv::CompilePattern(pattern));
  if (compiled == nullptr) return 0;
  qv::PatternCaptures captures;
  const size_t start = (options >> 1) % (text.size() + 2);
  const bool matched = qv::MatchPattern(compiled.get(), text, start, &captures, options & 1);
  if (qv::MatchPattern(compiled.get(), text, start, nullptr, options & 1) != matched) std::abort();

  // A match reports where it was found, inside the searched part of the text.
  if (matched) {
    if (captures.start[0] < static_cast<int32_t>(start) || captures.end[0] < captures.start[0] ||
        captures.end[0] > static_cast<int32_t>(text.size())) {
      std::abort();
    }
    for (int n = 1; n < qv::kPatternCaptureSlots; ++n) {
      if (captures.start[n] < -1 || captures.start[n] > static_cast<int32_t>(text.size()) ||
          captures.end[n] < -1 || captures.end[n] > static_cast<int32_t>(text.size())) {
        std::abort();
      }
    }
  } else if (captures.start[0] != -1) {
    std::abort();
  }
  return 0;
}
