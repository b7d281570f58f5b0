#include "ui/findview/custom_filter_dialog.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/findview/match_fields_group.h"

namespace qv {

CCustomFilterDialog::CCustomFilterDialog(QWidget* parent, SaveQuestion askSave)
    : QDialog(parent),
      askSave_(std::move(askSave)),
      names_(new QListWidget(this)),
      name_(new QLineEdit(this)),
      match_(new CMatchFieldsGroup(CMatchFieldsGroup::TimeField::kWith, this)),
      addModify_(new QPushButton("&Add/Modify Filter", this)),
      delete_(new QPushButton("&Delete Filter", this)) {
  setWindowTitle("Edit Custom filters");
  names_->setObjectName("names");
  names_->setSelectionMode(QAbstractItemView::SingleSelection);
  names_->setDragDropMode(QAbstractItemView::InternalMove);
  name_->setObjectName("name");
  auto* clearAll = new QPushButton("&Clear All", this);
  auto* ok = new QPushButton("OK", this);
  ok->setDefault(true);
  auto* cancel = new QPushButton("Cancel", this);
  cancel->setObjectName("cancel");

  auto* nameGroup = new QGroupBox("Name", this);
  (new QVBoxLayout(nameGroup))->addWidget(name_);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {addModify_, clearAll, delete_, ok, cancel}) buttons->addWidget(button);
  auto* fields = new QVBoxLayout;
  fields->addWidget(nameGroup);
  fields->addWidget(match_);
  auto* columns = new QHBoxLayout;
  columns->addWidget(names_);
  columns->addLayout(fields);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(columns);
  layout->addLayout(buttons);

  connect(name_, &QLineEdit::textEdited, this, &CCustomFilterDialog::NameEdited);
  connect(match_, &CMatchFieldsGroup::changed, this, [this] { filters_.MarkChanged(); });
  connect(names_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) { OpenFilter(item->text()); });
  connect(addModify_, &QPushButton::clicked, this, &CCustomFilterDialog::AddModify);
  connect(delete_, &QPushButton::clicked, this, &CCustomFilterDialog::DeleteFilter);
  connect(clearAll, &QPushButton::clicked, this, &CCustomFilterDialog::ClearAll);
  connect(ok, &QPushButton::clicked, this, &CCustomFilterDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &CCustomFilterDialog::reject);

  filters_.Load();
  ShowNames();
  addModify_->setEnabled(false);
  delete_->setEnabled(false);
}

bool CCustomFilterDialog::AskSaveChanges(QWidget* parent) {
  QMessageBox box(QMessageBox::Warning, "Changes might be lost!", "Save changes?", QMessageBox::Yes | QMessageBox::No,
                  parent);
  return box.exec() == QMessageBox::Yes;
}

FilterFields CCustomFilterDialog::Form() const {
  FilterFields form = match_->Fields();
  form.name = ToBytes(name_->text());
  return form;
}

void CCustomFilterDialog::SetForm(const FilterFields& form) {
  name_->setText(FromBytes(form.name));
  match_->SetFields(form);
}

// Rows the user dragged elsewhere keep their new place through every later action.
void CCustomFilterDialog::TakeOrderFromList() {
  std::vector<std::string> order;
  for (int row = 0; row < names_->count(); ++row) order.push_back(ToBytes(names_->item(row)->text()));
  filters_.SetOrder(std::move(order));
}

void CCustomFilterDialog::ShowNames() {
  names_->clear();
  for (const std::string& name : filters_.Names()) names_->addItem(FromBytes(name));
}

void CCustomFilterDialog::NameEdited(const QString& name) {
  addModify_->setEnabled(!name.isEmpty());
  delete_->setEnabled(!name.isEmpty());
  filters_.MarkChanged();
}

void CCustomFilterDialog::AskToSave() {
  if (filters_.NeedsSaveQuestion(Form()) && askSave_(this)) AddModify();
}

void CCustomFilterDialog::OpenFilter(const QString& name) {
  AskToSave();
  SetForm(filters_.Open(ToBytes(name)));
  const bool named = !name.isEmpty();
  addModify_->setEnabled(named);
  delete_->setEnabled(named);
}

void CCustomFilterDialog::AddModify() {
  TakeOrderFromList();
  filters_.AddModify(Form());
  ShowNames();
}

void CCustomFilterDialog::DeleteFilter() {
  TakeOrderFromList();
  filters_.Delete(ToBytes(name_->text()));
  ShowNames();
}

void CCustomFilterDialog::ClearAll() {
  TakeOrderFromList();
  filters_.ClearAll();
  ShowNames();
}

void CCustomFilterDialog::accept() {
  AskToSave();
  TakeOrderFromList();
  filters_.Save();
  QDialog::accept();
}

}  // namespace qv
