#include "ui/findview/highlight_colouring.h"

#include "ui/findview/highlight_dialog.h"

namespace qv {

void CHighlightColouring::ReloadHighlights() { list_.ReloadHighlights(SystemHighlightColours()); }

std::optional<std::pair<QColor, QColor>> CHighlightColouring::Match(const SyslogMessage& message) {
  const std::optional<HighlightColours> colours = list_.MatchHighlight(message);
  if (!colours) return std::nullopt;
  return std::make_pair(ToQColor(colours->text), ToQColor(colours->background));
}

}  // namespace qv
