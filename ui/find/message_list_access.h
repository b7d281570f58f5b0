#pragma once
// What the finding panes and dialogs need of the document's shown list and of the message list
// view: reading shown messages, the selection, and filtering (CFilterTarget). Everything here is
// in shown positions: the list view translates its rows, which may lag the document's list. The
// viewer implements it over the document and the list view; tests over a vector.
// User-interface thread only.

#include <cstdint>
#include <optional>
#include <vector>

#include "core/message/syslog_message.h"
#include "ui/find/filter_target.h"
#include "ui/store/list_numbers.h"

namespace qv {

class CMessageListAccess : public CFilterTarget {
 public:
  virtual int ShownCount() const = 0;
  // The shown message at a position; an empty record outside the list.
  virtual SyslogMessage ShownMessage(ShownPosition position) const = 0;
  // Only the time received.
  virtual int32_t ShownTimeReceived(ShownPosition position) const = 0;
  // Every shown time received, oldest position first, into `out` (resized, capacity reused):
  // the activity graph reads them all when it recounts.
  virtual void ShownTimesReceived(std::vector<int32_t>* out) const {
    out->resize(static_cast<std::size_t>(ShownCount()));
    for (std::size_t i = 0; i < out->size(); ++i) (*out)[i] = ShownTimeReceived(ShownPosition(static_cast<int32_t>(i)));
  }
  // Names the contents of the shown list: two equal stamps mean the same messages in the same
  // order. Nothing when the list cannot tell; readers then assume it changed. The count tells
  // a list whose oldest messages left (a moving time window) from the same list before.
  struct Stamp {
    uint64_t generation = 0;
    uint64_t added = 0;
    int32_t count = 0;
    bool operator==(const Stamp&) const = default;
  };
  virtual std::optional<Stamp> ShownStamp() const { return std::nullopt; }
  // The position of the first selected message; nothing without a selection, or when the
  // selected row's message has left the list.
  virtual std::optional<ShownPosition> SelectedPosition() const = 0;
  // Clears the selection, selects the message at the position, scrolls it into view and
  // repaints the activity graph.
  virtual void SelectMessage(ShownPosition position) = 0;

  bool SelectionAtNewest() const override {
    const std::optional<ShownPosition> selected = SelectedPosition();
    return !selected || selected->value >= ShownCount() - 1;
  }

  std::optional<int32_t> SelectedTimeReceived() const override {
    const std::optional<ShownPosition> selected = SelectedPosition();
    if (!selected || selected->value >= ShownCount()) return std::nullopt;
    return ShownTimeReceived(*selected);
  }
};

// Searches the shown list for the next message the rule matches, forward from the message after
// `selected` (the first when nothing is selected) or backward from the one before it (the last).
// Returns its position, or nothing when the end or the beginning is passed.
std::optional<ShownPosition> FindFrom(CMessageListAccess& list, CRule& criteria, bool forward,
                                      std::optional<ShownPosition> selected);

}  // namespace qv
