#include "rules/pattern_matcher.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "rules/caseless_search.h"
#include "rules/pattern_program.h"

namespace qv {
using namespace pattern_program;
namespace {

// A stack that lives on the caller's stack until it outgrows `N` entries, so that the usual
// short search needs no heap memory. Not copyable: it points into itself.
template <typename T, size_t N>
class SearchStack {
 public:
  SearchStack() = default;
  SearchStack(const SearchStack&) = delete;
  SearchStack& operator=(const SearchStack&) = delete;

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void clear() { size_ = 0; }
  void push_back(const T& value) {
    if (size_ == capacity_) Grow(size_ + 1);
    data_[size_++] = value;
  }
  void pop_back() { --size_; }
  T& back() { return data_[size_ - 1]; }
  T& operator[](size_t index) { return data_[index]; }
  const T& operator[](size_t index) const { return data_[index]; }
  // Shrinks to `count` entries, or grows to it filling with `value`.
  void resize(size_t count, const T& value = T()) {
    if (count > capacity_) Grow(count);
    for (size_t i = size_; i < count; ++i) data_[i] = value;
    size_ = count;
  }

 private:
  void Grow(size_t needed) {
    size_t capacity = capacity_ * 2;
    while (capacity < needed) capacity *= 2;
    std::vector<T> larger(capacity);
    std::copy(data_, data_ + size_, larger.begin());
    heap_.swap(larger);
    data_ = heap_.data();
    capacity_ = capacity;
  }

  std::array<T, N> inline_;  // entries are written before they are read
  std::vector<T> heap_;
  T* data_ = inline_.data();
  size_t capacity_ = N;
  size_t size_ = 0;
};

// One pending choice of the backtracking walk.
struct ChoicePoint {
  int32_t node;
  int32_t position;
  uint32_t captureCount;
  uint32_t undoCount;
  bool caseSensitive;
  bool entersPass;  // resuming a minimal repetition: a new pass begins at `node`'s loop
};

struct CaptureMark {
  int32_t slot;  // start slot n, or end slot n + kPatternCaptureSlots
  int32_t offset;
};

struct LoopUndo {
  int32_t loop;
  int32_t passStart;
};

enum class Outcome { kMatch, kNoMatch, kExhausted };

// The working state of one search.
class PatternSearch {
 public:
  PatternSearch(const CompiledPattern& pattern, std::string_view text, bool caseSensitive)
      : pattern_(pattern),
        text_(reinterpret_cast<const uint8_t*>(text.data())),
        length_(static_cast<int32_t>(text.size())),
        caseSensitive_(caseSensitive),
        stepBudget_(PatternStepBudget(text.size(), pattern.nodes.size())) {}

  // The last start position that a failed attempt at `start` has already covered: the end of
  // the leading run there, or `start` itself when the pattern has none.
  int32_t CoveredUpTo(int32_t start) const {
    if (pattern_.leadingRun == kNone) return start;
    const PatternNode& run = pattern_.nodes[static_cast<size_t>(pattern_.leadingRun)];
    int32_t end = start;
    while (end < length_ && Consumes(run, text_[end])) ++end;
    return end;
  }

  Outcome Attempt(int32_t start, PatternCaptures* captures) {
    choices_.clear();
    marks_.clear();
    undo_.clear();
    passStart_.clear();
    passStart_.resize(static_cast<size_t>(pattern_.loopCount), kNone);
    const bool caseAtStart = caseSensitive_;
    position_ = start;
    int32_t node = pattern_.first;
    for (;;) {
      if (++steps_ > stepBudget_) return Outcome::kExhausted;
      if (choices_.size() + marks_.size() + undo_.size() > kPatternMaxNesting) return Outcome::kExhausted;
      const PatternNode& n = pattern_.nodes[static_cast<size_t>(node)];
      bool ok = true;
      int32_t next = n.next;
      const uint16_t kind = n.kind;
      if (IsConsuming(kind)) {
        ok = position_ < length_ && Consumes(n, text_[position_]);
        if (ok) ++position_;
      } else if (IsBranch(kind)) {
        const bool greedy = (kind & kGreedyBit) != 0;
        if (greedy) {
          Push(n.data, false);
          if (n.loop != kNone) SetPassStart(n.loop);
        } else {
          Push(node, true);
          next = n.data;
        }
      } else if (IsGroupMarker(kind)) {
        if ((kind & kCaptureBit) != 0) {
          const int32_t slot = (kind & 0xFF) + ((kind & kGroupClose) != 0 ? kPatternCaptureSlots : 0);
          marks_.push_back({slot, position_});
        }
      } else {
        switch (kind) {
          case kEmpty: break;
          case kJump:
            if (n.role == JumpRole::kLoopBack) {
              ok = passStart_[static_cast<size_t>(n.loop)] != position_;  // a pass must advance
            } else if (n.role == JumpRole::kLoopEntry) {
              SetPassStart(n.loop, kNone);  // the mandatory first pass may be empty
            }
            next = n.data;
            break;
          case kSkipRight: next = pattern_.nodes[static_cast<size_t>(n.data)].next; break;
          case kTextStart: ok = position_ == 0; break;
          case kTextEnd: ok = position_ == length_; break;
          case kWordStart:
            ok = position_ < length_ &&
                 (position_ == 0 || (IsAlnum(text_[position_]) && !IsAlnum(text_[position_ - 1])));
            break;
          case kWordEnd:
            ok = position_ > 0 &&
                 (position_ == length_ || (!IsAlnum(text_[position_]) && IsAlnum(text_[position_ - 1])));
            break;
          case kCaseOn: caseSensitive_ = true; break;
          case kCaseOff: caseSensitive_ = false; break;
          case kFinal:
            Record(start, captures);
            return Outcome::kMatch;
          default: ok = false; break;
        }
      }
      if (ok && next != kNone) {
        node = next;
        continue;
      }
      if (!Backtrack(node)) {
        caseSensitive_ = caseAtStart;
        return Outcome::kNoMatch;
      }
    }
  }

