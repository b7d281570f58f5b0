#include "ui/store/message_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace qv {
namespace {

SyslogMessage Message(const std::string& text, const std::string& host = "h", int32_t facility = 1) {
  SyslogMessage record;
  record.message = text;
  record.hostName = host;
  record.ipAddress = "10.0.0.1";
  record.facility = facility;
  return record;
}

std::vector<std::string> Shown(const CMessageStore& store) {
  std::vector<std::string> texts;
  StoredMessageView view;
  for (int32_t i = 0; store.ShownAt(ShownPosition(i), &view); ++i) texts.emplace_back(view.message);
  return texts;
}

TEST(MessageStoreTest, RingKeepsTheNewestWithTheSeqOfTheirSlotsAndMarksLineBreaks) {
  CMessageStore store(3);
  for (const char* text : {"m1", "m2", "m3", "m4", "m5"}) {
    SyslogMessage record = Message(text);
    store.Add(record);
  }
  EXPECT_EQ(Shown(store), (std::vector<std::string>{"m3", "m4", "m5"}));
  std::vector<int32_t> seqs;
  StoredMessageView view;
  for (int32_t i = 0; store.StoredAt(i, &view); ++i) seqs.push_back(view.seq);
  EXPECT_EQ(seqs, (std::vector<int32_t>{2, 0, 1}));
  EXPECT_FALSE(store.StoredAt(3, &view));
  EXPECT_FALSE(store.StoredAt(-1, &view));
  // Message numbers keep naming a message while it is held.
  ASSERT_TRUE(store.ShownByNumber(3, &view));
  EXPECT_EQ(view.message, "m4");
  EXPECT_FALSE(store.ShownByNumber(1, &view));
  EXPECT_FALSE(store.ShownByNumber(5, &view));

  SyslogMessage broken = Message("a\r\nb");
  store.Add(broken);
  EXPECT_EQ(broken.message, "a\xC2\xAE\xC2\xB6" "b");
  EXPECT_EQ(Shown(store).back(), "a\xC2\xAE\xC2\xB6" "b");

  // 0 or a negative capacity is the default, never a division by zero.
  store.Clear(0);
  EXPECT_EQ(store.maxEntries(), CMessageStore::kDefaultMaxEntries);
  store.Clear(-5);
  EXPECT_EQ(store.maxEntries(), CMessageStore::kDefaultMaxEntries);
  EXPECT_EQ(store.shownCount(), 0);
}

// The graph reads every time at once: the walk must follow shown positions round a turned ring,
// in the filtered list and in a sorted one, exactly as ShownAt does.
TEST(MessageStoreTest, ShownTimesReceivedFollowShownPositions) {
  CMessageStore store(4);
  const auto expected = [&store] {
    std::vector<int32_t> times;
    StoredMessageView view;
    for (int32_t i = 0; store.ShownAt(ShownPosition(i), &view); ++i) times.push_back(view.timeReceived);
    return times;
  };
  std::vector<int32_t> times{99};  // replaced, not appended to
  store.ShownTimesReceived(&times);
  EXPECT_TRUE(times.empty());
  for (int32_t t : {50, 10, 40, 20, 30, 60}) {
    SyslogMessage record = Message(t % 20 == 0 ? "even" : "odd");
    record.timeReceived = t;
    store.Add(record);
  }
  store.ShownTimesReceived(&times);
  EXPECT_EQ(times, (std::vector<int32_t>{40, 20, 30, 60}));
  CRule filter;
  filter.Message = "even";
  store.ApplyFilter(filter, std::nullopt);
  store.ShownTimesReceived(&times);
  EXPECT_EQ(times, expected());
  EXPECT_EQ(times, (std::vector<int32_t>{40, 20, 60}));
  store.ShowAll();
  store.SortBy(4);
  SyslogMessage late = Message("late");
  late.timeReceived = 5;
  store.Add(late);  // the sorted ring turns on from its sorted order
  store.ShownTimesReceived(&times);
  EXPECT_EQ(times, expected());
  EXPECT_EQ(times, (std::vector<int32_t>{30, 40, 60, 5}));
}

TEST(MessageStoreTest, IndexesReportEachValueOnceAndFacilitiesAbove24Share25) {
  CMessageStore store(10);
  SyslogMessage first = Message("a", "h1", 3);
  const auto novel = store.Add(first);
  EXPECT_TRUE(novel.address && novel.hostName && novel.facility);
  SyslogMessage again = Message("b", "h1", 3);
  const auto seen = store.Add(again);
  EXPECT_FALSE(seen.address || seen.hostName || seen.facility);
  SyslogMessage unknown = Message("c", "h2", 25);
  SyslogMessage huge = Message("d", "h2", 30000);
  EXPECT_TRUE(store.Add(unknown).facility);
  EXPECT_FALSE(store.Add(huge).facility);
  EXPECT_TRUE(store.FacilitySeen(30000));
  EXPECT_FALSE(store.FacilitySeen(24));
  EXPECT_EQ(store.hostNamesSeen(), 2u);
  store.Clear(10);
  EXPECT_FALSE(store.FacilitySeen(3));
  EXPECT_EQ(store.addressesSeen(), 0u);
}

TEST(MessageStoreTest, FilteredListSharesMessagesWithAll) {
  CMessageStore store(3);
  for (const char* text : {"error 1", "ok 2", "error 3"}) {
    SyslogMessage record = Message(text);
    store.Add(record);
  }
  CRule filter;
  filter.Message = "error";
  const uint64_t generation = store.shownGeneration();
  EXPECT_EQ(store.ApplyFilter(filter, ShownPosition(2)), ShownPosition(1));  // "error 3" stays selected, now at 1
  EXPECT_NE(store.shownGeneration(), generation);
  EXPECT_EQ(Shown(store), (std::vector<std::string>{"error 1", "error 3"}));
  EXPECT_EQ(store.ApplyFilter(filter, ShownPosition(1)), ShownPosition(1));  // from the filtered list shown
  EXPECT_EQ(store.ApplyFilter(filter, std::nullopt), std::nullopt);

  bool grew = true;
  SyslogMessage other = Message("ok 4");
  store.Add(other, &grew);
  EXPECT_FALSE(grew);
  SyslogMessage match = Message("error 5");
  store.Add(match, &grew);
  EXPECT_TRUE(grew);
  // "error 1" has left the ring of all but lives on in the filtered list.
  EXPECT_EQ(Shown(store), (std::vector<std::string>{"error 1", "error 3", "error 5"}));

  // Toggling in the filtered list toggles the same message in all.
  ASSERT_TRUE(store.ToggleHighlight(ShownPosition(2)));
  StoredMessageView view;
  ASSERT_TRUE(store.StoredAt(2, &view));
  EXPECT_EQ(view.message, "error 5");
  EXPECT_TRUE(view.highlighted);
  EXPECT_FALSE(store.ToggleHighlight(ShownPosition(3)));

  store.ShowAll();
  EXPECT_EQ(Shown(store), (std::vector<std::string>{"error 3", "ok 4", "error 5"}));
}

TEST(MessageStoreTest, EachSortKeyAlternatesItsDirectionAndTheSortedOrderBecomesTheRing) {
  CMessageStore store(4);
  for (const char* text : {"b", "C", "a"}) {
    SyslogMessage record = Message(text, std::string("host-") + text);
    store.Add(record);
  }
  store.SortBy(3);
  EXPECT_EQ(Shown(store), (std::vector<std::string>{"a", "b", "C"}));
  store.SortBy(3);
  EXPECT_EQ(Shown(store), (std::vector<std::string>{"C", "b", "a"}));
  store.SortBy(2);  // host names, its own direction: ascending first
  EXPECT_EQ(Shown(store), (std::vector<std::string>{"a", "b", "C"}));
  store.SortBy(7);  // no such key
  EXPECT_EQ(Shown(store), (std::vector<std::string>{"a", "b", "C"}));

  // A full ring that was sorted goes on from its sorted order: the first in it goes first.
  SyslogMessage d = Message("d");
  store.Add(d);
  SyslogMessage e = Message("e");
  store.Add(e);
  EXPECT_EQ(Shown(store), (std::vector<std::string>{"b", "C", "d", "e"}));

  CMessageStore numbers(10);
  for (int32_t severity : {3, 1, 2}) {
    SyslogMessage record = Message("s");
    record.severity = severity;
    record.timeReceived = 100 - severity;
    numbers.Add(record);
  }
  numbers.SortBy(6);
  StoredMessageView view;
  ASSERT_TRUE(numbers.ShownAt(ShownPosition(0), &view));
  EXPECT_EQ(view.severity, 1);
  numbers.SortBy(4);
  ASSERT_TRUE(numbers.ShownAt(ShownPosition(0), &view));
  EXPECT_EQ(view.timeReceived, 97);
}

TEST(MessageStoreTest, FileRecordsGrowTheCapacityInsteadOfWrapping) {
  CMessageStore store(100);
  for (int i = 0; i < 150; ++i) {
    SyslogMessage record = Message("line " + std::to_string(i));
    store.AppendFromFile(record);
    EXPECT_EQ(record.seq, i);
  }
  EXPECT_EQ(store.storedCount(), 150);
  EXPECT_EQ(store.maxEntries(), 150);
  StoredMessageView view;
  ASSERT_TRUE(store.StoredAt(0, &view));
  EXPECT_EQ(view.message, "line 0");
  // Live messages then turn the ring at its new size.
  SyslogMessage live = Message("live");
  store.Add(live);
  EXPECT_EQ(store.storedCount(), 150);
  ASSERT_TRUE(store.StoredAt(149, &view));
  EXPECT_EQ(view.message, "live");
  uint64_t text = 0;
  for (int32_t i = 0; store.StoredAt(i, &view); ++i) text += view.message.size() + view.hostName.size() + view.ipAddress.size();
  EXPECT_EQ(store.TextBytes(), text);
}

// The running counts must equal a recount of the list of all after every way messages arrive
// and leave: live messages turning the ring (with a filter shown, a sort, file records growing
// it), and emptying. Values run past the ends: facilities above 24 and below 0, severities
// below 0 and above 7.
TEST(MessageStoreTest, EntryCountsEqualARecountOfTheStoredMessagesAsTheRingTurns) {
  CMessageStore store(7);
  auto expectRecount = [&store](const std::string& when) {
    std::map<std::string, uint64_t> hosts;
    std::map<std::string, uint64_t> addresses;
    uint64_t facilities[CMessageStore::kFacilityFlags] = {};
    std::map<int32_t, uint64_t> severities;
    StoredMessageView view;
    for (int32_t i = 0; store.StoredAt(i, &view); ++i) {
      ++hosts[std::string(view.hostName)];
      ++addresses[std::string(view.ipAddress)];
      if (view.facility >= 0) ++facilities[std::min(view.facility, CMessageStore::kFacilityFlags - 1)];
      if (view.severity <= 7) ++severities[std::max(view.severity, -1)];
    }
    for (const char* host : {"h0", "h1", "h2", ""}) EXPECT_EQ(store.HostNameCount(host), hosts[host]) << when << host;
    for (const char* address : {"10.0.0.0", "10.0.0.1", "10.0.0.4"}) {
      EXPECT_EQ(store.AddressCount(address), addresses[address]) << when << address;
    }
    for (int32_t f = 0; f < CMessageStore::kFacilityFlags; ++f) EXPECT_EQ(store.FacilityCount(f), facilities[f]) << when << f;
    for (int32_t severity = -1; severity <= 7; ++severity) {
      EXPECT_EQ(store.SeverityCount(severity), severities[severity]) << when << severity;
    }
  };
  auto record = [](int i) {
    SyslogMessage message = Message("m" + std::to_string(i), "h" + std::to_string(i % 3), i % 30 - 2);
    message.ipAddress = "10.0.0." + std::to_string(i % 5);
    message.severity = i % 11 - 1;
    return message;
  };
  uint64_t version = store.CountsVersion();
  for (int i = 0; i < 40; ++i) {
    SyslogMessage message = record(i);
    store.Add(message);
    if (i == 10) store.ApplyFilter(CRule(), std::nullopt);
    if (i == 20) store.SortBy(2);
    EXPECT_NE(store.CountsVersion(), version);
    version = store.CountsVersion();
    expectRecount("live " + std::to_string(i) + " ");
  }
  for (int i = 0; i < 9; ++i) {
    SyslogMessage message = record(i);
    store.AppendFromFile(message);
  }
  expectRecount("file ");
  SyslogMessage live = record(3);
  store.Add(live);
  expectRecount("after file ");
  store.Clear(5);
  EXPECT_NE(store.CountsVersion(), version);
  expectRecount("emptied ");
  EXPECT_EQ(store.HostNameCount("h0"), 0u);
  EXPECT_EQ(store.FacilityCount(-1), 0u);
  EXPECT_EQ(store.SeverityCount(8), 0u);
}

// The quick filter looks in the text, the host name and the address, without regard to case, and
// narrows whatever the tree's filter shows: both must pass.
TEST(MessageStoreTest, QuickFilterLooksInTextHostAndAddressAndCombinesWithTheTreeFilter) {
  struct Case {
    const char* quick;
    bool treeFilter;  // the tree shows contents "disk"
    std::vector<std::string> shown;
  };
  const Case cases[] = {
      {"DISK", false, {"disk full", "Disk ok"}},
      {"gate", false, {"link up"}},                  // host name "gateway"
      {"10.9.", false, {"fan low"}},                 // address 10.9.0.5
      {"o", false, {"Disk ok", "fan low"}},
      {"", true, {"disk full", "Disk ok"}},
      {"ok", true, {"Disk ok"}},
      {"gate", true, {}},
      {"nowhere", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.quick) + (c.treeFilter ? " with the tree's filter" : ""));
    CMessageStore store(10);
    SyslogMessage records[] = {Message("disk full", "nas"), Message("Disk ok", "nas"), Message("link up", "gateway"),
                               Message("fan low", "srv")};
    records[3].ipAddress = "10.9.0.5";
    for (SyslogMessage& record : records) store.Add(record);
    if (c.treeFilter) {
      CRule disk;
      disk.Message = "disk";
      store.ApplyFilter(disk, std::nullopt);
    }
    store.SetQuickText(c.quick, std::nullopt);
    EXPECT_EQ(Shown(store), c.shown);
    EXPECT_EQ(store.filterShown(), c.treeFilter || *c.quick != '\0');
    // New arrivals pass both filters too.
    bool grew = false;
    SyslogMessage late = records[0];
    store.Add(late, &grew);
    const bool passes = std::find(c.shown.begin(), c.shown.end(), "disk full") != c.shown.end();
    EXPECT_EQ(grew, passes);
  }
}

