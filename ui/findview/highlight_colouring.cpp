#include "ui/findview/highlight_colouring.h"

#include "ui/find/readable_colour.h"
#include "ui/findview/highlight_dialog.h"

namespace qv {

void CHighlightColouring::ReloadHighlights() { list_.ReloadHighlights(SystemHighlightColours()); }

std::optional<std::pair<QColor, QColor>> CHighlightColouring::Match(const SyslogMessage& message) {
  const std::optional<HighlightColours> colours = list_.MatchHighlight(message);
  if (!colours) return std::nullopt;
  // A text colour that came from the palette may not read on the entry's own background.
  return std::make_pair(ToQColor(ReadableOn(colours->text, colours->background)), ToQColor(colours->background));
}

}  // namespace qv
