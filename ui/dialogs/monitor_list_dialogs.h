#pragma once
// The two monitor list editors: "Edit List of Files and Folders to Monitor" (files dropped on
// it are added) and "Edit List of Network Devices To Ping". OK writes the lists to the settings
// store; the caller applies settings when that monitor is on. Cancel writes nothing.

#include <QDialog>

#include "ui/editors/monitor_lists.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QTreeWidget;

namespace qv {

class CUserPrompts;

class CFileListDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CFileListDialog(CUserPrompts& prompts, QWidget* parent = nullptr);
  void accept() override;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void AddPath(const QString& path);
  void ShowRows();
  void OnRowSelected();

  CUserPrompts& prompts_;
  CFileListEditor editor_;
  QTreeWidget* list_;
  QLineEdit* path_;
  QCheckBox* log_;
};

class CPingListDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CPingListDialog(CUserPrompts& prompts, QWidget* parent = nullptr);
  void accept() override;

 private:
  void ShowHosts();

  CUserPrompts& prompts_;
  CPingListEditor editor_;
  QListWidget* list_;
  QLineEdit* host_;
  QLineEdit* timeout_;
  QLineEdit* pollPeriod_;
};

}  // namespace qv
