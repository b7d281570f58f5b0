#pragma once
// "View Options": one check box per list column in the group "Show Columns", and the panes'
// "Font size" (points; "Default" for each pane's own size, see pane_fonts.h).

#include <QDialog>

#include <array>

#include "ui/store/list_columns.h"

class QCheckBox;
class QSpinBox;

namespace qv {

class CViewOptionsDlg : public QDialog {
  Q_OBJECT

 public:
  // `shown`: the columns shown now, by sub-item; `fontSize`: "fontsize" as FontSizeSetting reads it.
  CViewOptionsDlg(const std::array<bool, kListColumns>& shown, int fontSize, QWidget* parent = nullptr);

  std::array<bool, kListColumns> Shown() const;
  // 0 for "Default".
  int FontSize() const;
  QCheckBox* CheckBox(int column) const { return boxes_[static_cast<std::size_t>(column)]; }

 private:
  std::array<QCheckBox*, kListColumns> boxes_{};
  QSpinBox* fontSize_;
};

}  // namespace qv
