#include "ui/findview/status_panel.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>

#include "core/settings/settings_store.h"
#include "ui/findview/log_text_view.h"

namespace qv {
namespace {

const QColor kGrid(0, 128, 0);
const QColor kBars(255, 255, 0);
const QColor kSelection(255, 0, 0);
const QColor kLabels(200, 200, 200);

bool TimeUtc() { return AppSettings().GetInt("Settings", "timeutc", 0) != 0; }

}  // namespace

StatusPanel::StatusPanel(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumHeight(0);
}

int StatusPanel::ScaleGap() const { return fontMetrics().height() + 4; }

int StatusPanel::TimeGap() const { return fontMetrics().horizontalAdvance("00:00:00") + 16; }

// The scale's labels need the digits of its top, which is at most twice the shown count.
QRect StatusPanel::PlotRect() const {
  const int shown = list_ != nullptr ? std::max(list_->ShownCount(), 1) : 1;
  const int digits = static_cast<int>(QString::number(2 * static_cast<int64_t>(shown)).size());
  const int left = fontMetrics().horizontalAdvance(QString(digits, '8')) + 10;
  const int top = fontMetrics().height() / 2 + 2;  // room for the top label's upper half
  const int bottom = fontMetrics().height() + 6;
  const QRect plot(left, top, width() - left - 8, height() - top - bottom);
  return plot.width() > 0 && plot.height() > 0 ? plot : QRect();
}

void StatusPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (list_ == nullptr) return;
  const QRect plot = PlotRect();
  Recount(plot.width());
  if (graph_.HasMessages()) {
    PaintScale(painter, plot);
    PaintTimeAxis(painter, plot, TimeUtc());
    for (int column = 0; column < graph_.Columns(); ++column) {
      const int x = plot.left() + graph_.ColumnLeft(column);
      int barWidth = graph_.ColumnLeft(column + 1) - graph_.ColumnLeft(column);
      if (barWidth >= 4) --barWidth;  // a dark gap keeps neighbouring bars apart
      const int h = graph_.BarHeight(column, plot.height(), ScaleGap());
      painter.fillRect(x, plot.bottom() + 1 - h, std::max(barWidth, 1), h, kBars);
    }
  }
  const std::optional<ShownPosition> selected = list_->SelectedPosition();
  if (selected && selected->value < list_->ShownCount()) {
    if (const std::optional<int> x = graph_.XOf(list_->ShownTimeReceived(*selected))) {
      painter.setPen(QPen(kSelection, 1));
      painter.drawLine(plot.left() + *x, plot.top(), plot.left() + *x, plot.bottom());
    }
    if (textView_ != nullptr) textView_->ShowMessage(list_->ShownMessage(*selected));
  } else if (textView_ != nullptr) {
    textView_->ShowMessage(std::nullopt);
  }
}

// Lines across the plot at round counts, each labelled at the left; the lowest is the axis.
void StatusPanel::PaintScale(QPainter& painter, const QRect& plot) const {
  const int top = graph_.ScaleTop(plot.height(), ScaleGap());
  const int textHeight = fontMetrics().height();
  for (const int count : graph_.ScaleTicks(plot.height(), ScaleGap())) {
    const int y = plot.bottom() + 1 - static_cast<int>(static_cast<int64_t>(count) * plot.height() / top);
    painter.setPen(QPen(kGrid, 1));
    painter.drawLine(plot.left() - 3, y, plot.right(), y);
    painter.setPen(kLabels);
    painter.drawText(QRect(0, y - textHeight / 2, plot.left() - 5, textHeight), Qt::AlignRight | Qt::AlignVCenter,
                     QString::number(count));
  }
  painter.setPen(QPen(kGrid, 1));
  painter.drawLine(plot.left() - 1, plot.top(), plot.left() - 1, plot.bottom() + 1);
}

// Lines down the plot at round times, each labelled below, the labels kept inside the panel.
void StatusPanel::PaintTimeAxis(QPainter& painter, const QRect& plot, bool utc) const {
  const uint32_t step = graph_.TickStep(TimeGap());
  int labelsEnd = 0;  // labels never overlap: one that would is left out
  for (const CActivityGraph::TimeTick& tick : graph_.TimeTicks(TimeGap(), utc)) {
    const int x = plot.left() + tick.x;
    painter.setPen(QPen(kGrid, 1));
    painter.drawLine(x, plot.top(), x, plot.bottom() + 4);
    const QString label = QString::fromStdString(CActivityGraph::TickLabel(tick.time, step, utc));
    const int labelWidth = fontMetrics().horizontalAdvance(label);
    const int left = std::clamp(x - labelWidth / 2, 0, std::max(0, width() - labelWidth));
    if (left < labelsEnd) continue;
    painter.setPen(kLabels);
    painter.drawText(QRect(left, plot.bottom() + 5, labelWidth, fontMetrics().height()), Qt::AlignCenter, label);
    labelsEnd = left + labelWidth + 4;
  }
}

void StatusPanel::Recount(int width) {
  const std::optional<CMessageListAccess::Stamp> stamp = list_->ShownStamp();
  if (stamp && stamp == counted_ && width == countedWidth_) return;
  list_->ShownTimesReceived(&times_);
  graph_.Build(width, times_);
  counted_ = stamp;
  countedWidth_ = width;
}

QString StatusPanel::ToolTipAt(const QPoint& point) const {
  const QRect plot = PlotRect();
  if (!graph_.HasMessages() || !plot.contains(point)) return {};
  const std::optional<int> column = graph_.ColumnAt(point.x() - plot.left());
  return column ? QString::fromStdString(graph_.ColumnTip(*column, TimeUtc())) : QString();
}

bool StatusPanel::event(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QWidget::event(event);
  const auto* help = static_cast<QHelpEvent*>(event);
  const QString tip = ToolTipAt(help->pos());
  if (tip.isEmpty()) {
    QToolTip::hideText();
    event->ignore();
  } else {
    QToolTip::showText(help->globalPos(), tip, this);
  }
  return true;
}

void StatusPanel::mouseReleaseEvent(QMouseEvent* event) {
  if (list_ == nullptr || list_->ShownCount() == 0 || event->button() != Qt::LeftButton) return;
  const int x = static_cast<int>(event->position().x()) - PlotRect().left();
  list_->SelectMessage(ShownPosition(static_cast<int32_t>(graph_.ClickPosition(x))));
  update();
}

void StatusPanel::mouseDoubleClickEvent(QMouseEvent*) { emit findRequested(); }

}  // namespace qv
