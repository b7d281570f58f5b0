#include "ui/findview/filter_dialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QVBoxLayout>

#include "ui/find/filter_tree.h"
#include "ui/findview/match_fields_group.h"

namespace qv {

namespace {

QDialogButtonBox* OkCancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

}  // namespace

CSearchTextDialog::CSearchTextDialog(CFilterTarget& target, QWidget* parent)
    : QDialog(parent), target_(target), text_(new QLineEdit(this)),
      regExp_(new QCheckBox("Match contents using Regexp", this)) {
  setWindowTitle("Search for text");
  text_->setObjectName("text");
  regExp_->setObjectName("regexp");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_);
  layout->addWidget(regExp_);
  layout->addWidget(OkCancel(this));
  connect(text_, &QLineEdit::textChanged, this, &CSearchTextDialog::Search);
  connect(regExp_, &QCheckBox::clicked, this, &CSearchTextDialog::Search);
}

FilterFields CSearchTextDialog::Fields() const {
  FilterFields fields;
  fields.message = ToBytes(text_->text());
  fields.useRegExp = regExp_->isChecked();
  return fields;
}

void CSearchTextDialog::Search() {
  const FilterFields fields = Fields();
  ApplySearchText(fields.message, fields.useRegExp, target_);
}

std::optional<FilterFields> CSearchTextDialog::Run(CFilterTarget& target, QWidget* parent) {
  CSearchTextDialog dialog(target, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Fields();
}

CFilterDialog::CFilterDialog(QWidget* parent)
    : QDialog(parent), match_(new CMatchFieldsGroup(CMatchFieldsGroup::TimeField::kWith, this)) {
  setWindowTitle("Filter");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(match_);
  layout->addWidget(OkCancel(this));
}

FilterFields CFilterDialog::Fields() const { return match_->Fields(); }

std::optional<FilterFields> CFilterDialog::Run(QWidget* parent) {
  CFilterDialog dialog(parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Fields();
}

}  // namespace qv
