#include "ui/editors/rule_editor.h"

#include <algorithm>

#include "core/message/names.h"
#include "core/settings/settings_store.h"

namespace qv {
namespace {

constexpr int kFacilityCount = 25;  // the facilities a rule can name; "UNKNOWN" is not one

int ActionRowOf(int32_t code) {
  for (std::size_t row = 0; row < kRuleActions.size(); ++row) {
    if (kRuleActions[row].code == code) return static_cast<int>(row);
  }
  return 0;
}

const RuleActionInfo& ActionAt(int row) {
  return kRuleActions[row >= 0 && static_cast<std::size_t>(row) < kRuleActions.size() ? static_cast<std::size_t>(row) : 0];
}

RuleFields NewFields() {
  RuleFields fields;
  fields.email = EmailParameters::Defaults();
  return fields;
}

}  // namespace

std::vector<std::string> SaveFileFormatChoices() {
  return {"Record line", "Traditional syslog line", "RFC 5424 line", "JSON lines"};
}

std::vector<std::string> FacilityChoices() {
  std::vector<std::string> choices{""};
  for (int f = 0; f < kFacilityCount; ++f) choices.emplace_back(kFacilityNames[static_cast<std::size_t>(f)]);
  return choices;
}

std::vector<std::string> SeverityChoices() {
  std::vector<std::string> choices{""};
  choices.insert(choices.end(), kSeverityListNames.begin(), kSeverityListNames.end());
  choices.insert(choices.end(), kSeverityThresholdNames.begin(), kSeverityThresholdNames.end());
  return choices;
}

ValueControls ValueControlsFor(int actionRow) {
  const RuleActionInfo& action = ActionAt(actionRow);
  ValueControls controls;
  controls.caption = action.parameter;
  const bool names = (action.input & kActionInputNameList) != 0;
  controls.list = names || (action.input & kActionInputFormatList) != 0;
  controls.edit = !controls.caption.empty() && !names;
  controls.fileChooser = (action.input & kActionInputFileChooser) != 0;
  controls.advanced = (action.input & kActionInputAdvanced) != 0;
  if (action.code == kActionRunProgram) controls.fileKind = FileKind::kProgram;
  if (action.code == kActionSaveToFile) controls.fileKind = FileKind::kTextLog;
  if (action.code == kActionPlaySound) controls.fileKind = FileKind::kSound;
  if (action.code == kActionModifyFacility) {
    controls.listItems = FacilityChoices();
    controls.listItems.erase(controls.listItems.begin());
  } else if (action.code == kActionModifySeverity) {
    controls.listItems = SeverityChoices();
    controls.listItems.erase(controls.listItems.begin());
  } else if (action.code == kActionSaveToFile) {
    controls.listItems = SaveFileFormatChoices();
  }
  return controls;
}

void CRuleEditor::Open() {
  rules_.clear();
  names_.clear();
  const int32_t count = AppSettings().GetInt("Settings", "rulescount", 0);
  for (int n = 0; n < count; ++n) {
    CRule rule;
    rule.Load(RuleSectionName(n));
    rule.Highlighted = false;
    names_.push_back(rule.Name);
    rules_.push_back(std::move(rule));
  }
  fields_ = NewFields();
  modified_ = false;
}

int CRuleEditor::FindRule(const std::string& name) const {
  for (std::size_t i = 0; i < rules_.size(); ++i) {
    if (rules_[i].Name == name) return static_cast<int>(i);
  }
  return -1;
}

void CRuleEditor::ChooseAction(int actionRow) {
  fields_.actionRow = &ActionAt(actionRow) - kRuleActions.data();
  if (ValueControlsFor(fields_.actionRow).list) fields_.valuePosition = 0;
  modified_ = true;
}

bool CRuleEditor::LoadRule(const std::string& name) {
  const int index = FindRule(name);
  if (index < 0) return false;
  const CRule& rule = rules_[static_cast<std::size_t>(index)];
  RuleFields& f = fields_;
  f.address = AddressFieldText(rule.IP);
  f.threshold = std::to_string(rule.ThreshSecs);
  f.enabled = rule.Enabled != 0;
  f.facilityPosition = rule.Facility >= 0 && rule.Facility < kFacilityCount ? rule.Facility + 1 : 0;
  f.severityPosition = rule.Severity >= 0 && rule.Severity < 16 ? rule.Severity + 1 : 0;
  f.hostname = rule.Hostname;
  f.message = rule.Message;
  f.useRegExp = rule.UseRegExp;
  f.trap = TrapParameters::FromRule(rule);
  f.email = EmailParameters::FromRule(rule);
  f.value = rule.ActionValue;
  f.name = rule.Name;
  f.actionRow = ActionRowOf(rule.Action);
  f.valuePosition = static_cast<int>(rule.ActionInt);
  modified_ = false;
  return true;
}

std::optional<CRuleEditor::Error> CRuleEditor::AddModify() {
  const std::optional<uint32_t> address = ParseAddressField(fields_.address);
  if (!address) return Error{Field::kAddress, "Please enter an address of up to four numbers from 0 to 255."};
  const UnsignedField threshold = ReadUnsignedField(fields_.threshold, 0, kMaxThresholdSeconds);
  if (!threshold.ok()) return Error{Field::kThreshold, threshold.error};

  if (std::find(names_.begin(), names_.end(), fields_.name) == names_.end()) names_.push_back(fields_.name);
  CRule rule;
  rule.IP = *address;
  rule.Enabled = fields_.enabled ? 1 : 0;
  rule.Facility = fields_.facilityPosition >= 1 ? fields_.facilityPosition - 1 : -1;
  rule.Severity = fields_.severityPosition >= 1 ? fields_.severityPosition - 1 : -1;
  rule.Hostname = fields_.hostname;
  rule.Message = fields_.message;
  rule.ActionValue = fields_.value;
  rule.ActionInt = static_cast<uint32_t>(std::max(fields_.valuePosition, 0));
  rule.ThreshSecs = threshold.value;
  rule.Name = fields_.name;
  rule.Highlighted = false;
  rule.UseRegExp = fields_.useRegExp;
  rule.Action = ActionAt(fields_.actionRow).code;
  fields_.trap.ApplyTo(rule);
  fields_.email.ApplyTo(rule);

  const int index = FindRule(fields_.name);
  if (index < 0) {
    rules_.push_back(std::move(rule));
  } else {
    rules_[static_cast<std::size_t>(index)] = std::move(rule);
  }
  modified_ = false;
  return std::nullopt;
}

void CRuleEditor::NewRule() {
  const int valuePosition = fields_.valuePosition;
  fields_ = NewFields();
  fields_.valuePosition = valuePosition;  // the value list keeps its entries and choice
}

void CRuleEditor::DeleteRule() {
  const auto row = std::find(names_.begin(), names_.end(), fields_.name);
  if (row != names_.end()) names_.erase(row);
  modified_ = false;
}

void CRuleEditor::ClearAll() {
  names_.clear();
  NewRule();
  modified_ = true;
}

int CRuleEditor::MoveRow(int from, int target) {
  if (from < 0 || static_cast<std::size_t>(from) >= names_.size()) return -1;
  std::string name = std::move(names_[static_cast<std::size_t>(from)]);
  names_.erase(names_.begin() + from);
  if (target < 0 || static_cast<std::size_t>(target) > names_.size()) target = static_cast<int>(names_.size());
  names_.insert(names_.begin() + target, std::move(name));
  return target;
}

void CRuleEditor::Save() const {
  for (std::size_t row = 0; row < names_.size(); ++row) {
    const int index = FindRule(names_[row]);
    if (index >= 0) rules_[static_cast<std::size_t>(index)].Save(RuleSectionName(static_cast<int>(row)));
  }
  AppSettings().SetInt("Settings", "rulescount", static_cast<int32_t>(names_.size()));
}

}  // namespace qv
