#include "ui/find/filter_tree.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cstring>

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

bool IsLearned(FilterBranch branch) { return branch == FilterBranch::kHostname || branch == FilterBranch::kAddress; }

constexpr FilterBranch kCountedBranches[] = {FilterBranch::kHostname, FilterBranch::kAddress, FilterBranch::kFacility,
                                             FilterBranch::kSeverity};

unsigned char Lower(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

// An address as the key it sorts by: IPv4 (rank 0) before IPv6 (rank 1), each by its bytes, then
// anything else (rank 2, "Unknown" from an imported record) by its text.
struct AddressKey {
  int rank = 2;
  std::array<unsigned char, 16> bytes{};
};

AddressKey KeyOf(const std::string& address) {
  AddressKey key;
  if (inet_pton(AF_INET, address.c_str(), key.bytes.data()) == 1) {
    key.rank = 0;
  } else if (inet_pton(AF_INET6, address.c_str(), key.bytes.data()) == 1) {
    key.rank = 1;
  } else {
    key.bytes = {};
  }
  return key;
}

}  // namespace

// Name order: letters without regard to case, and a run of digits by its value, so that "sw9"
// comes before "sw10"; names equal that way go by their bytes, for one stable order.
bool HostNameBefore(const std::string& a, const std::string& b) {
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      while (i + 1 < a.size() && a[i] == '0' && isDigit(a[i + 1])) ++i;  // leading zeros weigh nothing
      while (j + 1 < b.size() && b[j] == '0' && isDigit(b[j + 1])) ++j;
      std::size_t endA = i;
      std::size_t endB = j;
      while (endA < a.size() && isDigit(a[endA])) ++endA;
      while (endB < b.size() && isDigit(b[endB])) ++endB;
      if (endA - i != endB - j) return endA - i < endB - j;  // fewer digits, smaller value
      const int digits = a.compare(i, endA - i, b, j, endB - j);
      if (digits != 0) return digits < 0;
      i = endA;
      j = endB;
      continue;
    }
    if (Lower(a[i]) != Lower(b[j])) return Lower(a[i]) < Lower(b[j]);
    ++i;
    ++j;
  }
  if (i < a.size() || j < b.size()) return j < b.size() && i == a.size();
  return a < b;
}

bool AddressBefore(const std::string& a, const std::string& b) {
  const AddressKey ka = KeyOf(a);
  const AddressKey kb = KeyOf(b);
  if (ka.rank != kb.rank) return ka.rank < kb.rank;
  if (ka.rank == 2 || ka.bytes == kb.bytes) return a < b;  // "::1" and "0::1" are one address, two texts
  return ka.bytes < kb.bytes;
}