// Removing one filter leaves the other; a longer text narrows the list shown now, without bringing
// back a message that has left all; the quick filter outlasts emptying and filters opened files.
TEST(MessageStoreTest, QuickFilterNarrowsOutlastsEmptyingAndKeepsTheSelection) {
  CMessageStore store(3);
  for (const char* text : {"error 1", "ok 2", "error 3", "Error 4"}) {  // "error 1" leaves all
    SyslogMessage record = Message(text);
    store.Add(record);
  }
  CRule threeOnly;
  threeOnly.Message = "r 3";
  EXPECT_EQ(store.SetQuickText("err", ShownPosition(1)), ShownPosition(0));  // "error 3" stays selected
  EXPECT_EQ(Shown(store), (std::vector<std::string>{"error 3", "Error 4"}));
  EXPECT_EQ(store.SetQuickText("ERROR", ShownPosition(1)), ShownPosition(1));  // narrowed
  EXPECT_EQ(Shown(store), (std::vector<std::string>{"error 3", "Error 4"}));
  store.ApplyFilter(threeOnly, std::nullopt);
  EXPECT_EQ(Shown(store), (std::vector<std::string>{"error 3"}));
  store.ShowAll();  // the tree shows all; the quick filter still narrows
  EXPECT_TRUE(store.filterShown());
  EXPECT_FALSE(store.treeFilterShown());
  EXPECT_EQ(Shown(store), (std::vector<std::string>{"error 3", "Error 4"}));
  EXPECT_EQ(store.SetQuickText("", ShownPosition(1)), ShownPosition(2));  // all again, "Error 4" still selected
  EXPECT_FALSE(store.filterShown());
  EXPECT_EQ(Shown(store), (std::vector<std::string>{"ok 2", "error 3", "Error 4"}));

  // The filtered list keeps a message that has left all; narrowing must not show it again.
  store.SetQuickText("e", std::nullopt);
  SyslogMessage newest = Message("ok 5");
  store.Add(newest);  // "ok 2" leaves all
  SyslogMessage more = Message("zz 6");
  store.Add(more);    // "error 3" leaves all, but stays in the filtered list
  EXPECT_EQ(Shown(store), (std::vector<std::string>{"error 3", "Error 4"}));
  store.SetQuickText("er", std::nullopt);
  EXPECT_EQ(Shown(store), (std::vector<std::string>{"Error 4"}));

  store.Clear(10);
  EXPECT_EQ(store.quickText(), "er");
  EXPECT_TRUE(store.filterShown());
  for (const char* text : {"served", "idle", "error"}) {
    SyslogMessage record = Message(text);
    store.AppendFromFile(record);
  }
  EXPECT_EQ(Shown(store), (std::vector<std::string>{"served", "error"}));
  EXPECT_EQ(store.storedCount(), 3);
}

