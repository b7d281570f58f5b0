#include "ui/find/filter_tree.h"

#include <algorithm>

#include "core/message/names.h"
#include "core/settings/settings_store.h"

namespace qv {

const FilterBranchInfo kFilterBranches[kFilterBranchCount] = {
    {FilterBranch::kShowAll, "Show All Messages", 0},
    {FilterBranch::kHostname, "Hostname", 5},
    {FilterBranch::kAddress, "IP Address", 6},
    {FilterBranch::kFacility, "Facility", 1},
    {FilterBranch::kSeverity, "Severity", 3},
    {FilterBranch::kTimeReceived, "Time Received", 2},
    {FilterBranch::kMessageContents, "Message Contents", 4},
    {FilterBranch::kHighlighted, "Highlighted Messages", 7},
    {FilterBranch::kMultipleFields, "Multiple Fields", 8},
    {FilterBranch::kCustom, "Custom filters", 8},
};

namespace {

std::string CustomSection(int64_t number) { return "Custom\\custom" + std::to_string(number); }

}  // namespace

CFilterTree::CFilterTree() : entries_(kFilterBranchCount) {
  for (size_t i = 0; i < kSeverityFilterNames.size(); ++i) {
    MutableEntries(FilterBranch::kSeverity).push_back({kSeverityFilterNames[i], static_cast<int64_t>(i)});
  }
  for (const TimeWindowEntry& window : kTimeWindowEntries) {
    MutableEntries(FilterBranch::kTimeReceived).push_back({window.name, window.seconds});
  }
  for (int32_t facility = 0; facility <= kFacilityWindows; ++facility) AddFacility(facility);
  RebuildCustomFilters();
}

std::vector<FilterEntry>& CFilterTree::MutableEntries(FilterBranch branch) {
  return entries_[static_cast<size_t>(branch)];
}

const std::vector<FilterEntry>& CFilterTree::Entries(FilterBranch branch) const {
  return entries_[static_cast<size_t>(branch)];
}

bool CFilterTree::AddLearned(FilterBranch branch, std::unordered_set<std::string>& known, const std::string& text) {
  if (text.empty() || known.count(text) != 0) return false;
  std::vector<FilterEntry>& entries = MutableEntries(branch);
  if (known.size() >= kMaxLearnedEntries) {
    if (entries.size() > known.size()) return false;  // "(more...)" is listed already
    entries.push_back({kMoreEntries, kMoreEntriesData});
    return true;
  }
  known.insert(text);
  entries.push_back({text, 0});
  return true;
}

bool CFilterTree::AddAddress(const std::string& address) {
  return AddLearned(FilterBranch::kAddress, knownAddresses_, address);
}

bool CFilterTree::AddHostName(const std::string& hostName) {
  return AddLearned(FilterBranch::kHostname, knownHostNames_, hostName);
}

// By number, not by name: a facility's entry holds its number, which is what filters store.
bool CFilterTree::AddFacility(int32_t facility) {
  if (facility < 0 || facility > kFacilityWindows) return false;
  std::vector<FilterEntry>& entries = MutableEntries(FilterBranch::kFacility);
  const bool known = std::any_of(entries.begin(), entries.end(),
                                 [&](const FilterEntry& entry) { return entry.data == facility; });
  if (known) return false;
  entries.push_back({kFacilityNames[static_cast<size_t>(facility)], facility});
  return true;
}

void CFilterTree::ForgetEntries() {
  MutableEntries(FilterBranch::kAddress).clear();
  MutableEntries(FilterBranch::kHostname).clear();
  MutableEntries(FilterBranch::kFacility).clear();
  knownAddresses_ = {};  // the memory too: the next store may have few senders
  knownHostNames_ = {};
}

void CFilterTree::RebuildCustomFilters() {
  std::vector<FilterEntry>& custom = MutableEntries(FilterBranch::kCustom);
  custom.clear();
  const int32_t count = AppSettings().GetInt("Settings", "customcount", 0);
  for (int32_t n = 0; n < count; ++n) {
    custom.push_back({AppSettings().GetString(CustomSection(n), "Name"), n});
  }
}

// Choosing an item. A top-level item with entries below it does nothing, and so does the entry
// "(more...)"; "Show All Messages" does nothing unless a filter is shown. Every other choice
// applies a match record built from the item; a top-level item without entries (no host seen
// yet, no custom filter) applies one that passes every message. Cancelling "Message Contents" shows all; cancelling "Multiple
// Fields" leaves the current filter alone.
std::optional<uint32_t> CFilterTree::Choose(const FilterItem& item, CFilterTarget& target, const Dialogs& dialogs,
                                            std::time_t now) const {
  const std::vector<FilterEntry>& entries = Entries(item.branch);
  const FilterEntry* entry = nullptr;
  if (item.entry >= 0) {
    if (static_cast<size_t>(item.entry) >= entries.size()) return std::nullopt;
    entry = &entries[static_cast<size_t>(item.entry)];
    const bool learned = item.branch == FilterBranch::kHostname || item.branch == FilterBranch::kAddress;
    if (learned && entry->data == kMoreEntriesData) return std::nullopt;
  } else if (!entries.empty()) {
    return std::nullopt;
  }

  if (item.branch == FilterBranch::kShowAll) {
    if (!target.IsFilterShown()) return std::nullopt;
    target.ShowAll();
    target.SelectLastRow();
    return std::nullopt;
  }

  CRule rule;
  std::optional<uint32_t> window;
  switch (item.branch) {
    case FilterBranch::kAddress:
      if (entry) rule.IP = AddressToNumber(entry->text);
      break;
    case FilterBranch::kHostname:
      if (entry) rule.Hostname = entry->text;
      break;
    case FilterBranch::kSeverity:
      if (entry) rule.Severity = static_cast<int32_t>(entry->data);
      break;
    case FilterBranch::kFacility:
      if (entry) rule.Facility = static_cast<int32_t>(entry->data);
      break;
    case FilterBranch::kTimeReceived:
      if (entry) window = static_cast<uint32_t>(entry->data);
      break;
    case FilterBranch::kHighlighted:
      rule.Highlighted = true;
      break;
    case FilterBranch::kMessageContents: {
      const std::optional<FilterFields> fields = dialogs.searchForText ? dialogs.searchForText() : std::nullopt;
      if (!fields) {
        target.ShowAll();
        return std::nullopt;
      }
      rule.Message = fields->message;
      rule.UseRegExp = fields->useRegExp;
      break;
    }
    case FilterBranch::kMultipleFields: {
      const std::optional<FilterFields> fields = dialogs.multipleFields ? dialogs.multipleFields() : std::nullopt;
      if (!fields) return std::nullopt;
      rule = fields->ToRule();
      if (fields->seconds != 0) window = fields->seconds;
      break;
    }
    case FilterBranch::kCustom:
      if (entry) {
        rule.Load(CustomSection(entry->data));
        if (rule.TimeRange != 0) window = static_cast<uint32_t>(rule.TimeRange);
      }
      break;
    case FilterBranch::kShowAll:
      break;
  }
  std::optional<uint32_t> moving;
  if (window) {
    const std::optional<int32_t> selected = target.SelectedTimeReceived();
    if (selected && !target.SelectionAtNewest()) {
      ApplyTimeWindow(rule, *selected, *window);
    } else {
      ApplyRecentWindow(rule, now, *window);
      moving = window;
    }
  }
  target.ApplyFilter(rule);
  target.SelectLastRow();
  return moving;
}

}  // namespace qv

namespace qv {

void ApplySearchText(const std::string& text, bool useRegExp, CFilterTarget& target) {
  if (text.empty()) return;
  CRule rule;
  rule.Message = text;
  rule.UseRegExp = useRegExp;
  target.ApplyFilter(rule);
  target.SelectLastRow();
}

}  // namespace qv
