#include "ui/find/highlight_table.h"

#include <algorithm>
#include <functional>

#include "core/settings/settings_store.h"

namespace qv {

void CHighlightTable::Load(HighlightColours systemColours) {
  table_.clear();
  texts_.clear();
  const int32_t count = AppSettings().GetInt("Settings", "hlcount", 0);
  for (int32_t n = 0; n < count; ++n) {
    HighlightEntry entry = LoadHighlightEntry(static_cast<size_t>(n), systemColours);
    if (entry.text.empty()) continue;
    if (table_.count(entry.text) == 0) texts_.push_back(entry.text);
    table_[entry.text] = std::move(entry);
  }
}

const HighlightEntry* CHighlightTable::Entry(const std::string& text) const {
  const auto found = table_.find(text);
  return found == table_.end() ? nullptr : &found->second;
}

void CHighlightTable::AddModify(const HighlightEntry& entry) {
  if (entry.text.empty()) return;
  if (std::find(texts_.begin(), texts_.end(), entry.text) == texts_.end()) texts_.push_back(entry.text);
  table_[entry.text] = entry;
}

void CHighlightTable::Delete(std::vector<int> positions) {
  std::sort(positions.begin(), positions.end(), std::greater<>());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  for (int position : positions) {
    if (position >= 0 && static_cast<size_t>(position) < texts_.size()) texts_.erase(texts_.begin() + position);
  }
}

void CHighlightTable::ClearAll() {
  texts_.clear();
  table_.clear();
}

void CHighlightTable::SetOrder(std::vector<std::string> order) {
  std::vector<std::string> sorted = order;
  std::vector<std::string> listed = texts_;
  std::sort(sorted.begin(), sorted.end());
  std::sort(listed.begin(), listed.end());
  if (sorted == listed) texts_ = std::move(order);
}

void CHighlightTable::Save() const {
  const CSettingsStore& store = AppSettings();
  for (size_t i = 0; i < texts_.size(); ++i) {
    const HighlightEntry* entry = Entry(texts_[i]);
    if (entry == nullptr) continue;
    const std::string section = HighlightSection(i);
    store.SetInt(section, "useregexp", entry->useRegExp ? 1 : 0);
    store.SetInt(section, "fg", static_cast<int32_t>(entry->colours.text));
    store.SetInt(section, "bg", static_cast<int32_t>(entry->colours.background));
    store.SetString(section, "string", entry->text.c_str());
  }
  store.SetInt("Settings", "hlcount", static_cast<int32_t>(texts_.size()));
}

}  // namespace qv
