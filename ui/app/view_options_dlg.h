#pragma once
// "View Options": one check box per list column in the group "Show Columns".

#include <QDialog>

#include <array>

#include "ui/store/list_columns.h"

class QCheckBox;

namespace qv {

class CViewOptionsDlg : public QDialog {
  Q_OBJECT

 public:
  // `shown`: the columns shown now, by sub-item.
  CViewOptionsDlg(const std::array<bool, kListColumns>& shown, QWidget* parent = nullptr);

  std::array<bool, kListColumns> Shown() const;
  QCheckBox* CheckBox(int column) const { return boxes_[static_cast<std::size_t>(column)]; }

 private:
  std::array<QCheckBox*, kListColumns> boxes_{};
};

}  // namespace qv
