#include "ui/findview/find_dialog.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/message/names.h"
#include "ui/findview/match_fields_group.h"

namespace qv {

CFindDialog::CFindDialog(CMessageListAccess& list, QWidget* parent)
    : QDialog(parent), list_(list), match_(new CMatchFieldsGroup(CMatchFieldsGroup::TimeField::kWithout, this)) {
  setWindowTitle("Find");
  auto* currentGroup = new QGroupBox("Current Message", this);
  auto* form = new QFormLayout(currentGroup);
  const char* captions[] = {"Received", "IP Address", "Hostname", "Facility", "Severity"};
  for (int i = 0; i < 5; ++i) {
    current_[i] = new QLabel(currentGroup);
    current_[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(captions[i], current_[i]);
  }
  auto* previous = new QPushButton("Find Previous", this);
  auto* next = new QPushButton("Find Next", this);
  auto* cancel = new QPushButton("Cancel", this);
  next->setDefault(true);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {previous, next, cancel}) buttons->addWidget(button);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(match_);
  layout->addWidget(currentGroup);
  layout->addLayout(buttons);
  connect(previous, &QPushButton::clicked, this, [this] { Find(false); });
  connect(next, &QPushButton::clicked, this, [this] { Find(true); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  ShowCurrent();
}

bool CFindDialog::Find(bool forward) {
  CRule criteria = match_->Fields().ToRule();
  const std::optional<ShownPosition> found = FindFrom(list_, criteria, forward, list_.SelectedPosition());
  if (!found) return false;
  list_.SelectMessage(*found);
  ShowCurrent();
  return true;
}

void CFindDialog::ShowCurrent() {
  const std::optional<ShownPosition> selected = list_.SelectedPosition();
  if (!selected || selected->value >= list_.ShownCount()) {
    for (QLabel* label : current_) label->clear();
    return;
  }
  const SyslogMessage message = list_.ShownMessage(*selected);
  current_[0]->setText(FromBytes(message.FormatTimeReceived()));
  current_[1]->setText(FromBytes(message.ipAddress));
  current_[2]->setText(FromBytes(message.hostName));
  current_[3]->setText(FacilityName(message.facility));
  current_[4]->setText(SeverityName(message.severity));
}

QStringList CFindDialog::CurrentTexts() const {
  QStringList texts;
  for (const QLabel* label : current_) texts << label->text();
  return texts;
}

}  // namespace qv
