#include "ui/findview/quick_filter_field.h"

#include <QKeyEvent>

namespace qv {

CQuickFilterField::CQuickFilterField(QWidget* parent) : QLineEdit(parent) {
  setObjectName("quickFilter");
  setPlaceholderText("Filter messages, host names and addresses (Ctrl+L)");
  setToolTip("Shows only the messages whose text, host name or address holds this text, letters without regard "
             "to case, within the filter chosen in the tree. Escape clears it.");
  setClearButtonEnabled(true);
  settle_.setSingleShot(true);
  settle_.setInterval(0);
  connect(this, &QLineEdit::textChanged, &settle_, qOverload<>(&QTimer::start));
  connect(&settle_, &QTimer::timeout, this, [this] {
    if (text() == filtered_) return;
    filtered_ = text();
    emit filterChanged(filtered_);
  });
}

void CQuickFilterField::FocusForTyping() {
  setFocus(Qt::ShortcutFocusReason);
  selectAll();
}

void CQuickFilterField::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && !text().isEmpty()) {
    clear();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

}  // namespace qv
