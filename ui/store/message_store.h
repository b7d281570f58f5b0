#pragma once
// The windowed program's messages in memory: the ring of all messages, the filtered list, the
// three indexes that feed the filter tree, and sorting.
//
// Three numbers must not be mixed up, and the first two have types of their own (list_numbers.h).
// A record's `seq` is the RingSlot it was given when it was added (total added modulo the
// capacity). A ShownPosition counts from 0 at the oldest message of the list shown now. A
// message number counts every message ever added to a list since it was (re)built; the oldest
// held has number added() - count(), so a number names the same message for as long as it is
// held, however the ring turns (the list model relies on it, and translates the view's rows).
//
// Two filters narrow the shown list together: the filter tree's (ApplyFilter, a match record)
// and the quick filter's text (SetQuickText). A message is shown when it passes both; with
// neither, the list of all is shown.
//
// Each message is one heap block (numbers, interned host and address, message bytes) shared by
// the two lists: the filtered list holds the same blocks as the list of all, so flipping the
// highlight of a filtered message flips it in both, and a message overwritten in one list lives
// on in the other. Host names and addresses are interned in the two indexes, which keep every
// value seen until the store is emptied. Counters are 64-bit, so the ring never miscounts however
// long the program runs.
//
// The store counts the messages of its list of all per host name, address, facility and
// severity (CEntryCounts), by one increment as a message arrives and one decrement as the ring
// overwrites it: the filter tree reads its counts without walking the messages.
//
// Not locked: the user-interface thread owns the store.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/message/syslog_message.h"
#include "rules/caseless_search.h"
#include "rules/rule.h"
#include "ui/store/entry_counts.h"
#include "ui/store/list_numbers.h"

namespace qv {

// A stored message as it is read: numbers and views into the store. The views stay valid until
// the message is overwritten or the store is emptied.
struct StoredMessageView {
  int32_t seq = 0;
  int32_t severity = 0;
  int32_t facility = 0;
  int32_t timeSent = 0;
  int32_t timeReceived = 0;
  int32_t senderPort = 0;
  bool highlighted = false;
  std::string_view hostName;
  std::string_view ipAddress;
  std::string_view message;

  SyslogMessage ToMessage() const;
};

class CMessageStore : public CEntryCounts {
 public:
  static constexpr int32_t kDefaultMaxEntries = 100000;
  // Facilities 0..24 have a flag each; every facility above 24 shares the last one.
  static constexpr int32_t kFacilityFlags = 26;

  // Sort keys: address, facility, host name, message, time received, time sent, severity.
  static constexpr int kSortKeys = 7;

  // What an added message was new for, so that the filter tree can be told.
  struct Novelty {
    bool address = false;
    bool hostName = false;
    bool facility = false;
  };

  // `maxEntries` below 1 means kDefaultMaxEntries.
  explicit CMessageStore(int32_t maxEntries = kDefaultMaxEntries);
  ~CMessageStore() override;
  CMessageStore(const CMessageStore&) = delete;
  CMessageStore& operator=(const CMessageStore&) = delete;

  // Empties both lists and the indexes and takes `maxEntries` (below 1: the default) as the new
  // capacity; removes the tree's filter. Sort directions and the quick filter are kept.
  void Clear(int32_t maxEntries);

  // Stores the record in the ring of all (overwriting the oldest once full): sets its `seq`,
  // turns its carriage returns and line feeds into the markers "®" and "¶", indexes it. While
  // the filtered list is shown and the record matches the filter it is added there too.
  // Returns what it was new for; `*shownGrew` tells whether the shown list changed.
  Novelty Add(SyslogMessage& record, bool* shownGrew = nullptr);

  // Appends a record read from a document file: `seq` is its position, the ring does not wrap
  // (the capacity grows instead, until the store is next emptied). While a filter is shown it
  // joins the filtered list when it passes.
  Novelty AppendFromFile(SyslogMessage& record);

  // The list shown now: filtered while the tree's filter or the quick filter applies.
  bool filterShown() const { return filterShown_; }
  bool treeFilterShown() const { return treeFilter_; }
  const std::string& quickText() const { return quick_.needle(); }
  int32_t shownCount() const { return Shown().Count(); }
  uint64_t shownAdded() const { return Shown().added; }
  // Changes whenever the shown list is replaced rather than grown: a filter applied, all shown
  // again, a sort, emptying, a file opened.
  uint64_t shownGeneration() const { return generation_; }
  // The message at a shown position, or at a message number of the shown list; false (and `out`
  // untouched) when it is not held.
  bool ShownAt(ShownPosition position, StoredMessageView* out) const;
  bool ShownByNumber(uint64_t number, StoredMessageView* out) const;
  // The time received of every shown message, oldest position first, into `out` (resized; its
  // capacity is reused). One walk of the list: the activity graph reads all of them at once.
  void ShownTimesReceived(std::vector<int32_t>* out) const;
  // The list of all, oldest first.
  int32_t storedCount() const { return all_.Count(); }
  bool StoredAt(int32_t position, StoredMessageView* out) const;

  // Makes `filter` the tree's filter and rebuilds the filtered list from all, oldest to newest,
  // with the messages that pass it and the quick filter, and shows it. Returns the new shown
  // position of the message that was at shown position `keep`, or nothing when it is not among
  // the matches (or `keep` is nothing).
  std::optional<ShownPosition> ApplyFilter(const CRule& filter, std::optional<ShownPosition> keep);
  // Removes the tree's filter; a quick filter still narrows the list (rebuilt then).
  void ShowAll();
  // The quick filter: only messages whose text, host name or address holds `text`, letters a-z
  // without regard to case (the plain contents search of a match record); "" removes it.
  // Returns as ApplyFilter. A text that extends the previous one narrows the list shown now
  // instead of walking all again, which is what keeps typing fast in a full store.
  std::optional<ShownPosition> SetQuickText(std::string_view text, std::optional<ShownPosition> keep);

