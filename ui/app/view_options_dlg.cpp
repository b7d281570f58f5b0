#include "ui/app/view_options_dlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QVBoxLayout>

namespace qv {
namespace {

// The check boxes' texts, by sub-item (they differ a little from the column titles).
constexpr std::array<const char*, kListColumns> kBoxTexts = {"Time received", "IP Address", "Facility", "Severity",
                                                              "Message",       "Hostname",   "Time Sent"};

}  // namespace

CViewOptionsDlg::CViewOptionsDlg(const std::array<bool, kListColumns>& shown, QWidget* parent) : QDialog(parent) {
  setWindowTitle("View Options");
  auto* group = new QGroupBox("Show Columns");
  auto* groupLayout = new QVBoxLayout(group);
  for (std::size_t column = 0; column < boxes_.size(); ++column) {
    boxes_[column] = new QCheckBox(kBoxTexts[column]);
    boxes_[column]->setChecked(shown[column]);
    groupLayout->addWidget(boxes_[column]);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(buttons);
}

std::array<bool, kListColumns> CViewOptionsDlg::Shown() const {
  std::array<bool, kListColumns> shown{};
  for (std::size_t column = 0; column < boxes_.size(); ++column) shown[column] = boxes_[column]->isChecked();
  return shown;
}

}  // namespace qv
