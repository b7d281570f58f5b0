#include "core/message/line_break_markers.h"

namespace qv {

namespace {

// The first CR or LF from `start` on, npos when none: one pass over the bytes (find_first_of
// looks each byte up in the set with a call of its own).
std::size_t FindLineBreak(std::string_view text, std::size_t start) {
  for (std::size_t i = start; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') return i;
  }
  return std::string_view::npos;
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
