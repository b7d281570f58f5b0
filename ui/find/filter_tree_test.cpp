#include "ui/find/filter_tree.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <map>
#include <string>
#include <vector>

#include "core/settings/settings_store.h"
#include "testing/temp_home.h"
#include "ui/find/moving_time_window.h"

namespace qv {
namespace {

// The document and list reduced to what choosing needs: a filter over a vector.
class FakeList : public CFilterTarget {
 public:
  bool IsFilterShown() const override { return filter.has_value(); }
  void ApplyFilter(const CRule& rule) override {
    filter = rule;
    ++applied;
  }
  void ShowAll() override {
    filter.reset();
    ++showAlls;
  }
  std::optional<int32_t> SelectedTimeReceived() const override { return selectedTime; }
  void SelectLastRow() override { ++lastRowSelections; }
  bool SelectionAtNewest() const override { return !selectedTime || newestSelected; }
  bool MoveTimeWindow(int32_t low) override {
    if (!filter || filter->timeRangeEnd != CRule::kTimeRangeEndOpen) return false;
    filter->TimeRange = low;
    return true;
  }

  std::vector<std::string> Shown() {
    std::vector<std::string> texts;
    for (const SyslogMessage& message : all) {
      if (!filter || filter->Matches(message)) texts.push_back(message.message);
    }
    return texts;
  }

  std::vector<SyslogMessage> all;
  std::optional<CRule> filter;
  std::optional<int32_t> selectedTime;
  bool newestSelected = false;
  int applied = 0;
  int showAlls = 0;
  int lastRowSelections = 0;
};

SyslogMessage Message(std::string text, int32_t severity = 6, int32_t timeReceived = 1'700'000'000) {
  SyslogMessage message;
  message.message = std::move(text);
  message.severity = severity;
  message.timeReceived = timeReceived;
  message.ipAddress = "10.0.0.1";
  message.hostName = "alpha";
  message.facility = 1;
  return message;
}

// The store's running counts reduced to maps, with a version the test moves by hand.
class FakeCounts : public CEntryCounts {
 public:
  uint64_t CountsVersion() const override { return version; }
  uint64_t HostNameCount(std::string_view hostName) const override { return Get(hosts, std::string(hostName)); }
  uint64_t AddressCount(std::string_view address) const override { return Get(addresses, std::string(address)); }
  uint64_t FacilityCount(int32_t facility) const override { return Get(facilities, facility); }
  uint64_t SeverityCount(int32_t severity) const override { return Get(severities, severity); }

  template <typename Key>
  static uint64_t Get(const std::map<Key, uint64_t>& counts, const Key& key) {
    const auto found = counts.find(key);
    return found == counts.end() ? 0 : found->second;
  }

  uint64_t version = 1;
  std::map<std::string, uint64_t> hosts;
  std::map<std::string, uint64_t> addresses;
  std::map<int32_t, uint64_t> facilities;
  std::map<int32_t, uint64_t> severities;
};

std::vector<std::string> Texts(const CFilterTree& tree, FilterBranch branch) {
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < tree.Entries(branch).size(); ++i) texts.push_back(tree.DisplayText(branch, i));
  return texts;
}

int EntryIndex(const CFilterTree& tree, FilterBranch branch, const std::string& text) {
  const std::vector<FilterEntry>& entries = tree.Entries(branch);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].text == text) return static_cast<int>(i);
  }
  ADD_FAILURE() << "no entry " << text;
  return -1;
}

class FilterTreeTest : public ::testing::Test {
 protected:
  void Choose(FilterBranch branch, const std::string& entry = {}, CFilterTree::Dialogs dialogs = {},
              std::time_t now = 0) {
    const int index = entry.empty() ? -1 : EntryIndex(tree_, branch, entry);
    ASSERT_TRUE(entry.empty() || index >= 0);
    tree_.Choose({branch, index}, list_, dialogs, now);
  }

  qv::testing::TempHome home_;
  CFilterTree tree_;
  FakeList list_;
};

