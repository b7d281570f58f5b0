#pragma once
// "Help Topics": the panes of the main window and every command of the menus, the toolbar and
// the message list's context menu, with its keys and what it does. Built from the command table,
// so the help always names the commands the program has.

#include <QDialog>

class QTreeWidget;

namespace qv {

class CHelpTopicsDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CHelpTopicsDlg(QWidget* parent = nullptr);

  // One top-level item per topic ("The main window", each menu, "Toolbar", "Message list
  // (right-click)"); columns: name, keys, what it does.
  QTreeWidget* Topics() const { return topics_; }

 private:
  QTreeWidget* topics_;
};

}  // namespace qv
