#pragma once
// What choosing a filter needs of the rest of the viewer: the document's filtered list and the
// message list's selection. The viewer's widgets implement it over the document and the list
// view; tests implement it over a plain vector.

#include <cstdint>
#include <optional>

#include "rules/rule.h"

namespace qv {

class CFilterTarget {
 public:
  virtual ~CFilterTarget() = default;
  virtual bool IsFilterShown() const = 0;
  // Shows only the stored messages the rule matches, and keeps adding new matching ones.
  virtual void ApplyFilter(const CRule& rule) = 0;
  virtual void ShowAll() = 0;
  // The time received of the message selected in the list, or nothing without a selection.
  virtual std::optional<int32_t> SelectedTimeReceived() const = 0;
  // Clears the list's selection, selects its last row (the newest message it shows) and
  // repaints it.
  virtual void SelectLastRow() = 0;
};

}  // namespace qv