TEST_F(FilterTreeTest, SeverityEntriesFilterExactlyOrByThreshold) {
  for (int32_t severity = 0; severity <= 7; ++severity) {
    list_.all.push_back(Message("s" + std::to_string(severity), severity));
  }
  ASSERT_EQ(tree_.Entries(FilterBranch::kSeverity).size(), 16u);
  Choose(FilterBranch::kSeverity, "Warning or Higher");
  EXPECT_EQ(list_.Shown(), (std::vector<std::string>{"s0", "s1", "s2", "s3", "s4"}));
  EXPECT_EQ(list_.lastRowSelections, 1);
  Choose(FilterBranch::kSeverity, "Error");
  EXPECT_EQ(list_.Shown(), (std::vector<std::string>{"s3"}));

  // The top-level item has entries below it: choosing it does nothing.
  Choose(FilterBranch::kSeverity);
  EXPECT_EQ(list_.applied, 2);
}

TEST_F(FilterTreeTest, TimeWindowCentresOnTheSelectedMessageOrOnNow) {
  const int32_t noon = 1'700'049'600;  // 12:00:00 UTC
  for (int32_t offset : {-61, -60, 0, 60, 61}) list_.all.push_back(Message(std::to_string(offset), 6, noon + offset));
  list_.selectedTime = noon;
  Choose(FilterBranch::kTimeReceived, "Within 1 minute");
  EXPECT_EQ(list_.Shown(), (std::vector<std::string>{"-60", "0", "60"}));

  list_.selectedTime.reset();
  Choose(FilterBranch::kTimeReceived, "Within 1 second", {}, noon + 60);
  EXPECT_EQ(list_.Shown(), (std::vector<std::string>{"60", "61"}));

  // Four weeks around a moment near the start of time neither wraps nor reads as "no window".
  list_.all = {Message("early", 6, 10), Message("late", 6, 2'419'301)};
  list_.selectedTime = 100;
  Choose(FilterBranch::kTimeReceived, "Within 4 weeks", {}, 100);
  EXPECT_EQ(list_.Shown(), (std::vector<std::string>{"early"}));
}

// With the newest message selected, or none, a time window is the last N seconds and moves with
// the clock: new arrivals pass, old messages leave as the clock goes on; with an older message
// selected it stays centred on it. The same holds for the seconds of a custom filter.
TEST_F(FilterTreeTest, TimeWindowAtTheNewestMovesWithTheClock) {
  int argc = 1;
  char name[] = "qv_ui_find_test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);  // the window's timer needs one; the test ticks it by hand
  const int32_t noon = 1'700'049'600;
  AppSettings().SetInt("Settings", "customcount", 1);
  CRule custom;
  custom.Name = "recent";
  custom.TimeRange = 30;
  custom.Save("Custom\\custom0");
  tree_.RebuildCustomFilters();
  struct Case {
    std::optional<int32_t> selected;
    bool newest;
    FilterBranch branch;
    const char* entry;
    std::optional<uint32_t> moving;
  };
  const Case cases[] = {
      {std::nullopt, false, FilterBranch::kTimeReceived, "Within 30 seconds", 30},
      {noon - 100, true, FilterBranch::kTimeReceived, "Within 30 seconds", 30},
      {noon - 100, false, FilterBranch::kTimeReceived, "Within 30 seconds", std::nullopt},
      {std::nullopt, false, FilterBranch::kCustom, "recent", 30},
      {noon - 100, false, FilterBranch::kCustom, "recent", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.entry) + (c.selected ? (c.newest ? ", newest selected" : ", older selected") : ""));
    list_.all = {Message("old", 6, noon - 84), Message("recent", 6, noon - 20), Message("now", 6, noon)};
    list_.selectedTime = c.selected;
    list_.newestSelected = c.newest;
    const int index = EntryIndex(tree_, c.branch, c.entry);
    ASSERT_GE(index, 0);
    int64_t clock = noon;
    CMovingTimeWindow window([&clock] { return static_cast<std::time_t>(clock); });
    const std::optional<uint32_t> moving = tree_.Choose({c.branch, index}, list_, {}, noon);
    EXPECT_EQ(moving, c.moving);
    if (!moving) {
      EXPECT_EQ(list_.Shown(), (std::vector<std::string>{"old"}));  // noon - 100 +- 30
      continue;
    }
    EXPECT_EQ(list_.Shown(), (std::vector<std::string>{"recent", "now"}));
    window.Start(list_, *moving);
    list_.all.push_back(Message("later", 6, noon + 15));
    clock = noon + 15;
    window.Tick();
    EXPECT_EQ(list_.Shown(), (std::vector<std::string>{"now", "later"}));
    clock = noon + 40;
    window.Tick();
    EXPECT_EQ(list_.Shown(), (std::vector<std::string>{"later"}));
    EXPECT_TRUE(window.IsMoving());
    // Another filter chosen: the list refuses the move, and the window stops.
    Choose(FilterBranch::kSeverity, "Error");
    window.Tick();
    EXPECT_FALSE(window.IsMoving());
    EXPECT_EQ(list_.filter->TimeRange, 0);
  }
}

