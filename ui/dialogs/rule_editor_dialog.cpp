#include "ui/dialogs/rule_editor_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "ui/dialogs/parameter_dialogs.h"
#include "ui/dialogs/tool_tips.h"
#include "ui/dialogs/user_prompts.h"

namespace qv {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QLineEdit* edit) { return edit->text().toStdString(); }

QComboBox* MakeList(const std::vector<std::string>& items, const char* objectName) {
  auto* list = new QComboBox;
  list->setObjectName(QString::fromLatin1(objectName));
  for (const std::string& item : items) list->addItem(Q(item));
  return list;
}

QPushButton* MakeButton(const char* caption, const char* objectName) {
  auto* button = new QPushButton(QString::fromLatin1(caption));
  button->setObjectName(QString::fromLatin1(objectName));
  button->setAutoDefault(false);
  return button;
}

}  // namespace

CRuleNameList::CRuleNameList(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setDragDropMode(QAbstractItemView::DragDrop);
  setDefaultDropAction(Qt::MoveAction);
  setDropIndicatorShown(true);
}

bool CRuleNameList::IsRowDrag(const QDropEvent* event) const {
  // List rows carry the item-model format; a drag from another widget of this program is refused.
  return (event->source() == nullptr || event->source() == this) &&
         event->mimeData()->hasFormat(model()->mimeTypes().value(0));
}

void CRuleNameList::dragEnterEvent(QDragEnterEvent* event) {
  if (IsRowDrag(event)) QListWidget::dragEnterEvent(event);
}

void CRuleNameList::dragMoveEvent(QDragMoveEvent* event) {
  if (!IsRowDrag(event)) return event->ignore();
  QListWidget::dragMoveEvent(event);
  event->setDropAction(Qt::MoveAction);
  event->accept();
}

void CRuleNameList::dropEvent(QDropEvent* event) {
  if (!IsRowDrag(event)) return event->ignore();
  // The move is the editor's; the list is refilled from it, so Qt's own move is not wanted.
  event->setDropAction(Qt::IgnoreAction);
  event->accept();
  const QList<QListWidgetItem*> selected = selectedItems();
  if (selected.size() != 1) return;
  emit moveRequested(row(selected.front()), indexAt(event->position().toPoint()).row());
}

CRuleEditorDialog::CRuleEditorDialog(CUserPrompts& prompts, QWidget* parent) : QDialog(parent), prompts_(prompts) {
  setWindowTitle(QStringLiteral("Edit Rules"));
  BuildControls();
  editor_.Open();
  FillNames(-1);
  ShowFields();
}

