#include "ui/findview/find_dialog.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

#include "core/message/names.h"
#include "ui/findview/match_fields_group.h"

namespace qv {
namespace {

// The match fields of the last search, for the program's run.
FilterFields& LastSearch() {
  static FilterFields fields;
  return fields;
}

constexpr int kRowGap = 8;  // pixels between the row and the dialog that steps off it

}  // namespace

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
  outcome_ = new QLabel(this);
  outcome_->setObjectName("outcome");
  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {previous, next, cancel}) buttons->addWidget(button);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(match_);
  layout->addWidget(currentGroup);
  layout->addLayout(buttons);
  layout->addWidget(outcome_);
  connect(previous, &QPushButton::clicked, this, [this] { Find(false); });
  connect(next, &QPushButton::clicked, this, [this] { Find(true); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  match_->SetFields(LastSearch());
  ShowCurrent();
}

bool CFindDialog::Find(bool forward) {
  LastSearch() = match_->Fields();
  CRule criteria = LastSearch().ToRule();
  const std::optional<ShownPosition> found = FindFrom(list_, criteria, forward, list_.SelectedPosition());
  if (!found) {
    outcome_->setText(kNoMatch);
    return false;
  }
  outcome_->clear();
  list_.SelectMessage(*found);
  ShowCurrent();
  StepOffRow();
  return true;
}

void CFindDialog::StartFromSelected() {
  const std::optional<ShownPosition> selected = list_.SelectedPosition();
  if (!selected || selected->value >= list_.ShownCount()) return;
  const SyslogMessage message = list_.ShownMessage(*selected);
  FilterFields fields;
  fields.hostName = message.hostName;
  fields.severityIndex = message.severity >= 0 && message.severity <= 7 ? message.severity + 1 : 0;
  match_->SetFields(fields);
  outcome_->clear();
}

QString CFindDialog::Outcome() const { return outcome_->text(); }

void CFindDialog::StepOffRow() {
  if (!locateRow_ || !isVisible()) return;
  const QRect row = locateRow_();
  if (row.isEmpty()) return;
  const QRect screenArea = screen() != nullptr ? screen()->availableGeometry() : QRect();
  const QPoint place = PositionOffRow(frameGeometry(), row, screenArea);
  if (place != frameGeometry().topLeft()) move(place);
}

QPoint PositionOffRow(const QRect& window, const QRect& row, const QRect& screen) {
  if (!window.intersects(row)) return window.topLeft();
  const int below = row.bottom() + 1 + kRowGap;
  const int above = row.top() - kRowGap - window.height();
  int top = below;
  if (!screen.isValid() || below + window.height() <= screen.bottom() + 1) {
    top = below;
  } else if (above >= screen.top()) {
    top = above;
  } else {
    // Neither side has room for all of it: the side with more, kept on the screen.
    const int roomBelow = screen.bottom() + 1 - below;
    const int roomAbove = row.top() - kRowGap - screen.top();
    top = roomBelow >= roomAbove ? std::min(below, screen.bottom() + 1 - window.height()) : std::max(above, screen.top());
  }
  return {window.left(), top};
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
