#pragma once
// The two dialogs that choosing a filter may open: "Search for text", which filters the list
// while the user types, and "Filter", which asks for several fields at once. Both are modal.

#include <QDialog>

#include "ui/find/filter_fields.h"
#include "ui/find/filter_target.h"

class QCheckBox;
class QLineEdit;

namespace qv {

class CMatchFieldsGroup;

// Dialog "Search for text": every change of the text or of the check box applies a contents
// filter to `target` (an empty text changes nothing). OK keeps the last filter; the caller
// decides what Cancel means.
class CSearchTextDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CSearchTextDialog(CFilterTarget& target, QWidget* parent = nullptr);
  FilterFields Fields() const;

  // Runs the dialog; the confirmed text and switch, or nothing when cancelled.
  static std::optional<FilterFields> Run(CFilterTarget& target, QWidget* parent);

 private:
  void Search();

  CFilterTarget& target_;
  QLineEdit* text_;
  QCheckBox* regExp_;
};

// Dialog "Filter": the Match fields and "Time received within (secs)".
class CFilterDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CFilterDialog(QWidget* parent = nullptr);
  FilterFields Fields() const;
  CMatchFieldsGroup* Match() const { return match_; }

  static std::optional<FilterFields> Run(QWidget* parent);

 private:
  CMatchFieldsGroup* match_;
};

}  // namespace qv
