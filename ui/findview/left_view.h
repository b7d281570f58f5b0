#pragma once
// The filter tree pane: the ten top items with their images, the entries of CFilterTree, and
// choosing an item (selection change, double-click or Enter), which filters the message list.
// The document tells it of new addresses, host names and facilities as they are first seen; an
// entry's place among its siblings is its place in CFilterTree. Counts beside the entries are
// read again once a second (only those that changed are redrawn). Each severity entry's image
// has that severity's list colour ("color0".."color7").

#include <QTimer>
#include <QTreeWidget>

#include <array>
#include <optional>

#include "ui/find/filter_tree.h"
#include "ui/find/highlight_list.h"
#include "ui/find/message_list_access.h"
#include "ui/find/moving_time_window.h"

namespace qv {

class CLeftView : public QTreeWidget {
  Q_OBJECT

 public:
  explicit CLeftView(QWidget* parent = nullptr);

  // The list that choices act on; not owned, null for none (choices then do nothing).
  void SetList(CMessageListAccess* list) {
    window_.Stop();
    list_ = list;
  }

  void AddAddress(const std::string& address);
  void AddHostName(const std::string& hostName);
  void AddFacility(int32_t facility);
  void ForgetEntries();
  void RebuildCustomFilters();
  // Where the entries' counts come from (the document's store); not owned, null for none.
  void SetCounts(const CEntryCounts* counts);
  // Reads the counts again now (the once-a-second timer does this by itself).
  void RefreshCounts();
  // Rereads the severity colours for the severity entries' images.
  void ReloadColours();

  // Chooses the item, as a click on it does.
  void ChooseItem(QTreeWidgetItem* item);
  QTreeWidgetItem* BranchItem(FilterBranch branch) const;
  // The width that shows the fixed entries of the Severity and Time Received branches whole in
  // this font, with a count of up to six digits, scroll bar and frame included; learned entries (host names) may still need more.
  int WidthForFixedEntries() const;
  const CFilterTree& Tree() const { return tree_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void AddEntryItem(FilterBranch branch, std::optional<std::size_t> entry);
  void ReplaceEntryItems(FilterBranch branch);
  QIcon EntryImage(FilterBranch branch, const FilterEntry& entry) const;

  CFilterTree tree_;
  CMessageListAccess* list_ = nullptr;
  CMovingTimeWindow window_;  // a "last N seconds" window chosen here, moved with the clock
  bool rebuilding_ = false;  // entries being removed move the selection: that is no choice
  QTimer countTimer_;
  std::array<Colour, 8> severityColours_{};
};

// The nine 16 by 16 images of the tree, by image index.
QIcon FilterTreeImage(int index);
// The severity image (a warning triangle) filled with a colour.
QIcon SeverityImage(Colour fill);

}  // namespace qv
