#include "ui/dialogs/parameter_dialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/dialogs/tool_tips.h"
#include "ui/dialogs/user_prompts.h"

namespace qv {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QLineEdit* edit) { return edit->text().toStdString(); }

QLineEdit* AddField(QFormLayout* form, const char* label, const char* objectName, const char* tip) {
  auto* edit = new QLineEdit;
  edit->setObjectName(QString::fromLatin1(objectName));
  SetToolTips({{edit, tip}});
  edit->setMinimumWidth(260);
  form->addRow(QString::fromLatin1(label), edit);
  return edit;
}

}  // namespace

CEmailParametersDialog::CEmailParametersDialog(const EmailParameters& parameters, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("E-Mail Parameters"));
  auto* form = new QFormLayout;
  subject_ = AddField(form, "Subject", "subject", "The subject of this rule's mails.");
  text_ = AddField(form, "Text", "text", "The text of this rule's mails.");
  text_->setMinimumWidth(360);
  include_ = new QCheckBox(QStringLiteral("Include Syslog Message"));
  include_->setObjectName(QStringLiteral("include"));
  SetToolTips({{include_, "Add the message that fired the rule to the mail."}});
  form->addRow(include_);
  subject_->setText(Q(parameters.subject));
  text_->setText(Q(parameters.text));
  include_->setChecked(parameters.include);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
}

EmailParameters CEmailParametersDialog::parameters() const {
  return {S(subject_), S(text_), include_->isChecked()};
}

CTrapParametersDialog::CTrapParametersDialog(const TrapParameters& parameters, CUserPrompts& prompts, QWidget* parent)
    : QDialog(parent), prompts_(prompts), parameters_(parameters) {
  setWindowTitle(QStringLiteral("SNMP Trap Parameters"));
  auto* details = new QGroupBox(QStringLiteral("Trap Details"));
  auto* detailsForm = new QFormLayout(details);
  community_ = AddField(detailsForm, "Community", "community", "The SNMP community the trap is sent with.");
  senderOid_ = AddField(detailsForm, "Sender's OID", "senderOid", "The enterprise OID that names the trap's sender.");
  genericType_ = AddField(detailsForm, "Generic type", "genericType",
                          "The trap's generic type, a whole number; 6 means enterprise-specific.");
  specificType_ = AddField(detailsForm, "Specific Type", "specificType",
                           "The enterprise-specific trap code, a whole number.");
  auto* variable = new QGroupBox(QStringLiteral("String Variable"));
  auto* variableForm = new QFormLayout(variable);
  stringOid_ = AddField(variableForm, "OID", "stringOid", "The OID of the string variable the trap carries.");
  text_ = AddField(variableForm, "Text", "text",
                   "The string variable's text; $all, $msg, $hostname and the other macros are replaced by the "
                   "message's fields.");
  Show(parameters);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  QPushButton* defaults = buttons->addButton(QStringLiteral("Default"), QDialogButtonBox::ResetRole);
  defaults->setObjectName(QStringLiteral("default"));
  SetToolTips({{defaults, "Put the default value back into every field."}});
  connect(defaults, &QPushButton::clicked, this, &CTrapParametersDialog::ResetToDefaults);
  connect(buttons, &QDialogButtonBox::accepted, this, &CTrapParametersDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(details);
  layout->addWidget(variable);
  layout->addWidget(buttons);
}

void CTrapParametersDialog::Show(const TrapParameters& parameters) {
  const TrapParameterFields fields = TrapParameterFields::From(parameters);
  community_->setText(Q(fields.community));
  senderOid_->setText(Q(fields.senderOid));
  genericType_->setText(Q(fields.genericType));
  specificType_->setText(Q(fields.specificType));
  stringOid_->setText(Q(fields.stringOid));
  text_->setText(Q(fields.text));
}

void CTrapParametersDialog::ResetToDefaults() { Show(TrapParameters{}); }

void CTrapParametersDialog::accept() {
  const TrapParameterFields fields{S(community_), S(senderOid_), S(genericType_), S(specificType_), S(stringOid_), S(text_)};
  if (const auto error = fields.Read(parameters_)) {
    prompts_.Refuse(this, Q(error->message));
    (error->field == TrapParameterFields::Field::kGenericType ? genericType_ : specificType_)->setFocus();
    return;
  }
  QDialog::accept();
}

}  // namespace qv
