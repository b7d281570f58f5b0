#pragma once
// The message list's text-highlighting colours as Qt colours: the highlight list read from the
// settings with the system colours standing in for missing ones. The list model asks it for the
// "Message" cell of each painted row. User-interface thread only.

#include <QColor>

#include <optional>
#include <utility>

#include "ui/find/highlight_list.h"

namespace qv {

class CHighlightColouring {
 public:
  // Rebuilds the list from "Highlights\highlight%d" and "hlcount".
  void ReloadHighlights();
  // Text and background colours of the first entry matching the message, or nothing.
  std::optional<std::pair<QColor, QColor>> Match(const SyslogMessage& message);

 private:
  CHighlightList list_;
};

}  // namespace qv
