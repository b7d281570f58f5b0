#pragma once
// The activity graph pane: messages shown per pixel column over time, on a black background
// with a dark-green 10-pixel grid, yellow bars and a red line at the selected message. Each
// painting also gives the full-text view the selected message's text, so the two panes always
// describe the same selection. A click selects the first message of the nearest column that
// holds one; a double-click asks for the Find dialog.
//
// The columns are recounted only when the shown list or the width changed since the last
// painting (as far as the list can tell, see CMessageListAccess::ShownStamp), so that moving the
// selection or uncovering the window does not walk every message again.

#include <QWidget>

#include <optional>
#include <vector>

#include "ui/find/activity_graph.h"
#include "ui/find/message_list_access.h"

namespace qv {

class CLogTextView;

class StatusPanel : public QWidget {
  Q_OBJECT

 public:
  explicit StatusPanel(QWidget* parent = nullptr);

  // Not owned; either may be null.
  void SetList(CMessageListAccess* list) {
    list_ = list;
    counted_.reset();
  }
  void SetTextView(CLogTextView* textView) { textView_ = textView; }
  const CActivityGraph& Graph() const { return graph_; }

 signals:
  void findRequested();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  // Brings the columns up to the shown list for a panel `width` pixels wide.
  void Recount(int width);

  CMessageListAccess* list_ = nullptr;
  CLogTextView* textView_ = nullptr;
  CActivityGraph graph_;
  // What the columns were last counted from; nothing forces a recount.
  std::optional<CMessageListAccess::Stamp> counted_;
  int countedWidth_ = -1;
  std::vector<int32_t> times_;  // the shown times received, kept so that a recount allocates nothing
};

}  // namespace qv