 private:
  bool Consumes(const PatternNode& n, uint8_t c) const {
    switch (n.kind) {
      case kAny: return true;
      case kLiteral: {
        const uint8_t literal = static_cast<uint8_t>(n.data);
        return caseSensitive_ ? c == literal : ToUpper(c) == ToUpper(literal);
      }
      case kInSet:
      case kNotInSet: {
        const ByteSet& set = pattern_.sets[static_cast<size_t>(n.data)];
        const bool in = (set[c / 8] >> (c % 8)) & 1u;
        return n.kind == kInSet ? in : !in;
      }
      default: return ClassMatches(n.kind, c);
    }
  }

  void Push(int32_t node, bool entersPass) {
    choices_.push_back({node, position_, static_cast<uint32_t>(marks_.size()),
                        static_cast<uint32_t>(undo_.size()), caseSensitive_, entersPass});
  }

  void SetPassStart(int32_t loop, int32_t value) {
    int32_t& slot = passStart_[static_cast<size_t>(loop)];
    undo_.push_back({loop, slot});
    slot = value;
  }
  void SetPassStart(int32_t loop) { SetPassStart(loop, position_); }

  // Resumes at the latest pending choice; false when none is left.
  bool Backtrack(int32_t& node) {
    if (choices_.empty()) return false;
    const ChoicePoint choice = choices_.back();
    choices_.pop_back();
    marks_.resize(choice.captureCount);
    while (undo_.size() > choice.undoCount) {
      passStart_[static_cast<size_t>(undo_.back().loop)] = undo_.back().passStart;
      undo_.pop_back();
    }
    position_ = choice.position;
    caseSensitive_ = choice.caseSensitive;
    node = choice.node;
    if (choice.entersPass) {
      const PatternNode& branch = pattern_.nodes[static_cast<size_t>(node)];
      SetPassStart(branch.loop);
      node = branch.next;
    }
    return true;
  }

  // Writes the capture table: later passes first, so each group keeps its first pass.
  void Record(int32_t start, PatternCaptures* captures) const {
    if (captures == nullptr) return;
    for (size_t i = marks_.size(); i-- > 0;) {
      const CaptureMark& mark = marks_[i];
      if (mark.slot < kPatternCaptureSlots) {
        captures->start[static_cast<size_t>(mark.slot)] = mark.offset;
      } else {
        captures->end[static_cast<size_t>(mark.slot - kPatternCaptureSlots)] = mark.offset;
      }
    }
    captures->start[0] = start;
    captures->end[0] = position_;
  }

