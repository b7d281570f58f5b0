#pragma once
// "Database Settings": the connection of the "Save to Database" action. The installed ODBC
// drivers and configured data sources are listed; choosing one starts a connection string,
// which the user completes (for SQLite's driver a database file is chosen with "Database
// File..."). Test connects and says whether the connection opened. OK stores the string in
// "db" as it stands in the field, once a connection with it has opened: the one Test just
// opened, or one that OK opens when the string was changed or never tested. A failure stays in
// the dialog with the driver's reason; Cancel leaves "db" as it was. The service is not
// restarted.
//
// The dialog keeps the width it opened with: a long connection string scrolls in its field, and
// the driver's reason wraps and scrolls in a status box of a few lines.

#include <QDialog>
#include <QString>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace qv {

class CUserPrompts;

class CDatabaseSettingsDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CDatabaseSettingsDialog(CUserPrompts& prompts, QWidget* parent = nullptr);
  void accept() override;

 private:
  void OnSourceChosen();
  void OnChooseFile();
  void OnTest();
  void UpdateFileButton();

  CUserPrompts& prompts_;
  QTreeWidget* sources_;
  QLineEdit* connect_;
  QPushButton* chooseFile_;
  QPlainTextEdit* status_;
  QString opened_;  // the string that Test last opened with
};

}  // namespace qv
