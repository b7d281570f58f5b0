#pragma once
// What the document asks of the frame and its views. The main frame implements it (and passes
// the filter-tree and message-list calls on to those panes); tests implement it to watch the
// document. Every call arrives on the user-interface thread.

#include <cstdint>
#include <optional>
#include <string>

#include "ui/store/list_numbers.h"

namespace qv {

class CDocFrame {
 public:
  virtual ~CDocFrame() = default;

  // Main frame.
  // The listening status, one of the four texts of UpdateStatus, for the status bar.
  virtual void SetListenText(const std::string& text) = 0;
  // Why the document does not listen, with what to do (see listen_problem.h), as the tip of the
  // listening text; "" once it listens again.
  virtual void SetListenTip(const std::string& tip) { (void)tip; }
  // New messages are waiting: update the views soon (coalesced, see CRefreshCoalescer).
  virtual void RequestRefresh() = 0;
  // Update every view now: the shown list was replaced (filter, sort, emptying, a file opened).
  virtual void UpdateAllViews() = 0;
  // Arm or stop the "timemark" timer while the document listens by itself.
  virtual void StartTimeMark() = 0;
  virtual void StopTimeMark() = 0;
  // Enables or disables "&Load History".
  virtual void SetHistoryLoadable(bool loadable) = 0;

  // Filter tree: a value seen for the first time since the store was emptied. Facilities 0..24
  // come one by one; every facility above 24 comes once, as 25 ("UNKNOWN"). Empty host names are
  // passed on too; the tree ignores them.
  virtual void AddAddress(const std::string& address) = 0;
  virtual void AddHostName(const std::string& hostName) = 0;
  virtual void AddFacility(int32_t facility) = 0;
  // The store was emptied: forget every value seen.
  virtual void ForgetEntries() = 0;

  // Message list: the shown position of the first selected row, or nothing.
  virtual std::optional<ShownPosition> SelectedPosition() const = 0;
  virtual void ClearSelection() = 0;
  // Selects the row of the shown position and scrolls it into view.
  virtual void EnsureSelected(ShownPosition position) = 0;
};

}  // namespace qv