  const CompiledPattern& pattern_;
  const uint8_t* text_;
  int32_t length_;
  bool caseSensitive_;
  int32_t position_ = 0;
  int64_t stepBudget_;
  int64_t steps_ = 0;
  SearchStack<ChoicePoint, 32> choices_;
  SearchStack<CaptureMark, 32> marks_;
  SearchStack<LoopUndo, 32> undo_;
  SearchStack<int32_t, 16> passStart_;
};

}  // namespace

bool MatchPattern(const CompiledPattern* pattern, std::string_view text, size_t startPosition,
                  PatternCaptures* captures, int caseFlag) {
  if (captures != nullptr) {
    captures->start.fill(-1);
    captures->end.fill(-1);
  }
  // Offsets are 32-bit: a text of 2 GiB or more is not searched.
  if (pattern == nullptr || text.size() > INT32_MAX || startPosition > text.size()) return false;
  try {
    PatternSearch search(*pattern, text, (caseFlag & kPatternCaseSensitive) != 0);
    const PatternNode& first = pattern->nodes[static_cast<size_t>(pattern->first)];
    const int32_t length = static_cast<int32_t>(text.size());
    auto attempt = [&](int32_t position) { return search.Attempt(position, captures); };

    if (first.kind == kTextStart) return attempt(static_cast<int32_t>(startPosition)) == Outcome::kMatch;
    if (!pattern->literalPrefix.empty()) {
      // Only positions that hold the whole prefix can start a match.
      const std::string& prefix = pattern->literalPrefix;
      const bool exact = (caseFlag & kPatternCaseSensitive) != 0 ||
                         std::none_of(prefix.begin(), prefix.end(), [](char c) { return IsUpper(static_cast<uint8_t>(c)) || IsLower(static_cast<uint8_t>(c)); });
      for (size_t p = startPosition; p < text.size(); ++p) {
        if (exact) {
          const void* hit = memmem(text.data() + p, text.size() - p, prefix.data(), prefix.size());
          if (hit == nullptr) return false;
          p = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
        } else {
          p = pattern->caselessPrefix.Find(text, p);
          if (p == std::string_view::npos) return false;
        }
        const Outcome outcome = attempt(static_cast<int32_t>(p));
        if (outcome != Outcome::kNoMatch) return outcome == Outcome::kMatch;
      }
      return false;
    }
    if (first.kind == kLiteral) {
      // Only positions where the first literal fits can start a match.
      const uint8_t literal = static_cast<uint8_t>(first.data);
      const bool exact = (caseFlag & kPatternCaseSensitive) != 0 || (!IsUpper(literal) && !IsLower(literal));
      const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
      for (int32_t p = static_cast<int32_t>(startPosition); p < length; ++p) {
        if (exact) {
          const void* hit = std::memchr(bytes + p, literal, static_cast<size_t>(length - p));
          if (hit == nullptr) return false;
          p = static_cast<int32_t>(static_cast<const uint8_t*>(hit) - bytes);
        } else if (ToUpper(bytes[p]) != ToUpper(literal)) {
          continue;
        }
        const Outcome outcome = attempt(p);
        if (outcome != Outcome::kNoMatch) return outcome == Outcome::kMatch;
      }
      return false;
    }
    // Each failed attempt skips the starts it has already covered (see leadingRun).
    if (pattern->hasFirstBytes) {
      const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
      const std::string& few = pattern->fewFirstBytes;
      const uint8_t* const end = bytes + length;
      // Where each of `few` next occurs (end: nowhere further), kept between candidates so that
      // every byte of the text is scanned once per listed byte, not once per candidate.
      std::array<const uint8_t*, 3> nextOf{};
      for (int32_t p = static_cast<int32_t>(startPosition); p < length; ++p) {
        if (!few.empty()) {
          const uint8_t* next = end;
          for (size_t i = 0; i < few.size(); ++i) {
            if (nextOf[i] == nullptr || (nextOf[i] != end && nextOf[i] < bytes + p)) {
              const void* hit = std::memchr(bytes + p, static_cast<uint8_t>(few[i]), static_cast<size_t>(end - (bytes + p)));
              nextOf[i] = hit != nullptr ? static_cast<const uint8_t*>(hit) : end;
            }
            next = std::min(next, nextOf[i]);
          }
          if (next == end) return false;
          p = static_cast<int32_t>(next - bytes);
        } else if (const uint8_t c = bytes[p]; ((pattern->firstBytes[c / 8] >> (c % 8)) & 1u) == 0) {
          continue;
        }
        const Outcome outcome = attempt(p);
        if (outcome != Outcome::kNoMatch) return outcome == Outcome::kMatch;
        p = search.CoveredUpTo(p);
      }
      return false;
    }
    for (int32_t p = static_cast<int32_t>(startPosition); p <= length; ++p) {
      const Outcome outcome = attempt(p);
      if (outcome != Outcome::kNoMatch) return outcome == Outcome::kMatch;
      p = search.CoveredUpTo(p);
    }
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

int64_t PatternStepBudget(size_t textLength, size_t patternNodes) {
  const int64_t scaled = kPatternStepsPerByteAndNode * static_cast<int64_t>(textLength + 1) *
                         static_cast<int64_t>(patternNodes);
  return std::clamp(scaled, kPatternMinStepBudget, kPatternMaxStepBudget);
}

size_t PatternNodeCount(const CompiledPattern* pattern) { return pattern == nullptr ? 0 : pattern->nodes.size(); }

void FreePattern(CompiledPattern* pattern) { delete pattern; }

}  // namespace qv
