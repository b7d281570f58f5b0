#pragma once
// "Database Settings": the connection of the "Save to Database" action. The installed ODBC
// drivers and configured data sources are listed; choosing one starts a connection string,
// which the user completes (for SQLite's driver a database file is chosen with "Database
// File..."). OK connects; only a connection that opens is stored in "db", as the complete string
// the driver returns, and the dialog closes. A failure stays in the dialog with the driver's
// reason; Cancel leaves "db" as it was. The service is not restarted.

#include <QDialog>

class QLabel;
class QLineEdit;
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
  QLabel* status_;
};

}  // namespace qv
