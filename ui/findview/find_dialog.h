#pragma once
// Dialog "Find": searches the shown list forward or backward without filtering it, selecting
// each message found. It stays open (modeless); "Current Message" shows the selected message
// and follows the list's selection when the owner calls ShowCurrent.

#include <QDialog>

#include "ui/find/message_list_access.h"

class QLabel;

namespace qv {

class CMatchFieldsGroup;

class CFindDialog : public QDialog {
  Q_OBJECT

 public:
  // `list` must outlive the dialog.
  explicit CFindDialog(CMessageListAccess& list, QWidget* parent = nullptr);

  CMatchFieldsGroup* Match() const { return match_; }
  // Finds the next (or previous) matching message from the selected row; nothing changes when
  // none is found. Returns whether one was found.
  bool Find(bool forward);
  // Shows the selected message under "Current Message" (blank without a selection).
  void ShowCurrent();
  // The texts of "Current Message": received, address, host name, facility, severity.
  QStringList CurrentTexts() const;

 private:
  CMessageListAccess& list_;
  CMatchFieldsGroup* match_;
  QLabel* current_[5];
};

}  // namespace qv
