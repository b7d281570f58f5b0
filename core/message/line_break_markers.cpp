#include "core/message/line_break_markers.h"

#include <cstring>

namespace qv {

namespace {

// The first CR or LF from `start` on, npos when none. Two memchr passes (the second only up to
// the first LF) cost less than one byte-by-byte pass: memchr looks at many bytes at a time.
std::size_t FindLineBreak(std::string_view text, std::size_t start) {
  if (start >= text.size()) return std::string_view::npos;
  const char* from = text.data() + start;
  std::size_t length = text.size() - start;
  const void* lineFeed = std::memchr(from, '\n', length);
  if (lineFeed != nullptr) length = static_cast<std::size_t>(static_cast<const char*>(lineFeed) - from);
  const void* carriageReturn = std::memchr(from, '\r', length);
  const void* found = carriageReturn != nullptr ? carriageReturn : lineFeed;
  return found == nullptr ? std::string_view::npos : start + static_cast<std::size_t>(static_cast<const char*>(found) - from);
}

}  // namespace

void AppendWithLineBreakMarkers(std::string& out, std::string_view text) {
  for (std::size_t start = 0;;) {
    const std::size_t found = FindLineBreak(text, start);
    out.append(text.substr(start, found - start));
    if (found == std::string_view::npos) return;
    out.append(text[found] == '\r' ? kCarriageReturnMarker : kLineFeedMarker);
    start = found + 1;
  }
}

void ReplaceLineBreaks(std::string& text) {
  if (FindLineBreak(text, 0) == std::string_view::npos) return;
  std::string marked;
  marked.reserve(text.size() + 16);
  AppendWithLineBreakMarkers(marked, text);
  text.swap(marked);
}

}  // namespace qv
