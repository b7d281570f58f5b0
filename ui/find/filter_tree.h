#pragma once
// The entries of the filter tree and what choosing one of them does. The tree widget shows what
// this class holds and forwards choices to `Choose`; the logic needs no window, so tests drive
// it directly.
//
// Address, host name and facility entries follow the store: added as first seen, all forgotten
// when the store is emptied. Whether a host name or address is known is one look-up in a hash set
// per branch, and each of the two branches lists at most kMaxLearnedEntries values, then one
// entry kMoreEntries, so that a flood of new senders (or a document of a million of them) costs
// the tree a bounded amount of work and memory. Host names are listed in name order (without
// regard to case, numbers by value: "sw9" before "sw10") and addresses in numeric order (IPv4, then IPv6, then anything else by its
// text), "(more...)" last; facilities in order of first appearance. The custom branch follows
// "Custom\custom%d" with "customcount".
//
// Counts: host name, address, facility and severity entries show how many stored messages they
// would show ("beta (59)"), read from the store's running counts (CEntryCounts). UpdateCounts
// reads every count again (one look-up per entry) and is called at most once a second, never per
// message; an entry added meanwhile is counted when it is added. The tree holds no messages.
// Not thread-safe: the user-interface thread owns it.

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "ui/find/filter_fields.h"
#include "ui/find/filter_target.h"
#include "ui/store/entry_counts.h"

namespace qv {

// The ten top-level items, in their order in the tree.
enum class FilterBranch {
  kShowAll,
  kHostname,
  kAddress,
  kFacility,
  kSeverity,
  kTimeReceived,
  kMessageContents,
  kHighlighted,
  kMultipleFields,
  kCustom,
};
inline constexpr int kFilterBranchCount = 10;

// The caption and image index of a top-level item.
struct FilterBranchInfo {
  FilterBranch branch;
  const char* caption;
  int image;
};
extern const FilterBranchInfo kFilterBranches[kFilterBranchCount];

// One item of the tree: a top-level item (entry -1) or entry `entry` below it.
struct FilterItem {
  FilterBranch branch = FilterBranch::kShowAll;
  int entry = -1;
  bool operator==(const FilterItem&) const = default;
};

// One entry below a top-level item: its text, its item data, and its message count when its
// branch shows one.
struct FilterEntry {
  std::string text;
  int64_t data = 0;
  std::optional<uint64_t> count;
};

class CFilterTree {
 public:
  // The dialogs that choosing "Message Contents" and "Multiple Fields" opens. Each returns the
  // confirmed fields, or nothing when cancelled.
  struct Dialogs {
    std::function<std::optional<FilterFields>()> searchForText;
    std::function<std::optional<FilterFields>()> multipleFields;
  };

  // Fills the fixed branches (Severity, Time Received), the facility branch with all 25
  // names, and the custom branch from the settings store.
  CFilterTree();

  static constexpr std::size_t kMaxLearnedEntries = 10000;
  // The last entry of a full host name or address branch; choosing it filters nothing.
  static constexpr const char* kMoreEntries = "(more...)";
  static constexpr int64_t kMoreEntriesData = -1;

  // Each returns the index at which an entry was inserted, or nothing (empty or known texts are
  // ignored; past kMaxLearnedEntries only kMoreEntries is appended, once).
  std::optional<std::size_t> AddAddress(const std::string& address);
  std::optional<std::size_t> AddHostName(const std::string& hostName);
  // Facilities above 24 have no name and are not listed; a new facility is appended.
  std::optional<std::size_t> AddFacility(int32_t facility);
  // Removes every address, host name and facility entry.
  void ForgetEntries();
  // Reloads the custom branch from "Custom\custom%d", 0 .. "customcount" - 1, named by Name.
  void RebuildCustomFilters();

  const std::vector<FilterEntry>& Entries(FilterBranch branch) const;
  // The text an entry is shown with: its text, then its count in brackets when it has one.
  std::string DisplayText(FilterBranch branch, std::size_t entry) const;

  // Where counts are read from; not owned, null for none (entries then show no count). Must
  // outlive the tree or be replaced first.
  void SetCounts(const CEntryCounts* counts);
  // Reads the counts of every counted entry again, unless nothing was counted in or out since
  // the last time. Returns the entries whose count changed.
  std::vector<FilterItem> UpdateCounts();

  // Chooses an item: builds the match record of its branch and applies it to the target, or
  // shows all, or does nothing (see the .cpp). A time window (a "Time Received" entry, the
  // seconds of "Multiple Fields" or of a custom filter) is centred on the selected message when
  // an older one is selected; with the newest selected, or none, it is the last N seconds at
  // `now`, open towards the future, and Choose returns N: the caller then moves it with the
  // clock (CMovingTimeWindow). Otherwise it returns nothing.
  std::optional<uint32_t> Choose(const FilterItem& item, CFilterTarget& target, const Dialogs& dialogs,
                                 std::time_t now = std::time(nullptr)) const;

 private:
  std::vector<FilterEntry>& MutableEntries(FilterBranch branch);
  std::optional<std::size_t> AddLearned(FilterBranch branch, std::unordered_set<std::string>& known,
                                        const std::string& text);
  std::optional<uint64_t> CountOf(FilterBranch branch, const FilterEntry& entry) const;

  std::vector<std::vector<FilterEntry>> entries_;
  const CEntryCounts* counts_ = nullptr;
  std::optional<uint64_t> countedVersion_;
  std::unordered_set<std::string> knownHostNames_;
  std::unordered_set<std::string> knownAddresses_;
};

}  // namespace qv

namespace qv {

// The orders of the learned branches: true when `a` is listed before `b`.
bool HostNameBefore(const std::string& a, const std::string& b);
bool AddressBefore(const std::string& a, const std::string& b);

// One step of the "Search for text" dialog, run at every change of its text or check box: a
// non-empty text filters the list by contents and selects the last row; an empty one changes
// nothing.
void ApplySearchText(const std::string& text, bool useRegExp, CFilterTarget& target);

}  // namespace qv