void CRuleEditorDialog::BuildControls() {
  names_ = new CRuleNameList;
  names_->setObjectName(QStringLiteral("rules"));
  names_->setMinimumWidth(180);

  name_ = new QLineEdit;
  name_->setObjectName(QStringLiteral("name"));
  address_ = new QLineEdit;
  address_->setObjectName(QStringLiteral("address"));
  address_->setPlaceholderText(QStringLiteral("any"));
  // Up to four numbers 0..255 with dots; blank parts count as 0, as in an address control.
  address_->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("^(\\s*(25[0-5]|2[0-4]\\d|1?\\d?\\d)?\\s*)(\\.(\\s*(25[0-5]|2[0-4]\\d|1?\\d?\\d)?\\s*)){0,3}$")),
      address_));
  facility_ = MakeList(FacilityChoices(), "facility");
  severity_ = MakeList(SeverityChoices(), "severity");
  message_ = new QLineEdit;
  message_->setObjectName(QStringLiteral("message"));
  useRegExp_ = new QCheckBox(QStringLiteral("Match contents using Regexp"));
  useRegExp_->setObjectName(QStringLiteral("useRegExp"));
  hostname_ = new QLineEdit;
  hostname_->setObjectName(QStringLiteral("hostname"));
  threshold_ = new QLineEdit;
  threshold_->setObjectName(QStringLiteral("threshold"));
  threshold_->setMaximumWidth(100);

  auto* conditions = new QFormLayout;
  conditions->addRow(QStringLiteral("IP Address"), address_);
  conditions->addRow(QStringLiteral("Facility"), facility_);
  conditions->addRow(QStringLiteral("Severity"), severity_);
  conditions->addRow(QStringLiteral("Message Contains"), message_);
  conditions->addRow(QString(), useRegExp_);
  conditions->addRow(QStringLiteral("Hostname"), hostname_);

  auto* nameGroup = new QGroupBox(QStringLiteral("Name"));
  (new QVBoxLayout(nameGroup))->addWidget(name_);
  auto* thresholdGroup = new QGroupBox(QStringLiteral("Threshold"));
  auto* thresholdLayout = new QHBoxLayout(thresholdGroup);
  thresholdLayout->addWidget(new QLabel(QStringLiteral("Number of seconds before rule matches again ")));
  thresholdLayout->addWidget(threshold_);
  thresholdLayout->addStretch();

  action_ = new QComboBox;
  action_->setObjectName(QStringLiteral("action"));
  for (const RuleActionInfo& action : kRuleActions) action_->addItem(QString::fromLatin1(action.name), action.code);
  valueGroup_ = new QGroupBox;
  valueGroup_->setObjectName(QStringLiteral("valueGroup"));
  value_ = new QLineEdit;
  value_->setObjectName(QStringLiteral("value"));
  valueList_ = new QComboBox;
  valueList_->setObjectName(QStringLiteral("valueList"));
  chooseFile_ = MakeButton("...", "chooseFile");
  chooseFile_->setMaximumWidth(40);
  advanced_ = MakeButton("Advanced", "advanced");
  auto* valueLayout = new QHBoxLayout(valueGroup_);
  // A file name keeps room to be read beside the list of its formats.
  value_->setMinimumWidth(260);
  valueLayout->addWidget(value_, 3);
  valueLayout->addWidget(valueList_, 1);
  valueLayout->addWidget(chooseFile_);
  valueLayout->addWidget(advanced_);
  valueGroup_->setMinimumHeight(60);
  auto* actionGroup = new QGroupBox(QStringLiteral("Action"));
  auto* actionLayout = new QVBoxLayout(actionGroup);
  actionLayout->addWidget(action_);
  actionLayout->addWidget(valueGroup_);

  enabled_ = new QCheckBox(QStringLiteral("Enabled"));
  enabled_->setObjectName(QStringLiteral("enabled"));

  addModify_ = MakeButton("&Add/Modify Rule", "addModify");
  auto* newRule = MakeButton("&New Rule", "newRule");
  deleteRule_ = MakeButton("&Delete Rule", "deleteRule");
  auto* clearAll = MakeButton("&Clear All", "clearAll");
  auto* ok = MakeButton("OK", "ok");
  ok->setDefault(true);
  auto* cancel = MakeButton("Cancel", "cancel");

  auto* fields = new QVBoxLayout;
  fields->addWidget(nameGroup);
  fields->addLayout(conditions);
  fields->addWidget(thresholdGroup);
  fields->addWidget(actionGroup);
  fields->addWidget(enabled_);
  fields->addStretch();
  auto* top = new QHBoxLayout;
  top->addWidget(names_);
  top->addLayout(fields, 1);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {addModify_, newRule, deleteRule_, clearAll}) buttons->addWidget(button);
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addLayout(buttons);
  setMinimumWidth(640);

  const auto markModified = [this] { editor_.MarkModified(); };
  for (QLineEdit* edit : {address_, message_, hostname_, threshold_, value_}) connect(edit, &QLineEdit::textEdited, this, markModified);
  for (QComboBox* list : {facility_, severity_, valueList_}) connect(list, &QComboBox::activated, this, markModified);
  for (QCheckBox* box : {useRegExp_, enabled_}) connect(box, &QCheckBox::clicked, this, markModified);
  connect(name_, &QLineEdit::textEdited, this, &CRuleEditorDialog::OnNameEdited);
  connect(action_, &QComboBox::activated, this, &CRuleEditorDialog::OnActionChosen);
  connect(names_, &QListWidget::itemDoubleClicked, this, &CRuleEditorDialog::OnNameDoubleClicked);
  connect(names_, &CRuleNameList::moveRequested, this, &CRuleEditorDialog::OnMoveRequested);
  connect(addModify_, &QPushButton::clicked, this, &CRuleEditorDialog::OnAddModify);
  connect(newRule, &QPushButton::clicked, this, &CRuleEditorDialog::OnNewRule);
  connect(deleteRule_, &QPushButton::clicked, this, &CRuleEditorDialog::OnDeleteRule);
  connect(clearAll, &QPushButton::clicked, this, &CRuleEditorDialog::OnClearAll);
  connect(chooseFile_, &QPushButton::clicked, this, &CRuleEditorDialog::OnChooseFile);
  connect(advanced_, &QPushButton::clicked, this, &CRuleEditorDialog::OnAdvanced);
  connect(ok, &QPushButton::clicked, this, &CRuleEditorDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &CRuleEditorDialog::reject);
  SetToolTips({{names_, "The rules in the order they are run. Double-click a name to edit its rule; drag it to move it."},
               {name_, "The rule's name, by which the list finds it. A new name adds a rule; renaming one keeps the old "
                       "rule until it is deleted."},
               {address_, "The sender's IPv4 address the message must come from; blank matches any sender."},
               {facility_, "The facility the message must have; the empty entry matches any."},
               {severity_, "The severity the message must have, exactly or as a threshold such as \"Warning or "
                           "Higher\"; the empty entry matches any."},
               {message_, "Text the message must contain; blank matches any message. Plain text matches regardless "
                          "of case."},
               {useRegExp_, "Match the contents as a regular expression instead of plain text."},
               {hostname_, "The host name the message must carry, exactly and with the same case; blank matches any."},
               {threshold_, "After the rule fired for a sender, it does not fire again for that sender within this "
                            "many seconds (0 to 604800); 0 fires on every match."},
               {action_, "What the rule does with a matching message."},
               {value_, "The action's parameter: the program, file, server, address or statement it uses. In a "
                        "command line, a message box's text and a statement, $hostname, $ipaddr, $facility, "
                        "$severity, $recvtime, $msg and $all are replaced by the message's fields. A syslog "
                        "server is a dotted address (UDP port 514), tcp://host:port or tls://host:port; ending "
                        "it in #5424 sends RFC 5424, which keeps the sender's time stamp and host."},
               {valueList_, "The facility or severity the message is given; for Save to file, the format of its lines "
                            "(our record line, a traditional syslog line, RFC 5424, or one JSON object per line)."},
               {chooseFile_, "Choose the file with the file chooser."},
               {advanced_, "The action's further parameters: the mail's subject and text, or the trap's details."},
               {enabled_, "Run this rule. A disabled rule is kept and saved but skipped."},
               {addModify_, "Store the fields as the rule of this name, adding it to the list when the name is new."},
               {newRule, "Empty the fields to start a new rule."},
               {deleteRule_, "Remove the rule of this name from the list; OK then saves the list without it."},
               {clearAll, "Remove every rule from the list (asks first)."},
               {ok, "Save the listed rules in list order and close."},
               {cancel, "Close without saving any change, as closing the window does."}});
}

