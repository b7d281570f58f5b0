#include "ui/app/view_options_dlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QSpinBox>
#include <QVBoxLayout>

#include "ui/app/pane_fonts.h"

namespace qv {
namespace {

// The check boxes' texts, by sub-item (they differ a little from the column titles).
constexpr std::array<const char*, kListColumns> kBoxTexts = {"Time received", "IP Address", "Facility", "Severity",
                                                              "Message",       "Hostname",   "Time Sent"};

}  // namespace

CViewOptionsDlg::CViewOptionsDlg(const std::array<bool, kListColumns>& shown, int fontSize, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle("View Options");
  auto* group = new QGroupBox("Show Columns");
  auto* groupLayout = new QVBoxLayout(group);
  for (std::size_t column = 0; column < boxes_.size(); ++column) {
    boxes_[column] = new QCheckBox(kBoxTexts[column]);
    boxes_[column]->setChecked(shown[column]);
    groupLayout->addWidget(boxes_[column]);
  }
  // The value below the smallest size stands for "Default".
  fontSize_ = new QSpinBox;
  fontSize_->setObjectName("fontSize");
  fontSize_->setRange(kSmallestFontSize - 1, kLargestFontSize);
  fontSize_->setSpecialValueText("Default");
  fontSize_->setSuffix(" pt");
  fontSize_->setValue(fontSize > 0 ? fontSize : kSmallestFontSize - 1);
  fontSize_->setToolTip("The size of the text in the message list, the filter tree and the full-text pane; "
                        "\"Default\" keeps the desktop's size.");
  auto* fonts = new QFormLayout;
  fonts->addRow("Font size", fontSize_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addLayout(fonts);
  layout->addWidget(buttons);
}

int CViewOptionsDlg::FontSize() const { return fontSize_->value() < kSmallestFontSize ? 0 : fontSize_->value(); }

std::array<bool, kListColumns> CViewOptionsDlg::Shown() const {
  std::array<bool, kListColumns> shown{};
  for (std::size_t column = 0; column < boxes_.size(); ++column) shown[column] = boxes_[column]->isChecked();
  return shown;
}

}  // namespace qv
