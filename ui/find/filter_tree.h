#pragma once
// The entries of the filter tree and what choosing one of them does. The tree widget shows what
// this class holds and forwards choices to `Choose`; the logic needs no window, so tests drive
// it directly.
//
// Address, host name and facility entries follow the store: added as first seen, all forgotten
// when the store is emptied. Whether a host name or address is known is one look-up in a hash set
// per branch, and each of the two branches lists at most kMaxLearnedEntries values, then one
// entry kMoreEntries, so that a flood of new senders (or a document of a million of them) costs
// the tree a bounded amount of work and memory. The custom branch follows "Custom\custom%d" with
// "customcount". Not thread-safe: the user-interface thread owns it.

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "ui/find/filter_fields.h"
#include "ui/find/filter_target.h"

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
};

// One entry below a top-level item: its text and its item data.
struct FilterEntry {
  std::string text;
  int64_t data = 0;
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

  // Each returns true when an entry was appended (empty or known texts are ignored; past
  // kMaxLearnedEntries only kMoreEntries, once).
  bool AddAddress(const std::string& address);
  bool AddHostName(const std::string& hostName);
  // Facilities above 24 have no name and are not listed.
  bool AddFacility(int32_t facility);
  // Removes every address, host name and facility entry.
  void ForgetEntries();
  // Reloads the custom branch from "Custom\custom%d", 0 .. "customcount" - 1, named by Name.
  void RebuildCustomFilters();

  const std::vector<FilterEntry>& Entries(FilterBranch branch) const;

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
  bool AddLearned(FilterBranch branch, std::unordered_set<std::string>& known, const std::string& text);

  std::vector<std::vector<FilterEntry>> entries_;
  std::unordered_set<std::string> knownHostNames_;
  std::unordered_set<std::string> knownAddresses_;
};

}  // namespace qv

namespace qv {

// One step of the "Search for text" dialog, run at every change of its text or check box: a
// non-empty text filters the list by contents and selects the last row; an empty one changes
// nothing.
void ApplySearchText(const std::string& text, bool useRegExp, CFilterTarget& target);

}  // namespace qv
