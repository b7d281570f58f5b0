#pragma once
// The activity graph pane: messages shown per time column, on a black background, with a count
// scale at the left and a time axis with labels below, both ruled in dark green; yellow bars, a
// red line at the selected message. Hovering a column tells its time range and count. Each
// painting also gives the full-text view the selected message, so the two panes always describe
// the same selection. A click selects the first message of the nearest column that holds one; a
// double-click asks for the Find dialog. All arithmetic is CActivityGraph's; this only paints.
//
// The columns are recounted only when the shown list or the plot's width changed since the
// last painting (as far as the list can tell, see CMessageListAccess::ShownStamp), so that
// moving the selection or uncovering the window does not walk every message again.

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
  // Where the bars are drawn: the panel less the scale's labels at the left and the time
  // labels below. Empty when the panel is too small for any.
  QRect PlotRect() const;
  // The tooltip at a point of the panel: the time range and count of the column under it, as
  // last painted; empty outside the bars or without messages.
  QString ToolTipAt(const QPoint& point) const;

 signals:
  void findRequested();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  // Brings the columns up to the shown list for a plot `width` pixels wide.
  void Recount(int width);
  void PaintScale(QPainter& painter, const QRect& plot) const;
  void PaintTimeAxis(QPainter& painter, const QRect& plot, bool utc) const;
  // The least distance between two scale lines, and between two time labels.
  int ScaleGap() const;
  int TimeGap() const;

  CMessageListAccess* list_ = nullptr;
  CLogTextView* textView_ = nullptr;
  CActivityGraph graph_;
  // What the columns were last counted from; nothing forces a recount.
  std::optional<CMessageListAccess::Stamp> counted_;
  int countedWidth_ = -1;
  std::vector<int32_t> times_;  // the shown times received, kept so that a recount allocates nothing
};

}  // namespace qv