TEST_F(FilterTreeTest, ShowAllActsOnlyWhileAFilterIsShown) {
  Choose(FilterBranch::kShowAll);
  EXPECT_EQ(list_.showAlls, 0);
  EXPECT_EQ(list_.lastRowSelections, 0);

  Choose(FilterBranch::kHighlighted);
  ASSERT_TRUE(list_.filter);
  EXPECT_TRUE(list_.filter->Highlighted);
  Choose(FilterBranch::kShowAll);
  EXPECT_FALSE(list_.filter);
  EXPECT_EQ(list_.lastRowSelections, 2);
}

// Each learned branch lists at most 10,000 values, then "(more...)" once, which filters nothing;
// emptying the store empties them and the next values are listed again.
TEST_F(FilterTreeTest, HostAndAddressBranchesStopAtTheirCapWithOneMoreEntry) {
  using Add = std::optional<std::size_t> (CFilterTree::*)(const std::string&);
  struct Case {
    FilterBranch branch;
    Add add;
  };
  for (const Case& c : {Case{FilterBranch::kHostname, &CFilterTree::AddHostName},
                        Case{FilterBranch::kAddress, &CFilterTree::AddAddress}}) {
    for (int round = 0; round < 2; ++round) {  // before and after the store is emptied
      for (std::size_t i = 0; i < CFilterTree::kMaxLearnedEntries; ++i) {
        ASSERT_TRUE((tree_.*c.add)("v" + std::to_string(i)));
      }
      EXPECT_FALSE((tree_.*c.add)("v17"));
      EXPECT_TRUE((tree_.*c.add)("one too many"));
      EXPECT_FALSE((tree_.*c.add)("another"));
      EXPECT_FALSE((tree_.*c.add)("v17"));
      const std::vector<FilterEntry>& entries = tree_.Entries(c.branch);
      ASSERT_EQ(entries.size(), CFilterTree::kMaxLearnedEntries + 1);
      EXPECT_EQ(entries.back().text, "(more...)");
      tree_.Choose({c.branch, static_cast<int>(entries.size()) - 1}, list_, {});
      EXPECT_EQ(list_.applied, 0);
      tree_.ForgetEntries();
      EXPECT_TRUE(tree_.Entries(c.branch).empty());
    }
  }
}

