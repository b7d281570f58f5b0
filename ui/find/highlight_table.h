#pragma once
// The working state of the "Edit Highlighting" dialog: a table of entries keyed by their text
// and the texts listed, in the order they will be saved. Nothing reaches the settings store
// before Save; a dialog that is cancelled simply drops this object.

#include <map>
#include <string>
#include <vector>

#include "ui/find/highlight_list.h"

namespace qv {

class CHighlightTable {
 public:
  // Reads the "hlcount" stored entries; entries with an empty text are neither kept nor listed.
  void Load(HighlightColours systemColours);

  const std::vector<std::string>& Texts() const { return texts_; }
  // The entry of a text, or null when the table has none (a deleted text keeps its entry).
  const HighlightEntry* Entry(const std::string& text) const;

  // Lists the text when it is not listed yet and sets (replaces) its table entry. An empty text
  // does nothing.
  void AddModify(const HighlightEntry& entry);
  // Unlists the texts at these list positions; their table entries stay but are not saved.
  void Delete(std::vector<int> positions);
  // Unlists every text and empties the table.
  void ClearAll();
  // Takes the list order from the dialog's list after the user dragged rows: `order` must hold
  // exactly the listed entries (any order); anything else is ignored.
  void SetOrder(std::vector<std::string> order);
  // Writes each listed text that has an entry to "Highlights\highlight<i>" in list order, then
  // "hlcount" = the number of listed texts.
  void Save() const;

 private:
  std::map<std::string, HighlightEntry> table_;
  std::vector<std::string> texts_;
};

}  // namespace qv
