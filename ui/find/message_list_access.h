#pragma once
// What the finding panes and dialogs need of the document's shown list and of the message list
// view: reading shown messages, the selection, and filtering (CFilterTarget). The viewer
// implements it over the document and the list view; tests over a vector.
// User-interface thread only.

#include <cstdint>
#include <optional>
#include <vector>

#include "core/message/syslog_message.h"
#include "ui/find/filter_target.h"

namespace qv {

class CMessageListAccess : public CFilterTarget {
 public:
  virtual int ShownCount() const = 0;
  // The shown message at a position; an empty record outside the list.
  virtual SyslogMessage ShownMessage(int position) const = 0;
  // Only the time received.
  virtual int32_t ShownTimeReceived(int position) const = 0;
  // Every shown time received, oldest position first, into `out` (resized, capacity reused):
  // the activity graph reads them all when it recounts.
  virtual void ShownTimesReceived(std::vector<int32_t>* out) const {
    out->resize(static_cast<std::size_t>(ShownCount()));
    for (std::size_t i = 0; i < out->size(); ++i) (*out)[i] = ShownTimeReceived(static_cast<int>(i));
  }
  // Names the contents of the shown list: two equal stamps mean the same messages in the same
  // order. Nothing when the list cannot tell; readers then assume it changed.
  struct Stamp {
    uint64_t generation = 0;
    uint64_t added = 0;
    bool operator==(const Stamp&) const = default;
  };
  virtual std::optional<Stamp> ShownStamp() const { return std::nullopt; }
  // The first selected position, or -1.
  virtual int GetSelectedIndex() const = 0;
  // Clears the selection, selects the position (-1: the last row), scrolls it into view and
  // repaints the activity graph.
  virtual void SelectMessage(int position) = 0;

  std::optional<int32_t> SelectedTimeReceived() const override {
    const int selected = GetSelectedIndex();
    if (selected < 0 || selected >= ShownCount()) return std::nullopt;
    return ShownTimeReceived(selected);
  }
  void SelectLastRow() override { SelectMessage(-1); }
};

// Searches the shown list for the next message the rule matches, forward from the row after
// `selected` (the first row when -1) or backward from the row before it (the last row when -1).
// Returns its position, or -1 when the end or the beginning is passed.
int FindFrom(CMessageListAccess& list, CRule& criteria, bool forward, int selected);

}  // namespace qv