TEST_F(FilterTreeTest, EntriesFollowTheStoreAndAnEmptyBranchPassesEverything) {
  EXPECT_EQ(tree_.Entries(FilterBranch::kFacility).size(), 25u);
  EXPECT_EQ(tree_.Entries(FilterBranch::kFacility).back().text, "Windows");
  tree_.ForgetEntries();
  EXPECT_TRUE(tree_.Entries(FilterBranch::kFacility).empty());

  list_.all = {Message("a"), Message("b")};
  list_.all[1].facility = 4;
  Choose(FilterBranch::kFacility);
  EXPECT_EQ(list_.applied, 1);
  EXPECT_EQ(list_.Shown().size(), 2u);

  EXPECT_TRUE(tree_.AddFacility(4));
  EXPECT_FALSE(tree_.AddFacility(4));
  EXPECT_FALSE(tree_.AddFacility(25));
  EXPECT_FALSE(tree_.AddFacility(-1));
  EXPECT_TRUE(tree_.AddFacility(10));
  list_.all.push_back(Message("c"));
  list_.all[2].facility = 10;
  Choose(FilterBranch::kFacility, "security");
  EXPECT_EQ(list_.Shown(), (std::vector<std::string>{"b"}));
  Choose(FilterBranch::kFacility, "authpriv");
  EXPECT_EQ(list_.Shown(), (std::vector<std::string>{"c"}));

  list_.all[1].ipAddress = "192.168.1.10";
  list_.all[1].hostName = "beta";
  EXPECT_FALSE(tree_.AddAddress(""));
  EXPECT_TRUE(tree_.AddAddress("10.0.0.1"));
  EXPECT_TRUE(tree_.AddAddress("192.168.1.10"));
  EXPECT_FALSE(tree_.AddAddress("10.0.0.1"));
  EXPECT_FALSE(tree_.AddHostName(""));
  EXPECT_TRUE(tree_.AddHostName("beta"));
  Choose(FilterBranch::kAddress, "192.168.1.10");
  EXPECT_EQ(list_.Shown(), (std::vector<std::string>{"b"}));
  Choose(FilterBranch::kHostname, "beta");
  EXPECT_EQ(list_.Shown(), (std::vector<std::string>{"b"}));

  tree_.ForgetEntries();
  EXPECT_TRUE(tree_.Entries(FilterBranch::kAddress).empty());
  EXPECT_TRUE(tree_.Entries(FilterBranch::kHostname).empty());
  EXPECT_EQ(tree_.Entries(FilterBranch::kSeverity).size(), 16u);
}

