#pragma once
// The filter tree pane: the ten top items with their images, the entries of CFilterTree, and
// choosing an item (selection change, double-click or Enter), which filters the message list.
// The document tells it of new addresses, host names and facilities as they are first seen.

#include <QTreeWidget>

#include "ui/find/filter_tree.h"
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

  // Chooses the item, as a click on it does.
  void ChooseItem(QTreeWidgetItem* item);
  QTreeWidgetItem* BranchItem(FilterBranch branch) const;
  // The width that shows the fixed entries of the Severity and Time Received branches whole in
  // this font, scroll bar and frame included; learned entries (host names) may still need more.
  int WidthForFixedEntries() const;
  const CFilterTree& Tree() const { return tree_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void AddEntryItem(FilterBranch branch, int entry);
  void ReplaceEntryItems(FilterBranch branch);

  CFilterTree tree_;
  CMessageListAccess* list_ = nullptr;
  CMovingTimeWindow window_;  // a "last N seconds" window chosen here, moved with the clock
  bool rebuilding_ = false;  // entries being removed move the selection: that is no choice
};

// The nine 16 by 16 images of the tree, by image index.
QIcon FilterTreeImage(int index);

}  // namespace qv
