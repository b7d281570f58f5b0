#include "ui/findview/match_fields_group.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QRegularExpressionValidator>

#include <algorithm>
#include <limits>

#include "core/message/names.h"

namespace qv {

std::string ToBytes(const QString& text) { return text.toStdString(); }
QString FromBytes(const std::string& bytes) { return QString::fromStdString(bytes); }

namespace {

QLineEdit* LineEdit(const char* name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  return edit;
}

QCheckBox* CheckBox(const char* caption, const char* name, QWidget* parent) {
  auto* box = new QCheckBox(caption, parent);
  box->setObjectName(name);
  return box;
}

}  // namespace

QValidator::State CAddressFieldValidator::validate(QString& input, int&) const {
  const bool dotsAndDigits = std::all_of(input.begin(), input.end(), [](QChar c) { return c == '.' || c.isDigit(); });
  return dotsAndDigits && ParseAddressField(input.toStdString()) ? Acceptable : Invalid;
}

CMatchFieldsGroup::CMatchFieldsGroup(TimeField time, QWidget* parent)
    : QGroupBox("Match", parent),
      address_(LineEdit("address", this)),
      facility_(new QComboBox(this)),
      severity_(new QComboBox(this)),
      message_(LineEdit("message", this)),
      regExp_(CheckBox("Match contents using Regexp", "regexp", this)),
      hostName_(LineEdit("hostname", this)),
      highlighted_(CheckBox("Highlighted", "highlighted", this)) {
  address_->setValidator(new CAddressFieldValidator(address_));
  facility_->setObjectName("facility");
  facility_->addItem(QString());
  for (int32_t n = 0; n <= kFacilityWindows; ++n) facility_->addItem(kFacilityNames[static_cast<size_t>(n)]);
  severity_->setObjectName("severity");
  severity_->addItem(QString());
  for (const char* name : kSeverityFilterNames) severity_->addItem(name);

  auto* form = new QFormLayout(this);
  form->addRow("IP Address", address_);
  form->addRow("Facility", facility_);
  form->addRow("Severity", severity_);
  form->addRow("Message Contains", message_);
  form->addRow(QString(), regExp_);
  form->addRow("Hostname", hostName_);
  form->addRow(QString(), highlighted_);
  if (time == TimeField::kWith) {
    seconds_ = LineEdit("seconds", this);
    seconds_->setValidator(new QRegularExpressionValidator(QRegularExpression(R"(\d{0,10})"), seconds_));
    form->addRow("Time received within (secs)", seconds_);
    connect(seconds_, &QLineEdit::textEdited, this, &CMatchFieldsGroup::changed);
  }
  for (QLineEdit* edit : {address_, message_, hostName_}) connect(edit, &QLineEdit::textEdited, this, &CMatchFieldsGroup::changed);
  for (QComboBox* list : {facility_, severity_}) connect(list, &QComboBox::activated, this, &CMatchFieldsGroup::changed);
  for (QCheckBox* box : {regExp_, highlighted_}) connect(box, &QCheckBox::clicked, this, &CMatchFieldsGroup::changed);
}

FilterFields CMatchFieldsGroup::Fields() const {
  FilterFields fields;
  fields.address = ToBytes(address_->text());
  fields.facilityIndex = facility_->currentIndex();
  fields.severityIndex = severity_->currentIndex();
  fields.message = ToBytes(message_->text());
  fields.useRegExp = regExp_->isChecked();
  fields.hostName = ToBytes(hostName_->text());
  fields.highlighted = highlighted_->isChecked();
  if (seconds_ != nullptr) {
    // Ten digits may exceed 32 bits: the largest number stands for them.
    const qulonglong seconds = seconds_->text().toULongLong();
    fields.seconds = static_cast<uint32_t>(std::min<qulonglong>(seconds, std::numeric_limits<uint32_t>::max()));
  }
  return fields;
}

void CMatchFieldsGroup::SetFields(const FilterFields& fields) {
  address_->setText(FromBytes(fields.address));
  facility_->setCurrentIndex(std::clamp(fields.facilityIndex, -1, facility_->count() - 1));
  severity_->setCurrentIndex(std::clamp(fields.severityIndex, -1, severity_->count() - 1));
  message_->setText(FromBytes(fields.message));
  regExp_->setChecked(fields.useRegExp);
  hostName_->setText(FromBytes(fields.hostName));
  highlighted_->setChecked(fields.highlighted);
  if (seconds_ != nullptr) seconds_->setText(fields.seconds == 0 ? QString() : QString::number(fields.seconds));
}

}  // namespace qv