void CRuleEditorDialog::TakeControlValues() {
  RuleFields& f = editor_.fields();
  f.name = S(name_);
  f.address = S(address_);
  f.facilityPosition = facility_->currentIndex() < 0 ? 0 : facility_->currentIndex();
  f.severityPosition = severity_->currentIndex() < 0 ? 0 : severity_->currentIndex();
  f.message = S(message_);
  f.useRegExp = useRegExp_->isChecked();
  f.hostname = S(hostname_);
  f.threshold = S(threshold_);
  f.actionRow = action_->currentIndex() < 0 ? 0 : action_->currentIndex();
  f.value = S(value_);
  f.valuePosition = valueList_->currentIndex() < 0 ? 0 : valueList_->currentIndex();
  f.enabled = enabled_->isChecked();
}

void CRuleEditorDialog::ShowFields() {
  const RuleFields& f = editor_.fields();
  name_->setText(Q(f.name));
  address_->setText(Q(f.address));
  facility_->setCurrentIndex(f.facilityPosition);
  severity_->setCurrentIndex(f.severityPosition);
  message_->setText(Q(f.message));
  useRegExp_->setChecked(f.useRegExp);
  hostname_->setText(Q(f.hostname));
  threshold_->setText(Q(f.threshold));
  action_->setCurrentIndex(f.actionRow);
  value_->setText(Q(f.value));
  enabled_->setChecked(f.enabled);
  ShowValueControls();
  valueList_->setCurrentIndex(f.valuePosition < valueList_->count() ? f.valuePosition : -1);
  UpdateNameButtons();
}

