#pragma once
// The working state of the "Edit Custom filters" dialog: the filters loaded from the settings
// store, the names listed (in the order they will be saved), and whether the form holds unsaved
// edits. Nothing reaches the settings store before Save.
//
// Listed names and working entries are separate on purpose: deleting a name keeps its working
// entry (it is simply not saved), and saving writes, for each listed name in list order, the
// first working entry of that name.

#include <string>
#include <vector>

#include "rules/rule.h"
#include "ui/find/filter_fields.h"

namespace qv {

class CCustomFilterList {
 public:
  // Loads "Custom\custom0" .. "customcount" - 1 and lists their names in stored order.
  void Load();

  const std::vector<std::string>& Names() const { return names_; }
  bool IsChanged() const { return changed_; }
  void MarkChanged() { changed_ = true; }
  // Whether closing or switching entries must ask "Save changes?" for these form fields.
  bool NeedsSaveQuestion(const FilterFields& form) const { return changed_ && !form.name.empty(); }

  // The form fields of the working entry of that name (nothing found: empty fields with the
  // name). The form is then no longer changed.
  FilterFields Open(const std::string& name);
  // Lists the form's name when it is not listed yet and stores the form into the working entry
  // of that name, or appends a new one. List indexes below 1 mean any.
  void AddModify(const FilterFields& form);
  // Unlists the name; its working entry stays but will not be saved.
  void Delete(const std::string& name);
  void ClearAll() { names_.clear(); }
  // Takes the list order from the dialog's list after the user dragged rows: `order` must hold
  // exactly the listed entries (any order); anything else is ignored.
  void SetOrder(std::vector<std::string> order);
  // Writes the listed filters to "Custom\custom0".. in list order and "customcount".
  void Save() const;

 private:
  CRule* Find(const std::string& name);

  std::vector<CRule> working_;
  std::vector<std::string> names_;
  bool changed_ = false;
};

}  // namespace qv
