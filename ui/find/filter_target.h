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

  // Whether a time window chosen now means "the last N seconds" and moves with the clock: the
  // newest message is selected, or none is.
  virtual bool SelectionAtNewest() const { return !SelectedTimeReceived().has_value(); }
  // Moves the lower bound of the shown filter's time window to `low` when that window is open
  // towards the future (CRule::kTimeRangeEndOpen): older messages leave the list, new ones keep
  // joining it. False, and nothing changes, when the filter shown now is no such window (another
  // filter has been chosen since).
  virtual bool MoveTimeWindow(int32_t low) {
    (void)low;
    return false;
  }
};

}  // namespace qv
