#pragma once
// Dialog "Edit Custom filters": the named custom filters, edited in a working copy
// (CCustomFilterList) and written to the settings store only by OK. Cancel, or closing it any
// other way, saves nothing. After OK the caller rebuilds the filter tree's custom branch.

#include <QDialog>

#include <functional>

#include "ui/find/custom_filter_list.h"

class QLineEdit;
class QListWidget;
class QPushButton;

namespace qv {

class CMatchFieldsGroup;

class CCustomFilterDialog : public QDialog {
  Q_OBJECT

 public:
  // Asks "Save changes?"; true for Yes. Replaceable so that tests can answer.
  using SaveQuestion = std::function<bool(QWidget* parent)>;

  explicit CCustomFilterDialog(QWidget* parent = nullptr, SaveQuestion askSave = AskSaveChanges);

  // The form: the name field and the Match fields.
  FilterFields Form() const;
  void SetForm(const FilterFields& form);
  QListWidget* Names() const { return names_; }
  const CCustomFilterList& Working() const { return filters_; }

  // The buttons' actions, also reached by tests.
  void AddModify();
  void DeleteFilter();
  void ClearAll();
  void OpenFilter(const QString& name);
  void accept() override;

  static bool AskSaveChanges(QWidget* parent);

 private:
  void ShowNames();
  void TakeOrderFromList();
  void NameEdited(const QString& name);
  void AskToSave();

  SaveQuestion askSave_;
  CCustomFilterList filters_;
  QListWidget* names_;
  QLineEdit* name_;
  CMatchFieldsGroup* match_;
  QPushButton* addModify_;
  QPushButton* delete_;
};

}  // namespace qv
