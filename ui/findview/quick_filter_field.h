#pragma once
// The quick filter: a search field above the message list that narrows the list as one types,
// to the messages whose text, host name or address holds what is typed (CMessageStore's quick
// filter). Escape clears it. Keystrokes that come faster than the list is filtered are taken
// together: the field says what to filter by once the event loop has nothing else waiting, so a
// full store never queues one filtering per key.

#include <QLineEdit>
#include <QTimer>

namespace qv {

class CQuickFilterField : public QLineEdit {
  Q_OBJECT

 public:
  explicit CQuickFilterField(QWidget* parent = nullptr);

  // Focuses the field with its text selected, as Ctrl+L does.
  void FocusForTyping();

 signals:
  // The text to filter by changed (empty: no quick filter).
  void filterChanged(const QString& text);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QTimer settle_;
  QString filtered_;  // the text last said
};

}  // namespace qv
