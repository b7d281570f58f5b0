#pragma once
// "Edit Rules": the rule editor's window over CRuleEditor. Cancel, like closing it by its frame,
// discards every change. After OK the rules are already saved, and the caller reloads them and
// restarts a running service.

#include <QDialog>
#include <QListWidget>

#include "ui/editors/rule_editor.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

namespace qv {

class CUserPrompts;

// The list of rule names; a name dropped within it moves there (before the row under the
// pointer, or to the end below the last row).
class CRuleNameList : public QListWidget {
  Q_OBJECT
 public:
  explicit CRuleNameList(QWidget* parent = nullptr);

 signals:
  void moveRequested(int from, int target);

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  bool IsRowDrag(const QDropEvent* event) const;
};

class CRuleEditorDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CRuleEditorDialog(CUserPrompts& prompts, QWidget* parent = nullptr);

  void accept() override;

 private:
  void BuildControls();
  // Controls -> editor fields, and back.
  void TakeControlValues();
  void ShowFields();
  void ShowValueControls();
  void FillNames(int selectRow);

  void OnNameEdited();
  // "&Add/Modify Rule" is enabled exactly when the name is not empty, "&Delete Rule" when
  // moreover the list has a row.
  void UpdateNameButtons();
  void OnActionChosen(int row);
  void OnNameDoubleClicked(QListWidgetItem* item);
  bool OnAddModify();
  void OnNewRule();
  void OnDeleteRule();
  void OnClearAll();
  void OnChooseFile();
  void OnAdvanced();
  void OnMoveRequested(int from, int target);
  // "Save changes?" when the edited rule would be lost; false when a field was refused.
  bool OfferToSave();

  CUserPrompts& prompts_;
  CRuleEditor editor_;
  CRuleNameList* names_;
  QLineEdit* name_;
  QLineEdit* address_;
  QComboBox* facility_;
  QComboBox* severity_;
  QLineEdit* message_;
  QCheckBox* useRegExp_;
  QLineEdit* hostname_;
  QLineEdit* threshold_;
  QComboBox* action_;
  QGroupBox* valueGroup_;
  QLineEdit* value_;
  QComboBox* valueList_;
  QPushButton* chooseFile_;
  QPushButton* advanced_;
  QCheckBox* enabled_;
  QPushButton* addModify_;
  QPushButton* deleteRule_;
};

}  // namespace qv
