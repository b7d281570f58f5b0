#pragma once
// The windowed program's message boxes for the rules' "Message Box" action.
//
// CMessageBoxDlg is one box: modeless, above all other windows, centred on the screen, captioned
// with the rule's name; it closes when "OK" is pressed or, when "msgboxtime" (section "Settings",
// default 30, read as the box opens) is not 0, after that many seconds.
//
// CWindowMessageBoxes is the rules' box host. There is at most one box in the process: a newer
// box replaces the one shown. Nothing waits for the user, so reception goes on while a box is
// open; the report of an unknown action code is a modeless box as well. The calls may come from
// any thread; the boxes are made on the user-interface thread.

#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <string>

#include "rules/actions/message_box_host.h"

class QLabel;

namespace qv {

class CMessageBoxDlg : public QDialog {
  Q_OBJECT

 public:
  CMessageBoxDlg(const QString& caption, const QString& text, QWidget* parent = nullptr);

  QString text() const;
  // The seconds after which the box closes itself; 0 for never.
  int timeoutSeconds() const { return timeoutSeconds_; }

 private:
  QLabel* text_;
  QTimer timeout_;
  int timeoutSeconds_ = 0;
};

class CWindowMessageBoxes : public CMessageBoxHost {
 public:
  void ShowMessageBox(const std::string& caption, const std::string& text) override;
  void ShowUnknownRule(const std::string& ruleName) override;

  // The box shown now, or null (for tests and the frame).
  static CMessageBoxDlg* Current();
};

}  // namespace qv
