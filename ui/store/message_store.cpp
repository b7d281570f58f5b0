#include "ui/store/message_store.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/message/line_break_markers.h"

namespace qv {

// One stored message: this header, then the message's bytes. Host name and address are ids of
// the two indexes. Shared by the two lists through `refs`.
struct CMessageStore::Block {
  uint32_t refs;
  int32_t seq;
  int32_t severity;
  int32_t facility;
  int32_t timeSent;
  int32_t timeReceived;
  int32_t senderPort;
  uint32_t hostName;
  uint32_t address;
  uint32_t length;
  bool highlighted;

  char* Text() { return reinterpret_cast<char*>(this + 1); }
  const char* Text() const { return reinterpret_cast<const char*>(this + 1); }
};

namespace {

using Block = CMessageStore::Block;

void Release(Block* block) {
  if (block != nullptr && --block->refs == 0) std::free(block);
}

int32_t Effective(int32_t maxEntries) { return maxEntries < 1 ? CMessageStore::kDefaultMaxEntries : maxEntries; }

int Lower(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte;
}

// Text without regard to (ASCII) case, as the C library's case-blind comparison does.
int CompareNoCase(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int ca = Lower(a[i]);
    const int cb = Lower(b[i]);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

template <typename T>
int CompareNumbers(T a, T b) {
  return a == b ? 0 : (a < b ? -1 : 1);
}

}  // namespace

SyslogMessage StoredMessageView::ToMessage() const {
  SyslogMessage record;
  record.seq = seq;
  record.severity = severity;
  record.hostName.assign(hostName);
  record.ipAddress.assign(ipAddress);
  record.facility = facility;
  record.timeSent = timeSent;
  record.timeReceived = timeReceived;
  record.senderPort = senderPort;
  record.message.assign(message);
  record.highlighted = highlighted;
  return record;
}

// --- Ring ---

CMessageStore::Block* CMessageStore::Ring::At(int32_t position) const {
  if (position < 0 || position >= Count()) return nullptr;
  return In(SlotOf(first + static_cast<uint64_t>(position)));
}

void CMessageStore::Ring::Push(Block* block) {
  if (entries.size() < static_cast<std::size_t>(capacity)) {
    entries.push_back(block);  // not full yet: added equals the number of entries
  } else {
    Block*& slot = In(SlotOf(added));
    CMessageStore::Block* old = slot;
    slot = block;
    qv::Release(old);  // null when it was dropped already
  }
  ++added;
  if (added - first > static_cast<uint64_t>(capacity)) first = added - static_cast<uint64_t>(capacity);
}

void CMessageStore::Ring::DropOldest(int32_t count) {
  for (int32_t i = 0; i < count && first < added; ++i, ++first) {
    Block*& slot = In(SlotOf(first));
    qv::Release(slot);
    slot = nullptr;
  }
}

void CMessageStore::Ring::Release() {
  for (Block* block : entries) qv::Release(block);
  entries.clear();
  added = 0;
  first = 0;
}

void CMessageStore::Ring::Linearise() {
  if (first == 0 && added == entries.size()) return;
  std::vector<Block*> held;
  held.reserve(static_cast<std::size_t>(Count()));
  for (int32_t position = 0; position < Count(); ++position) held.push_back(At(position));
  entries.swap(held);
  added = entries.size();
  first = 0;
}

// --- Interned values ---

uint32_t CMessageStore::Interned::Intern(std::string_view value, bool* isNew) {
  auto found = ids.find(value);
  if (found != ids.end()) {
    *isNew = false;
    return found->second;
  }
  const auto id = static_cast<uint32_t>(values.size());
  const auto inserted = ids.emplace(std::string(value), id).first;
  values.push_back(&inserted->first);
  counts.push_back(0);
  *isNew = true;
  return id;
}

uint64_t CMessageStore::Interned::CountOf(std::string_view value) const {
  const auto found = ids.find(value);
  return found == ids.end() ? 0 : counts[found->second];
}

void CMessageStore::Interned::Clear() {
  values.clear();
  counts.clear();
  ids.clear();
}

// --- Store ---

CMessageStore::CMessageStore(int32_t maxEntries) : maxEntries_(Effective(maxEntries)) {
  all_.capacity = maxEntries_;
  filtered_.capacity = maxEntries_;
}

CMessageStore::~CMessageStore() {
  filtered_.Release();
  all_.Release();
}

void CMessageStore::Clear(int32_t maxEntries) {
  treeFilter_ = false;
  filtered_.Release();
  all_.Release();
  maxEntries_ = Effective(maxEntries);
  all_.capacity = maxEntries_;
  filtered_.capacity = maxEntries_;
  addresses_.Clear();
  hostNames_.Clear();
  std::fill(std::begin(facilitySeen_), std::end(facilitySeen_), false);
  std::fill(std::begin(facilityCounts_), std::end(facilityCounts_), 0);
  std::fill(std::begin(severityCounts_), std::end(severityCounts_), 0);
  ++countsVersion_;
  filterShown_ = !quick_.needle().empty();  // the quick filter outlasts the messages it narrowed
  ++generation_;
}

CMessageStore::Block* CMessageStore::MakeBlock(const SyslogMessage& record, Novelty* novelty) {
  void* memory = std::malloc(sizeof(Block) + record.message.size());
  if (memory == nullptr) throw std::bad_alloc();
  Block* block = new (memory) Block;
  block->refs = 1;
  block->seq = record.seq;
  block->severity = record.severity;
  block->facility = record.facility;
  block->timeSent = record.timeSent;
  block->timeReceived = record.timeReceived;
  block->senderPort = record.senderPort;
  block->address = addresses_.Intern(record.ipAddress, &novelty->address);
  block->hostName = hostNames_.Intern(record.hostName, &novelty->hostName);
  block->length = static_cast<uint32_t>(record.message.size());
  block->highlighted = record.highlighted;
  if (!record.message.empty()) std::memcpy(block->Text(), record.message.data(), record.message.size());

  const int32_t flag = std::clamp(record.facility, 0, kFacilityFlags - 1);
  novelty->facility = !facilitySeen_[flag];
  facilitySeen_[flag] = true;
  Tally(*block, true);
  return block;
}

void CMessageStore::Tally(const Block& block, bool arriving) {
  auto tally = [arriving](auto& count) { arriving ? ++count : --count; };
  tally(hostNames_.counts[block.hostName]);
  tally(addresses_.counts[block.address]);
  if (block.facility >= 0) tally(facilityCounts_[std::min(block.facility, kFacilityFlags - 1)]);
  if (block.severity <= 7) tally(severityCounts_[std::max(block.severity, -1) + 1]);
  ++countsVersion_;
}

uint64_t CMessageStore::FacilityCount(int32_t facility) const {
  return facility >= 0 && facility < kFacilityFlags ? facilityCounts_[facility] : 0;
}

uint64_t CMessageStore::SeverityCount(int32_t severity) const {
  return severity >= -1 && severity <= 7 ? severityCounts_[severity + 1] : 0;
}

CMessageStore::Novelty CMessageStore::Add(SyslogMessage& record, bool* shownGrew) {
  record.seq = all_.SlotOf(all_.added).value;
  ReplaceLineBreaks(record.message);
  Novelty novelty;
  Block* block = MakeBlock(record, &novelty);
  if (all_.entries.size() >= static_cast<std::size_t>(all_.capacity)) Tally(*all_.In(all_.SlotOf(all_.added)), false);
  all_.Push(block);
  bool grew = true;
  if (filterShown_) {
    grew = QuickMatches(record.message, record.hostName, record.ipAddress) && (!treeFilter_ || filter_.Matches(record));
    if (grew) {
      ++block->refs;
      filtered_.Push(block);
    }
  }
  if (shownGrew != nullptr) *shownGrew = grew;
  return novelty;
}

CMessageStore::Novelty CMessageStore::AppendFromFile(SyslogMessage& record) {
  if (all_.first != 0 || all_.added != all_.entries.size()) {
    all_.Linearise();
    if (!filterShown_) ++generation_;
  }
  record.seq = static_cast<int32_t>(all_.entries.size());
  ReplaceLineBreaks(record.message);
  Novelty novelty;
  Block* block = MakeBlock(record, &novelty);
  all_.entries.push_back(block);
  all_.added = all_.entries.size();
  // A list filtered now (the quick filter outlasts emptying) takes the records it matches.
  if (filterShown_ && Matches(*block)) {
    filtered_.Linearise();  // the capacity may grow below: slots must not depend on it
    ++block->refs;
    filtered_.entries.push_back(block);
    filtered_.added = filtered_.entries.size();
  }
  if (all_.Count() > maxEntries_) {
    maxEntries_ = all_.Count();
    all_.capacity = maxEntries_;
    filtered_.capacity = maxEntries_;
  }
  return novelty;
}

void CMessageStore::View(const Block& block, StoredMessageView* out) const {
  out->seq = block.seq;
  out->severity = block.severity;
  out->facility = block.facility;
  out->timeSent = block.timeSent;
  out->timeReceived = block.timeReceived;
  out->senderPort = block.senderPort;
  out->highlighted = block.highlighted;
  out->hostName = *hostNames_.values[block.hostName];
  out->ipAddress = *addresses_.values[block.address];
  out->message = std::string_view(block.Text(), block.length);
}

bool CMessageStore::ShownAt(ShownPosition position, StoredMessageView* out) const {
  const Block* block = Shown().At(position.value);
  if (block == nullptr) return false;
  View(*block, out);
  return true;
}

bool CMessageStore::ShownByNumber(uint64_t number, StoredMessageView* out) const {
  const Ring& ring = Shown();
  const auto count = static_cast<uint64_t>(ring.Count());
  if (number >= ring.added || number < ring.added - count) return false;
  return ShownAt(ShownPosition(static_cast<int32_t>(number - (ring.added - count))), out);
}

void CMessageStore::ShownTimesReceived(std::vector<int32_t>* out) const {
  const Ring& ring = Shown();
  const int32_t count = ring.Count();
  out->resize(static_cast<std::size_t>(count));
  // The slot of the oldest shown message, then on round the ring: one division, not one each.
  const auto capacity = static_cast<uint64_t>(ring.capacity);
  auto slot = static_cast<std::size_t>((ring.added - static_cast<uint64_t>(count)) % capacity);
  for (int32_t& time : *out) {
    time = ring.entries[slot]->timeReceived;
    if (++slot == capacity) slot = 0;
  }
}

bool CMessageStore::StoredAt(int32_t position, StoredMessageView* out) const {
  const Block* block = all_.At(position);
  if (block == nullptr) return false;
  View(*block, out);
  return true;
}

bool CMessageStore::QuickMatches(std::string_view message, std::string_view hostName, std::string_view address) const {
  return quick_.needle().empty() || quick_.FoundIn(message) || quick_.FoundIn(hostName) || quick_.FoundIn(address);
}

bool CMessageStore::Matches(const Block& block) {
  StoredMessageView view;
  View(block, &view);
  if (!QuickMatches(view.message, view.hostName, view.ipAddress)) return false;
  return !treeFilter_ || filter_.Matches(view.ToMessage());
}

std::optional<ShownPosition> CMessageStore::Rebuild(bool narrow, std::optional<ShownPosition> keep) {
  const Block* kept = keep ? Shown().At(keep->value) : nullptr;
  std::vector<Block*> matches;
  const Ring& source = narrow ? filtered_ : all_;
  const int32_t count = source.Count();
  for (int32_t i = 0; i < count; ++i) {
    Block* block = source.At(i);
    // Narrowing keeps only what a walk of all would find: a message that has left all stays
    // behind (only the filtered list still holds it).
    if (narrow && block->refs < 2) continue;
    if (!Matches(*block)) continue;
    ++block->refs;
    matches.push_back(block);
  }
  filtered_.Release();
  filtered_.capacity = maxEntries_;
  std::optional<ShownPosition> keptPosition;
  for (Block* block : matches) {
    if (block == kept) keptPosition = ShownPosition(filtered_.Count());
    filtered_.Push(block);
  }
  filterShown_ = true;
  ++generation_;
  return keptPosition;
}

std::optional<ShownPosition> CMessageStore::ApplyFilter(const CRule& filter, std::optional<ShownPosition> keep) {
  filter_ = filter;
  treeFilter_ = true;
  return Rebuild(false, keep);
}

CMessageStore::WindowMove CMessageStore::MoveTimeWindow(int32_t low, std::optional<ShownPosition>* keep) {
  if (!treeFilter_ || filter_.TimeRange == 0 || filter_.timeRangeEnd != CRule::kTimeRangeEndOpen) {
    return WindowMove::kNotMoving;
  }
  if (low == 0) low = -1;  // 0 would read as "no time condition"
  if (low == filter_.TimeRange) return WindowMove::kUnchanged;
  const bool narrower = low > filter_.TimeRange;
  filter_.TimeRange = low;
  if (narrower) {
    // Usually the list is in order of arrival and the leaving messages are its oldest: they
    // leave from the top and the rest stays as it is, so the view keeps its rows.
    const int32_t count = filtered_.Count();
    int32_t leaving = 0;
    while (leaving < count && filtered_.At(leaving)->timeReceived < low) ++leaving;
    bool ordered = true;
    for (int32_t i = leaving; i < count && ordered; ++i) ordered = filtered_.At(i)->timeReceived >= low;
    if (ordered) {
      if (leaving == 0) return WindowMove::kUnchanged;
      filtered_.DropOldest(leaving);
      if (keep != nullptr && keep->has_value()) {
        *keep = (*keep)->value >= leaving ? std::optional<ShownPosition>(ShownPosition((*keep)->value - leaving))
                                          : std::nullopt;
      }
      return WindowMove::kDropped;
    }
  }
  // Messages leave from inside the list (sorted, or out of order): the list shown is narrowed,
  // keeping its order; a bound that went back walks all again, as messages come back.
  const std::optional<ShownPosition> kept = Rebuild(narrower, keep != nullptr ? *keep : std::nullopt);
  if (keep != nullptr) *keep = kept;
  return WindowMove::kRebuilt;
}

void CMessageStore::ShowAll() {
  treeFilter_ = false;
  if (!quick_.needle().empty()) {
    Rebuild(false, std::nullopt);
    return;
  }
  filterShown_ = false;
  ++generation_;
}

std::optional<ShownPosition> CMessageStore::SetQuickText(std::string_view text, std::optional<ShownPosition> keep) {
  if (text == quick_.needle()) return keep;
  // Every message holding the longer text holds the shorter one, so the list shown now holds
  // every match already.
  const bool narrow = filterShown_ && !quick_.needle().empty() && quick_.FoundIn(text);
  quick_ = CCaselessSearch(text);
  if (text.empty() && !treeFilter_) {
    const Block* kept = keep ? Shown().At(keep->value) : nullptr;
    filterShown_ = false;
    ++generation_;
    std::optional<ShownPosition> keptPosition;
    for (int32_t i = 0; kept != nullptr && i < all_.Count() && !keptPosition; ++i) {
      if (all_.At(i) == kept) keptPosition = ShownPosition(i);
    }
    return keptPosition;
  }
  return Rebuild(narrow, keep);
}

void CMessageStore::SortBy(int key) {
  if (key < 0 || key >= kSortKeys) return;
  Ring& ring = Shown();
  ring.Linearise();
  auto compare = [this, key](const Block* a, const Block* b) {
    switch (key) {
      case 0: return CompareNoCase(*addresses_.values[a->address], *addresses_.values[b->address]);
      case 1: return CompareNumbers(a->facility, b->facility);
      case 2: return CompareNoCase(*hostNames_.values[a->hostName], *hostNames_.values[b->hostName]);
      case 3: return CompareNoCase({a->Text(), a->length}, {b->Text(), b->length});
      case 4: return CompareNumbers(a->timeReceived, b->timeReceived);
      case 5: return CompareNumbers(a->timeSent, b->timeSent);
      default: return CompareNumbers(a->severity, b->severity);
    }
  };
  const bool descending = descending_[key];
  std::stable_sort(ring.entries.begin(), ring.entries.end(), [&](const Block* a, const Block* b) {
    return descending ? compare(b, a) < 0 : compare(a, b) < 0;
  });
  descending_[key] = !descending;
  ++generation_;
}

bool CMessageStore::ToggleHighlight(ShownPosition position) {
  Block* block = Shown().At(position.value);
  if (block == nullptr) return false;
  block->highlighted = !block->highlighted;
  return true;
}

bool CMessageStore::FacilitySeen(int32_t facility) const {
  return facility >= 0 && facilitySeen_[std::min(facility, kFacilityFlags - 1)];
}

uint64_t CMessageStore::TextBytes() const {
  uint64_t bytes = 0;
  for (int32_t position = 0; position < all_.Count(); ++position) {
    const Block* block = all_.At(position);
    bytes += block->length + hostNames_.values[block->hostName]->size() + addresses_.values[block->address]->size();
  }
  return bytes;
}

}  // namespace qv