CFilterTree::CFilterTree() : entries_(kFilterBranchCount) {
  for (size_t i = 0; i < kSeverityFilterNames.size(); ++i) {
    MutableEntries(FilterBranch::kSeverity).push_back({kSeverityFilterNames[i], static_cast<int64_t>(i), std::nullopt});
  }
  for (const TimeWindowEntry& window : kTimeWindowEntries) {
    MutableEntries(FilterBranch::kTimeReceived).push_back({window.name, window.seconds, std::nullopt});
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

std::optional<std::size_t> CFilterTree::AddLearned(FilterBranch branch, std::unordered_set<std::string>& known,
                                                   const std::string& text) {
  if (text.empty() || known.count(text) != 0) return std::nullopt;
  std::vector<FilterEntry>& entries = MutableEntries(branch);
  if (known.size() >= kMaxLearnedEntries) {
    if (entries.size() > known.size()) return std::nullopt;  // "(more...)" is listed already
    entries.push_back({kMoreEntries, kMoreEntriesData, std::nullopt});
    return entries.size() - 1;
  }
  known.insert(text);
  const auto before = branch == FilterBranch::kAddress ? AddressBefore : HostNameBefore;
  // Below the cap "(more...)" is not listed, so every entry takes part in the order.
  const auto at = std::upper_bound(entries.begin(), entries.end(), text,
                                   [before](const std::string& value, const FilterEntry& entry) {
                                     return before(value, entry.text);
                                   });
  const auto inserted = entries.insert(at, {text, 0, std::nullopt});
  inserted->count = CountOf(branch, *inserted);
  return static_cast<std::size_t>(inserted - entries.begin());
}

std::optional<std::size_t> CFilterTree::AddAddress(const std::string& address) {
  return AddLearned(FilterBranch::kAddress, knownAddresses_, address);
}

std::optional<std::size_t> CFilterTree::AddHostName(const std::string& hostName) {
  return AddLearned(FilterBranch::kHostname, knownHostNames_, hostName);
}

std::optional<std::size_t> CFilterTree::AddFacility(int32_t facility) {
  if (facility < 0 || facility > kFacilityWindows) return std::nullopt;
  std::vector<FilterEntry>& entries = MutableEntries(FilterBranch::kFacility);
  const bool known = std::any_of(entries.begin(), entries.end(),
                                 [&](const FilterEntry& entry) { return entry.data == facility; });
  if (known) return std::nullopt;
  entries.push_back({kFacilityNames[static_cast<size_t>(facility)], facility, std::nullopt});
  entries.back().count = CountOf(FilterBranch::kFacility, entries.back());
  return entries.size() - 1;
}

std::string CFilterTree::DisplayText(FilterBranch branch, std::size_t entry) const {
  const std::vector<FilterEntry>& entries = Entries(branch);
  if (entry >= entries.size()) return {};
  const FilterEntry& shown = entries[entry];
  return shown.count ? shown.text + " (" + std::to_string(*shown.count) + ")" : shown.text;
}

void CFilterTree::SetCounts(const CEntryCounts* counts) {
  counts_ = counts;
  countedVersion_.reset();
}

// A threshold entry ("Warning or Higher", data 12) takes every severity up to its own, and the
// severities below 0 too, as matching does.
std::optional<uint64_t> CFilterTree::CountOf(FilterBranch branch, const FilterEntry& entry) const {
  if (counts_ == nullptr) return std::nullopt;
  switch (branch) {
    case FilterBranch::kHostname:
      return entry.data == kMoreEntriesData ? std::nullopt : std::optional(counts_->HostNameCount(entry.text));
    case FilterBranch::kAddress:
      return entry.data == kMoreEntriesData ? std::nullopt : std::optional(counts_->AddressCount(entry.text));
    case FilterBranch::kFacility:
      return counts_->FacilityCount(static_cast<int32_t>(entry.data));
    case FilterBranch::kSeverity: {
      if (entry.data < 8) return counts_->SeverityCount(static_cast<int32_t>(entry.data));
      uint64_t count = 0;
      for (int32_t severity = -1; severity <= entry.data - 8; ++severity) count += counts_->SeverityCount(severity);
      return count;
    }
    default:
      return std::nullopt;
  }
}

std::vector<FilterItem> CFilterTree::UpdateCounts() {
  std::vector<FilterItem> changed;
  if (counts_ == nullptr) return changed;
  const uint64_t version = counts_->CountsVersion();
  if (countedVersion_ == version) return changed;
  countedVersion_ = version;
  for (const FilterBranch branch : kCountedBranches) {
    std::vector<FilterEntry>& entries = MutableEntries(branch);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const std::optional<uint64_t> count = CountOf(branch, entries[i]);
      if (count == entries[i].count) continue;
      entries[i].count = count;
      changed.push_back({branch, static_cast<int>(i)});
    }
  }
  return changed;
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
    custom.push_back({AppSettings().GetString(CustomSection(n), "Name"), n, std::nullopt});
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
    if (IsLearned(item.branch) && entry->data == kMoreEntriesData) return std::nullopt;
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
