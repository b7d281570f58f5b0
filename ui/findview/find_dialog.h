#pragma once
// Dialog "Find": searches the shown list forward or backward without filtering it, selecting
// each message found. It stays open (modeless); "Current Message" shows the selected message
// and follows the list's selection when the owner calls ShowCurrent.
//
// It says what happened: "No match" under the buttons when a search passes the end (or the
// beginning) without a match, and steps aside when it covers the message it found. The match
// fields of the last search are remembered for the program's run, so a new dialog starts with
// them; "Find Messages" on a row starts instead from that row's host name and severity.

#include <QDialog>

#include <functional>

#include "ui/find/message_list_access.h"

class QLabel;

namespace qv {

class CMatchFieldsGroup;

class CFindDialog : public QDialog {
  Q_OBJECT

 public:
  // Where the selected row stands on the screen (global coordinates); an empty rectangle when
  // it is not in view.
  using RowLocator = std::function<QRect()>;

  static constexpr const char* kNoMatch = "No match";

  // `list` must outlive the dialog. The fields start as the last search of the run left them.
  explicit CFindDialog(CMessageListAccess& list, QWidget* parent = nullptr);

  CMatchFieldsGroup* Match() const { return match_; }
  // The row the dialog steps off after a find; none: it stays where it is.
  void SetRowLocator(RowLocator locator) { locateRow_ = std::move(locator); }
  // Finds the next (or previous) matching message from the selected row; nothing changes but
  // the "No match" note when none is found. Returns whether one was found.
  bool Find(bool forward);
  // "Find Messages" on a row: the fields hold only the selected message's host name and
  // severity (nothing when no row is selected: the fields stay).
  void StartFromSelected();
  // Shows the selected message under "Current Message" (blank without a selection).
  void ShowCurrent();
  // The texts of "Current Message": received, address, host name, facility, severity.
  QStringList CurrentTexts() const;
  // "No match" after a search that found nothing, else empty.
  QString Outcome() const;

 private:
  void StepOffRow();

  CMessageListAccess& list_;
  CMatchFieldsGroup* match_;
  QLabel* current_[5];
  QLabel* outcome_;
  RowLocator locateRow_;
};

// Where a window of frame `window` goes so that it does not cover `row`, within `screen`: where
// it stands when it does not cover it, else just below the row when it fits there, else just
// above, else on the side with more room. Only the vertical position changes (then kept on the
// screen).
QPoint PositionOffRow(const QRect& window, const QRect& row, const QRect& screen);

}  // namespace qv