void CRuleEditorDialog::ShowValueControls() {
  const ValueControls controls = ValueControlsFor(editor_.fields().actionRow);
  valueGroup_->setTitle(Q(controls.caption));
  value_->setVisible(controls.edit);
  chooseFile_->setVisible(controls.fileChooser);
  valueList_->setVisible(controls.list);
  advanced_->setVisible(controls.advanced);
  if (!controls.listItems.empty()) {
    valueList_->clear();
    for (const std::string& item : controls.listItems) valueList_->addItem(Q(item));
    valueList_->setCurrentIndex(0);
  }
}

void CRuleEditorDialog::FillNames(int selectRow) {
  names_->clear();
  for (const std::string& name : editor_.names()) names_->addItem(Q(name));
  if (selectRow >= 0 && selectRow < names_->count()) names_->setCurrentRow(selectRow);
  UpdateNameButtons();
}

void CRuleEditorDialog::OnNameEdited() {
  editor_.MarkModified();
  UpdateNameButtons();
}

void CRuleEditorDialog::UpdateNameButtons() {
  const bool named = !name_->text().isEmpty();
  addModify_->setEnabled(named);
  deleteRule_->setEnabled(named && names_->count() > 0);
}

void CRuleEditorDialog::OnActionChosen(int row) {
  TakeControlValues();
  editor_.ChooseAction(row);
  ShowValueControls();
}

bool CRuleEditorDialog::OfferToSave() {
  TakeControlValues();
  if (!editor_.ShouldAskToSave()) return true;
  if (!prompts_.AskYesNo(this, QStringLiteral("Changes might be lost!"), QStringLiteral("Save changes?"))) return true;
  return OnAddModify();
}

// Saving refills the list, which deletes `item`: its row and name are read before. Add/Modify
// only appends rows, so the row still holds the clicked name afterwards.
void CRuleEditorDialog::OnNameDoubleClicked(QListWidgetItem* item) {
  const std::string name = item->text().toStdString();
  const int row = names_->row(item);
  if (!OfferToSave()) return;
  FillNames(row);
  if (editor_.LoadRule(name)) ShowFields();
}

bool CRuleEditorDialog::OnAddModify() {
  TakeControlValues();
  if (const auto error = editor_.AddModify()) {
    prompts_.Refuse(this, Q(error->message));
    (error->field == CRuleEditor::Field::kThreshold ? threshold_ : address_)->setFocus();
    return false;
  }
  const auto& names = editor_.names();
  FillNames(static_cast<int>(std::find(names.begin(), names.end(), editor_.fields().name) - names.begin()));
  return true;
}

void CRuleEditorDialog::OnNewRule() {
  TakeControlValues();
  editor_.NewRule();
  ShowFields();
}

void CRuleEditorDialog::OnDeleteRule() {
  TakeControlValues();
  editor_.DeleteRule();
  FillNames(-1);
}

void CRuleEditorDialog::OnClearAll() {
  if (!prompts_.AskYesNo(this, QStringLiteral("Warning!"), QStringLiteral("This Will Delete all the rules.  Are you sure?"))) {
    return;
  }
  editor_.ClearAll();
  FillNames(-1);
  ShowFields();
}

void CRuleEditorDialog::OnChooseFile() {
  const QString chosen =
      prompts_.ChooseValueFile(this, value_->text().left(4095), ValueControlsFor(editor_.fields().actionRow).fileKind);
  if (chosen.isEmpty()) return;
  value_->setText(chosen);
  editor_.MarkModified();
}

void CRuleEditorDialog::OnAdvanced() {
  TakeControlValues();
  RuleFields& f = editor_.fields();
  const int32_t code = kRuleActions[static_cast<std::size_t>(f.actionRow)].code;
  if (code == kActionSendMail) {
    CEmailParametersDialog dialog(f.email, this);
    if (prompts_.RunDialog(dialog) != QDialog::Accepted) return;
    f.email = dialog.parameters();
  } else if (code == kActionSnmpTrap) {
    CTrapParametersDialog dialog(f.trap, prompts_, this);
    if (prompts_.RunDialog(dialog) != QDialog::Accepted) return;
    f.trap = dialog.parameters();
  } else {
    return;
  }
  editor_.MarkModified();
}

void CRuleEditorDialog::OnMoveRequested(int from, int target) { FillNames(editor_.MoveRow(from, target)); }

void CRuleEditorDialog::accept() {
  if (!OfferToSave()) return;
  editor_.Save();
  QDialog::accept();
}

}  // namespace qv