  // What MoveTimeWindow did.
  enum class WindowMove {
    kNotMoving,  // the tree's filter is no window open towards the future: nothing changed
    kUnchanged,  // no message left
    kDropped,    // the oldest messages left the list; the others keep their message numbers
    kRebuilt,    // the list was rebuilt: narrowed in its order when the messages leaving were not
                 // its oldest (a sorted list stays sorted), walked from all when the bound went back
  };
  // Moves the lower bound of the tree filter's time window to `low` when that window is open
  // towards the future (CRule::kTimeRangeEndOpen): the messages received before `low` leave the
  // shown list. `keep`, when given, is a shown position turned into the same message's new one
  // (nothing when it left).
  WindowMove MoveTimeWindow(int32_t low, std::optional<ShownPosition>* keep = nullptr);

  // Sorts the shown list by `key` (0..6; others do nothing) in the key's current direction, then
  // reverses that direction; the sorted order becomes the ring's order from oldest to newest.
  void SortBy(int key);

  // Flips the highlight of the message at a shown position (in both lists). False when the
  // position is not held.
  bool ToggleHighlight(ShownPosition position);

  int32_t maxEntries() const { return maxEntries_; }
  uint64_t totalAdded() const { return all_.added; }
  std::size_t addressesSeen() const { return addresses_.values.size(); }
  std::size_t hostNamesSeen() const { return hostNames_.values.size(); }
  bool FacilitySeen(int32_t facility) const;
  // Bytes of message, host name and address text of the messages in the list of all (walks it).
  uint64_t TextBytes() const;

  // CEntryCounts: counts of the list of all.
  uint64_t CountsVersion() const override { return countsVersion_; }
  uint64_t HostNameCount(std::string_view hostName) const override { return hostNames_.CountOf(hostName); }
  uint64_t AddressCount(std::string_view address) const override { return addresses_.CountOf(address); }
  uint64_t FacilityCount(int32_t facility) const override;
  uint64_t SeverityCount(int32_t severity) const override;

  // One stored message (opaque outside the store).
  struct Block;

 private:
  // Message number n sits in slot n % capacity; numbers first .. added - 1 are held, the slots
  // of the others are empty (released) or not made yet.
  struct Ring {
    std::vector<Block*> entries;
    uint64_t added = 0;
    uint64_t first = 0;
    int32_t capacity = 1;
    int32_t Count() const { return static_cast<int32_t>(added - first); }
    Block* At(int32_t position) const;  // position 0 is the oldest held; null outside
    RingSlot SlotOf(uint64_t number) const {
      return RingSlot(static_cast<int32_t>(number % static_cast<uint64_t>(capacity)));
    }
    Block*& In(RingSlot slot) { return entries[static_cast<std::size_t>(slot.value)]; }
    Block* In(RingSlot slot) const { return entries[static_cast<std::size_t>(slot.value)]; }
    void Push(Block* block);            // releases what it overwrites
    void DropOldest(int32_t count);     // releases the oldest `count` held; numbers stay
    void Release();                     // every slot, then empty
    void Linearise();                   // slot i holds position i; added = count, first = 0
  };
  // Every value once; ids index `values`, which point at the map's keys (nodes do not move).
  struct Interned {
    struct Hash {
      using is_transparent = void;
      std::size_t operator()(std::string_view value) const { return std::hash<std::string_view>()(value); }
    };
    std::unordered_map<std::string, uint32_t, Hash, std::equal_to<>> ids;
    std::vector<const std::string*> values;
    std::vector<uint32_t> counts;  // messages in the list of all, by id
    uint32_t Intern(std::string_view value, bool* isNew);
    uint64_t CountOf(std::string_view value) const;
    void Clear();
  };

  const Ring& Shown() const { return filterShown_ ? filtered_ : all_; }
  Ring& Shown() { return filterShown_ ? filtered_ : all_; }
  Block* MakeBlock(const SyslogMessage& record, Novelty* novelty);
  void View(const Block& block, StoredMessageView* out) const;
  bool QuickMatches(std::string_view message, std::string_view hostName, std::string_view address) const;
  bool Matches(const Block& block);
  // Counts a message into or out of the counts of the list of all.
  void Tally(const Block& block, bool arriving);
  // Fills the filtered list from `source` (all, or the filtered list itself when narrowing) with
  // the messages that pass both filters, and shows it; see ApplyFilter.
  std::optional<ShownPosition> Rebuild(bool narrow, std::optional<ShownPosition> keep);

  int32_t maxEntries_;
  Ring all_;
  Ring filtered_;
  bool filterShown_ = false;
  uint64_t generation_ = 0;
  bool treeFilter_ = false;
  CRule filter_;
  CCaselessSearch quick_;
  Interned addresses_;
  Interned hostNames_;
  bool facilitySeen_[kFacilityFlags] = {};
  // Index 0 for severities below 0, then 1..8 for severities 0..7.
  static constexpr int kSeverityCounts = 9;
  uint64_t facilityCounts_[kFacilityFlags] = {};
  uint64_t severityCounts_[kSeverityCounts] = {};
  uint64_t countsVersion_ = 0;
  bool descending_[kSortKeys] = {};
  std::string scratch_;
};

}  // namespace qv
