#pragma once
// The working state of the "Edit Rules" dialog, without the window: its own copy of every
// stored rule, the list of names whose order is the order of saving, the fields of the rule
// being edited and the modified mark. The dialog maps its controls onto `fields()` and asks the
// questions ("Save changes?", the Clear All warning) before calling in here.
//
// A rule is identified by its name: the first rule of the working array with that name is the
// one loaded, replaced and saved. Rules removed from the list stay in the array but are not
// saved. Not thread-safe; owned by the dialog.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "rules/rule.h"
#include "ui/find/filter_fields.h"  // ParseAddressField, AddressFieldText
#include "ui/editors/field_validation.h"
#include "ui/editors/file_kinds.h"
#include "ui/editors/trap_parameters.h"

namespace qv {

// The controls of the edited rule, as the user sees them.
struct RuleFields {
  std::string name;
  std::string address;       // dotted IPv4 address; blank means any
  int facilityPosition = 0;  // 0 the empty entry, else facility + 1
  int severityPosition = 0;  // 0 the empty entry, else severity + 1 (thresholds from 9)
  std::string message;
  bool useRegExp = false;
  std::string hostname;
  std::string threshold = "0";
  int actionRow = 0;         // row of kRuleActions
  std::string value;         // ActionValue
  int valuePosition = 0;     // ActionInt: the chosen entry of the value list (a file format for
                             // "Save to file")
  bool enabled = true;
  TrapParameters trap;
  EmailParameters email;
};

// Which value controls the action of a row shows, and with what.
struct ValueControls {
  std::string caption;  // of the group around the value; empty for actions without a parameter
  bool edit = false;
  bool fileChooser = false;
  FileKind fileKind = FileKind::kAny;  // what the file chooser offers
  bool list = false;  // beside the edit for "Save to file" (its file format)
  bool advanced = false;
  std::vector<std::string> listItems;  // filled only for the list actions
};
ValueControls ValueControlsFor(int actionRow);

// The file formats of "Save to file", in the order of their ActionInt values.
std::vector<std::string> SaveFileFormatChoices();

// The entries of the facility and severity lists: an empty entry, then the names.
std::vector<std::string> FacilityChoices();
std::vector<std::string> SeverityChoices();

inline constexpr uint32_t kMaxThresholdSeconds = 604800;  // one week

class CRuleEditor {
 public:
  enum class Field { kAddress, kThreshold };
  using Error = FieldError<Field>;

  // Loads every stored rule ("rulescount" of them, enabled or not, their highlight condition
  // cleared) and resets the fields.
  void Open();

  const std::vector<std::string>& names() const { return names_; }
  const std::vector<CRule>& rules() const { return rules_; }
  RuleFields& fields() { return fields_; }
  const RuleFields& fields() const { return fields_; }

  bool modified() const { return modified_; }
  void MarkModified() { modified_ = true; }
  // Whether leaving the rule now should ask "Save changes?".
  bool ShouldAskToSave() const { return modified_ && !fields_.name.empty(); }

  // Another action: its value list is filled and its first entry chosen when it has one.
  void ChooseAction(int actionRow);
  // Loads the first rule of that name into the fields; false (fields untouched) when none has it.
  bool LoadRule(const std::string& name);
  // "&Add/Modify Rule": lists the name when it is new and stores the fields as the first rule
  // of that name (appended when there is none). Nothing changes when a field is invalid.
  std::optional<Error> AddModify();
  // "&New Rule": the fields of a new rule.
  void NewRule();
  // "&Delete Rule": unlists the row whose text is the name field.
  void DeleteRule();
  // "&Clear All" (after the user agreed): no rows, new fields, modified.
  void ClearAll();
  // Drag and drop: the row `from` is removed and inserted before row `target` counted after the
  // removal; at the end when `target` is negative or past the last row. Returns the new row.
  int MoveRow(int from, int target);
  // Writes each listed rule as "Rules\rule<row>" in list order, then "rulescount".
  void Save() const;

 private:
  int FindRule(const std::string& name) const;

  std::vector<CRule> rules_;
  std::vector<std::string> names_;
  RuleFields fields_;
  bool modified_ = false;
};

}  // namespace qv
