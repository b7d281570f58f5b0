#include "core/message/line_break_markers.h"

namespace qv {

void AppendWithLineBreakMarkers(std::string& out, std::string_view text) {
  for (std::size_t start = 0;;) {
    const std::size_t found = text.find_first_of("\r\n", start);
    out.append(text.substr(start, found - start));
    if (found == std::string_view::npos) return;
    out.append(text[found] == '\r' ? kCarriageReturnMarker : kLineFeedMarker);
    start = found + 1;
  }
}

void ReplaceLineBreaks(std::string& text) {
  if (text.find_first_of("\r\n") == std::string::npos) return;
  std::string marked;
  marked.reserve(text.size() + 16);
  AppendWithLineBreakMarkers(marked, text);
  text.swap(marked);
}

}  // namespace qv