// A window open towards the future moves: its oldest messages leave from the top and the others
// keep their message numbers (the view keeps its rows); messages out of order, or a bound that
// goes back, rebuild the list; any other filter refuses to move.
TEST(MessageStoreTest, MovingTimeWindowDropsItsOldestOrRebuilds) {
  using Move = CMessageStore::WindowMove;
  struct Case {
    std::vector<int32_t> times;  // time received of each message, in order of arrival
    int32_t low;
    Move expected;
    std::vector<std::string> shown;
    std::optional<ShownPosition> keep;  // the last shown message selected before the move
  };
  const Case cases[] = {
      {{10, 20, 30, 40}, 25, Move::kDropped, {"30", "40"}, ShownPosition(1)},
      {{10, 20, 30, 40}, 10, Move::kUnchanged, {"10", "20", "30", "40"}, ShownPosition(3)},
      {{10, 20, 30, 40}, 50, Move::kDropped, {}, std::nullopt},
      {{30, 10, 40, 20}, 25, Move::kRebuilt, {"30", "40"}, std::nullopt},  // "20" was the last shown
      {{10, 20, 30, 40}, 5, Move::kRebuilt, {"10", "20", "30", "40"}, ShownPosition(3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.low);
    CMessageStore store(10);
    for (const int32_t time : c.times) {
      SyslogMessage record = Message(std::to_string(time));
      record.timeReceived = time;
      store.Add(record);
    }
    CRule window;
    window.TimeRange = c.low == 5 ? 8 : 10;
    window.timeRangeEnd = CRule::kTimeRangeEndOpen;
    store.ApplyFilter(window, std::nullopt);
    const uint64_t generation = store.shownGeneration();
    const uint64_t added = store.shownAdded();
    std::optional<ShownPosition> keep = ShownPosition(store.shownCount() - 1);
    EXPECT_EQ(store.MoveTimeWindow(c.low, &keep), c.expected);
    EXPECT_EQ(Shown(store), c.shown);
    EXPECT_EQ(keep, c.keep);
    if (c.expected != Move::kRebuilt) {
      EXPECT_EQ(store.shownGeneration(), generation);
      EXPECT_EQ(store.shownAdded(), added);  // the messages that stay keep their numbers
    }
    // New arrivals keep joining the window, and the list still turns as a ring.
    SyslogMessage late = Message("late");
    late.timeReceived = 1000;
    store.Add(late);
    EXPECT_EQ(Shown(store).back(), "late");
  }

  // A sorted window stays sorted as messages leave it.
  {
    CMessageStore sorted(10);
    for (const int32_t time : {10, 20, 30, 40}) {
      SyslogMessage record = Message(std::to_string(time));
      record.timeReceived = time;
      sorted.Add(record);
    }
    CRule window;
    window.TimeRange = 10;
    window.timeRangeEnd = CRule::kTimeRangeEndOpen;
    sorted.ApplyFilter(window, std::nullopt);
    constexpr int kTimeReceivedKey = 4;
    sorted.SortBy(kTimeReceivedKey);  // ascending
    sorted.SortBy(kTimeReceivedKey);  // then descending
    EXPECT_EQ(sorted.MoveTimeWindow(25), Move::kRebuilt);
    EXPECT_EQ(Shown(sorted), (std::vector<std::string>{"40", "30"}));
  }

  CMessageStore store(2);
  CRule closed;
  closed.TimeRange = 10;
  closed.timeRangeEnd = 20;
  EXPECT_EQ(store.MoveTimeWindow(15), CMessageStore::WindowMove::kNotMoving);  // all shown
  store.ApplyFilter(closed, std::nullopt);
  EXPECT_EQ(store.MoveTimeWindow(15), CMessageStore::WindowMove::kNotMoving);
  // A dropped ring keeps turning: three arrivals into two slots after one left.
  CRule open;
  open.TimeRange = 1;
  open.timeRangeEnd = CRule::kTimeRangeEndOpen;
  store.ApplyFilter(open, std::nullopt);
  for (int32_t time : {5, 6}) {
    SyslogMessage record = Message(std::to_string(time));
    record.timeReceived = time;
    store.Add(record);
  }
  EXPECT_EQ(store.MoveTimeWindow(6), CMessageStore::WindowMove::kDropped);
  for (int32_t time : {7, 8, 9}) {
    SyslogMessage record = Message(std::to_string(time));
    record.timeReceived = time;
    store.Add(record);
  }
  EXPECT_EQ(Shown(store), (std::vector<std::string>{"8", "9"}));
}

}  // namespace
}  // namespace qv
