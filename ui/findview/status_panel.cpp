#include "ui/findview/status_panel.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/findview/log_text_view.h"

namespace qv {

StatusPanel::StatusPanel(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumHeight(0);
}

void StatusPanel::paintEvent(QPaintEvent*) {
  const int width = this->width();
  const int height = this->height();
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  painter.setPen(QPen(QColor(0, 128, 0), 1));
  for (int x = 0; x < width; x += 10) painter.drawLine(x, 0, x, height);
  for (int y = 0; y < height; y += 10) painter.drawLine(0, y, width, y);
  if (list_ == nullptr) return;

  Recount(width);
  if (graph_.HasMessages()) {
    // One-pixel-wide columns: each bar is a vertical line from the bottom up.
    painter.setPen(QPen(QColor(255, 255, 0), 1));
    for (int x = 0; x < graph_.Columns(); ++x) {
      const int h = graph_.BarHeight(x, height);
      painter.drawLine(x, height - h, x, height - 1);
    }
  }
  const std::optional<ShownPosition> selected = list_->SelectedPosition();
  if (selected && selected->value < list_->ShownCount()) {
    if (const std::optional<int> x = graph_.ColumnOf(list_->ShownTimeReceived(*selected))) {
      painter.setPen(QPen(QColor(255, 0, 0), 1));
      painter.drawLine(*x, 0, *x, height);
    }
    if (textView_ != nullptr) textView_->ShowMessage(list_->ShownMessage(*selected).message);
  } else if (textView_ != nullptr) {
    textView_->ShowMessage(std::nullopt);
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

void StatusPanel::mouseReleaseEvent(QMouseEvent* event) {
  if (list_ == nullptr || list_->ShownCount() == 0 || event->button() != Qt::LeftButton) return;
  const int64_t position = graph_.ClickPosition(static_cast<int>(event->position().x()));
  list_->SelectMessage(ShownPosition(static_cast<int32_t>(position)));
  update();
}

void StatusPanel::mouseDoubleClickEvent(QMouseEvent*) { emit findRequested(); }

}  // namespace qv