TEST_F(FilterTreeTest, CancellingMultipleFieldsKeepsTheFilterAndCancellingContentsShowsAll) {
  list_.all = {Message("disk error", 3), Message("link up", 6)};
  CFilterTree::Dialogs cancelling{[] { return std::nullopt; }, [] { return std::nullopt; }};
  Choose(FilterBranch::kSeverity, "Error");
  Choose(FilterBranch::kMultipleFields, {}, cancelling);
  EXPECT_EQ(list_.Shown(), (std::vector<std::string>{"disk error"}));
  EXPECT_EQ(list_.showAlls, 0);

  Choose(FilterBranch::kMessageContents, {}, cancelling);
  EXPECT_FALSE(list_.filter);
  EXPECT_EQ(list_.showAlls, 1);
  EXPECT_EQ(list_.lastRowSelections, 1);  // no selection step after a cancel

  FilterFields fields;
  fields.message = "^link";
  fields.useRegExp = true;
  fields.severityIndex = 7;  // "Informational"
  fields.seconds = 30;
  list_.selectedTime = 1'700'000'000;
  CFilterTree::Dialogs confirming{[&] { return fields; }, [&] { return fields; }};
  Choose(FilterBranch::kMultipleFields, {}, confirming);
  EXPECT_EQ(list_.Shown(), (std::vector<std::string>{"link up"}));
  EXPECT_EQ(list_.filter->TimeRange, 1'700'000'000 - 30);
  EXPECT_EQ(list_.filter->timeRangeEnd, 1'700'000'000 + 30);

  Choose(FilterBranch::kMessageContents, {}, confirming);
  EXPECT_EQ(list_.filter->Message, "^link");
  EXPECT_TRUE(list_.filter->UseRegExp);
  EXPECT_EQ(list_.filter->Severity, -1);  // contents only
}

TEST_F(FilterTreeTest, CustomBranchIsRebuiltFromTheStoreAndLoadsTheChosenFilter) {
  const CSettingsStore& store = AppSettings();
  CRule errors;
  errors.Name = "errors";
  errors.Severity = 11;
  errors.Save("Custom\\custom0");
  CRule recent;
  recent.Name = "recent beta";
  recent.Hostname = "beta";
  recent.TimeRange = 60;
  recent.Save("Custom\\custom1");
  EXPECT_TRUE(tree_.Entries(FilterBranch::kCustom).empty());
  Choose(FilterBranch::kCustom);  // no filters yet: passes everything
  EXPECT_EQ(list_.applied, 1);

  store.SetInt("Settings", "customcount", 2);
  tree_.RebuildCustomFilters();
  ASSERT_EQ(tree_.Entries(FilterBranch::kCustom).size(), 2u);
  EXPECT_EQ(tree_.Entries(FilterBranch::kCustom)[1].text, "recent beta");

  list_.all = {Message("old", 6, 1000), Message("new", 3, 5000), Message("newer", 6, 5030)};
  list_.all[1].hostName = list_.all[2].hostName = "beta";
  Choose(FilterBranch::kCustom, "errors");
  EXPECT_EQ(list_.Shown(), (std::vector<std::string>{"new"}));
  Choose(FilterBranch::kCustom, "recent beta", {}, 5000);
  EXPECT_EQ(list_.Shown(), (std::vector<std::string>{"new", "newer"}));
}

TEST_F(FilterTreeTest, SearchForTextFiltersAfterEveryLetter) {
  list_.all = {Message("kernel: eth0 up"), Message("disk error"), Message("Error: fan"), Message("user login")};
  const std::vector<std::pair<std::string, std::vector<std::string>>> steps = {
      {"e", {"kernel: eth0 up", "disk error", "Error: fan", "user login"}},
      {"er", {"kernel: eth0 up", "disk error", "Error: fan", "user login"}},
      {"err", {"disk error", "Error: fan"}},
  };
  for (const auto& [typed, expected] : steps) {
    ApplySearchText(typed, false, list_);
    EXPECT_EQ(list_.Shown(), expected) << typed;
  }
  EXPECT_EQ(list_.lastRowSelections, 3);
  ApplySearchText("", false, list_);
  EXPECT_EQ(list_.applied, 3);
  ApplySearchText("^Err", true, list_);
  EXPECT_EQ(list_.Shown(), (std::vector<std::string>{"Error: fan"}));
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

// Host names in name order without regard to case and with numbers by value, addresses in numeric order (IPv4, IPv6, then
// other texts), whatever order they arrive in; each insertion reports where it went.
TEST_F(FilterTreeTest, LearnedBranchesListInOrderAndReportWhereEachEntryWent) {
  using Add = std::optional<std::size_t> (CFilterTree::*)(const std::string&);
  struct Case {
    FilterBranch branch;
    Add add;
    std::vector<std::string> arrivals;
    std::vector<std::size_t> places;  // where each arrival was inserted
    std::vector<std::string> listed;
  };
  const Case cases[] = {
      {FilterBranch::kHostname, &CFilterTree::AddHostName, {"gamma", "beta", "Alpha", "alpha", "beta10", "beta9"},
       {0, 0, 0, 1, 3, 3}, {"Alpha", "alpha", "beta", "beta9", "beta10", "gamma"}},
      {FilterBranch::kAddress, &CFilterTree::AddAddress,
       {"192.168.1.10", "10.0.0.10", "Unknown", "fe80::1", "10.0.0.9", "::1", "9.255.255.255"},
       {0, 0, 2, 2, 0, 3, 0}, {"9.255.255.255", "10.0.0.9", "10.0.0.10", "192.168.1.10", "::1", "fe80::1", "Unknown"}},
  };
  for (const Case& c : cases) {
    std::vector<std::size_t> places;
    for (const std::string& value : c.arrivals) {
      const std::optional<std::size_t> place = (tree_.*c.add)(value);
      ASSERT_TRUE(place) << value;
      places.push_back(*place);
    }
    EXPECT_EQ(places, c.places);
    EXPECT_EQ(Texts(tree_, c.branch), c.listed);
  }
  // Choosing still picks the entry by its place in the sorted list.
  list_.all = {Message("a"), Message("b")};
  list_.all[1].ipAddress = "10.0.0.9";
  Choose(FilterBranch::kAddress, "10.0.0.9");
  EXPECT_EQ(list_.Shown(), (std::vector<std::string>{"b"}));
}

TEST_F(FilterTreeTest, CountedEntriesShowTheStoresCountsAndOnlyChangesAreReported) {
  FakeCounts counts;
  counts.hosts = {{"beta", 59}, {"alpha", 3}};
  counts.addresses = {{"10.0.0.1", 62}};
  counts.facilities = {{1, 40}, {10, 22}};
  counts.severities = {{-1, 1}, {0, 2}, {3, 10}, {4, 5}, {6, 44}};
  tree_.ForgetEntries();
  EXPECT_TRUE(tree_.AddHostName("beta"));  // before any source: no count
  EXPECT_EQ(tree_.DisplayText(FilterBranch::kHostname, 0), "beta");
  tree_.SetCounts(&counts);
  EXPECT_TRUE(tree_.AddHostName("alpha"));  // counted as it is added
  EXPECT_EQ(Texts(tree_, FilterBranch::kHostname), (std::vector<std::string>{"alpha (3)", "beta"}));

  EXPECT_TRUE(tree_.AddAddress("10.0.0.1"));
  EXPECT_TRUE(tree_.AddFacility(10));
  EXPECT_TRUE(tree_.AddFacility(1));
  const std::vector<FilterItem> first = tree_.UpdateCounts();
  EXPECT_EQ(Texts(tree_, FilterBranch::kHostname), (std::vector<std::string>{"alpha (3)", "beta (59)"}));
  EXPECT_EQ(Texts(tree_, FilterBranch::kAddress), (std::vector<std::string>{"10.0.0.1 (62)"}));
  EXPECT_EQ(Texts(tree_, FilterBranch::kFacility), (std::vector<std::string>{"authpriv (22)", "user (40)"}));
  // Exact severities their own count; thresholds everything up to them, below 0 included.
  const struct {
    const char* entry;
    const char* shown;
  } severities[] = {{"Emergency", "Emergency (2)"},
                    {"Error", "Error (10)"},
                    {"Alert", "Alert (0)"},
                    {"Emergency or Higher", "Emergency or Higher (3)"},
                    {"Warning or Higher", "Warning or Higher (18)"},
                    {"Debug or Higher", "Debug or Higher (62)"}};
  for (const auto& severity : severities) {
    const int index = EntryIndex(tree_, FilterBranch::kSeverity, severity.entry);
    EXPECT_EQ(tree_.DisplayText(FilterBranch::kSeverity, static_cast<std::size_t>(index)), severity.shown);
  }
  EXPECT_EQ(first.size(), 1u + 16u);  // beta and every severity; the rest were counted when added

  // Same version: nothing is read. A new version reports only the entries that changed.
  counts.hosts["beta"] = 60;
  EXPECT_TRUE(tree_.UpdateCounts().empty());
  EXPECT_EQ(tree_.DisplayText(FilterBranch::kHostname, 1), "beta (59)");
  counts.version = 2;
  EXPECT_EQ(tree_.UpdateCounts(), (std::vector<FilterItem>{{FilterBranch::kHostname, 1}}));
  EXPECT_EQ(tree_.DisplayText(FilterBranch::kHostname, 1), "beta (60)");
  // Entries that are no filter show no count.
  EXPECT_EQ(tree_.DisplayText(FilterBranch::kTimeReceived, 0), "Within 1 second");
}

}  // namespace
}  // namespace qv
