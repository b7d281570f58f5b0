#include "rules/pattern_matcher.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "rules/caseless_search.h"

namespace qv {
namespace {

// Node kinds. Kinds 32..63 consume exactly one byte. Group markers and branch nodes are
// bit-coded: a marker carries its group number in the low byte, a branch its operator.
enum : uint16_t {
  kEmpty = 0,
  kJump = 1,
  kSkipRight = 2,  // the left alternative matched: skip the right one
  kTextStart = 3,
  kTextEnd = 4,
  kWordStart = 5,
  kWordEnd = 6,
  kCaseOn = 7,
  kCaseOff = 8,
  kFinal = 31,
  kAny = 33,
  kInSet = 34,
  kNotInSet = 35,
  kLiteral = 36,
  kSpace = 37,
  kNotSpace = 38,
  kUpper = 39,
  kLower = 40,
  kDigit = 41,
  kNotDigit = 42,
  kAlnum = 43,
  kNotAlnum = 44,
};

constexpr uint16_t kGroupBit = 0x100;
constexpr uint16_t kGroupOpen = 0x200;
constexpr uint16_t kGroupClose = 0x400;
constexpr uint16_t kCaptureBit = 0x800;
constexpr uint16_t kBranchBit = 0x1000;
constexpr uint16_t kGreedyBit = 0x800;

constexpr int32_t kNone = -1;

enum class JumpRole : uint8_t { kPlain, kLoopBack, kLoopEntry };

struct PatternNode {
  uint16_t kind = kEmpty;
  JumpRole role = JumpRole::kPlain;
  int32_t previous = kNone;
  int32_t next = kNone;
  // Literal byte, set index, partner of a branch, target of a jump, last node of the right
  // alternative for kSkipRight, opening marker for a closing marker.
  int32_t data = kNone;
  int32_t loop = kNone;  // loop number of a repetition's branch and jumps
};

using ByteSet = std::array<uint8_t, 32>;

bool IsConsuming(uint16_t kind) { return kind >= 32 && kind <= 63; }
bool IsBranch(uint16_t kind) { return (kind & kBranchBit) != 0; }
bool IsGroupMarker(uint16_t kind) { return !IsBranch(kind) && (kind & kGroupBit) != 0; }

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
bool IsUpper(uint8_t c) { return c >= 'A' && c <= 'Z'; }
bool IsLower(uint8_t c) { return c >= 'a' && c <= 'z'; }
bool IsAlnum(uint8_t c) { return IsDigit(c) || IsUpper(c) || IsLower(c); }
bool IsSpace(uint8_t c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }
uint8_t ToUpper(uint8_t c) { return IsLower(c) ? static_cast<uint8_t>(c - 'a' + 'A') : c; }

bool ClassMatches(uint16_t kind, uint8_t c) {
  switch (kind) {
    case kSpace: return IsSpace(c);
    case kNotSpace: return !IsSpace(c);
    case kUpper: return IsUpper(c);
    case kLower: return IsLower(c);
    case kDigit: return IsDigit(c);
    case kNotDigit: return !IsDigit(c);
    case kAlnum: return IsAlnum(c);
    case kNotAlnum: return !IsAlnum(c);
    default: return false;
  }
}

}  // namespace

struct CompiledPattern {
  std::vector<PatternNode> nodes;
  std::vector<ByteSet> sets;
  int32_t first = kNone;
  int32_t loopCount = 0;
  // The bytes a match can begin with, when every match consumes at least one byte; searches
  // try only the positions that hold one of them.
  bool hasFirstBytes = false;
  ByteSet firstBytes{};
  // The same bytes listed, when they are at most three ("s" and "S", say): memchr then finds
  // the next candidate faster than a look at every byte.
  std::string fewFirstBytes;
  // When every match begins with a repetition of one consuming node (after group openings
  // only), that node: an attempt that fails at p has tried every end of that run, so no start
  // inside the same run can succeed either.
  int32_t leadingRun = kNone;
  // The literals every match begins with (two or more, else empty): searches look for them all
  // at once, exactly or without regard to case as the case flag says, and try only there.
  std::string literalPrefix;
  CCaselessSearch caselessPrefix;
};

namespace {

// A chain of nodes under construction: head and tail of one sequence.
struct Chain {
  int32_t head = kNone;
  int32_t tail = kNone;
};

// What one escape or plain character stands for.
struct Atom {
  uint16_t kind = kLiteral;  // kLiteral, a class kind, or kCaseOn/kCaseOff
  uint8_t byte = 0;
};

class PatternCompiler {
 public:
  PatternCompiler(std::string_view pattern, CompiledPattern& out) : pattern_(pattern), out_(out) {}

  bool Compile() {
    Chain chain;
    if (!Sequence(chain, /*topLevel=*/true, 0)) return false;
    const int32_t final = NewNode(kFinal);
    Append(chain, final);
    out_.first = chain.head;
    FindFirstBytes();
    FindLeadingRun();
    FindLiteralPrefix();
    return true;
  }

 private:
  int32_t NewNode(uint16_t kind, int32_t data = kNone) {
    PatternNode node;
    node.kind = kind;
    node.data = data;
    out_.nodes.push_back(node);
    return static_cast<int32_t>(out_.nodes.size() - 1);
  }
  PatternNode& Node(int32_t index) { return out_.nodes[static_cast<size_t>(index)]; }

  void Append(Chain& chain, int32_t node) {
    if (chain.tail == kNone) {
      chain.head = chain.tail = node;
      return;
    }
    Node(chain.tail).next = node;
    Node(node).previous = chain.tail;
    chain.tail = node;
  }
  void AppendChain(Chain& chain, const Chain& inner) {
    if (inner.head == kNone) return;
    if (chain.tail == kNone) {
      chain = inner;
      return;
    }
    Node(chain.tail).next = inner.head;
    Node(inner.head).previous = chain.tail;
    chain.tail = inner.tail;
  }
  void InsertBefore(Chain& chain, int32_t at, int32_t node) {
    const int32_t before = Node(at).previous;
    Node(node).previous = before;
    Node(node).next = at;
    Node(at).previous = node;
    if (before == kNone) {
      chain.head = node;
    } else {
      Node(before).next = node;
    }
  }

  // Follows every path from the first node to its first consuming node and collects the bytes
  // those accept, literals in both cases (the case flag is not known yet). A path that reaches
  // the end node without consuming means a match may be empty: then there is no filter.
  void FindFirstBytes() {
    ByteSet bytes{};
    std::vector<bool> seen(out_.nodes.size(), false);
    std::vector<int32_t> pending = {out_.first};
    while (!pending.empty()) {
      const int32_t index = pending.back();
      pending.pop_back();
      if (index == kNone || seen[static_cast<size_t>(index)]) continue;
      seen[static_cast<size_t>(index)] = true;
      const PatternNode& node = Node(index);
      if (IsConsuming(node.kind)) {
        for (int b = 0; b < 256; ++b) {
          if (MayStartWith(node, static_cast<uint8_t>(b))) bytes[static_cast<size_t>(b / 8)] |= static_cast<uint8_t>(1u << (b % 8));
        }
        continue;
      }
      if (node.kind == kFinal) return;
      if (IsBranch(node.kind)) {
        pending.push_back(node.next);
        pending.push_back(node.data);
      } else if (node.kind == kJump) {
        pending.push_back(node.data);
      } else if (node.kind == kSkipRight) {
        pending.push_back(Node(node.data).next);
      } else {
        pending.push_back(node.next);
      }
    }
    out_.hasFirstBytes = true;
    out_.firstBytes = bytes;
    std::string few;
    for (int b = 0; b < 256 && few.size() <= 3; ++b) {
      if ((bytes[static_cast<size_t>(b / 8)] >> (b % 8)) & 1u) few += static_cast<char>(b);
    }
    if (few.size() <= 3) out_.fewFirstBytes = std::move(few);
  }

  // Recognises "X*", "X@", "X+" or "X#" of a single consuming node X at the start, possibly
  // inside opening groups: nothing before X can fail or change the case flag.
  void FindLeadingRun() {
    int32_t index = out_.first;
    while (IsGroupMarker(Node(index).kind) && (Node(index).kind & kGroupOpen) != 0) index = Node(index).next;
    if (Node(index).kind == kJump && Node(index).role == JumpRole::kLoopEntry) index = Node(index).next;
    const PatternNode& branch = Node(index);
    if (!IsBranch(branch.kind) || branch.loop == kNone) return;
    const int32_t operand = branch.next;
    if (!IsConsuming(Node(operand).kind)) return;
    const PatternNode& back = Node(Node(operand).next);
    if (back.kind != kJump || back.role != JumpRole::kLoopBack || back.loop != branch.loop) return;
    out_.leadingRun = operand;
  }

  // The run of literal nodes the pattern starts with. An operator on a literal puts its branch
  // before it, so the run ends where anything optional or repeated begins.
  void FindLiteralPrefix() {
    std::string prefix;
    for (int32_t index = out_.first; index != kNone && Node(index).kind == kLiteral; index = Node(index).next) {
      prefix += static_cast<char>(Node(index).data);
    }
    if (prefix.size() < 2) return;
    out_.caselessPrefix = CCaselessSearch(prefix);
    out_.literalPrefix = std::move(prefix);
  }

  bool MayStartWith(const PatternNode& node, uint8_t c) const {
    switch (node.kind) {
      case kAny: return true;
      case kLiteral: return ToUpper(c) == ToUpper(static_cast<uint8_t>(node.data));
      case kInSet:
      case kNotInSet: {
        const bool in = (out_.sets[static_cast<size_t>(node.data)][c / 8] >> (c % 8)) & 1u;
        return node.kind == kInSet ? in : !in;
      }
      default: return ClassMatches(node.kind, c);
    }
  }

  // Reads one sequence up to the end of the pattern or a ")" or "}" (consumed). At the top level
  // such a closer ends the whole pattern.
  bool Sequence(Chain& chain, bool topLevel, int depth) {
    // Skip nodes of alternations whose right-hand element is still being read.
    std::vector<int32_t> pendingSkips;
    bool rightStarted = false;
    auto closePending = [&] {
      for (int32_t skip : pendingSkips) Node(skip).data = chain.tail;
      pendingSkips.clear();
      rightStarted = false;
    };

    while (pos_ < pattern_.size()) {
      const char c = pattern_[pos_];
      if (c == ')' || c == '}') {
        pos_ = topLevel ? pattern_.size() : pos_ + 1;
        break;
      }
      if (c == '*' || c == '@' || c == '+' || c == '#' || c == '?' || c == '|') {
        ++pos_;
        if (chain.tail == kNone) return false;
        if (!pendingSkips.empty() && !rightStarted) return false;  // nothing after "|"
        const int32_t skip = Postfix(chain, c);
        if (skip == kNone) return false;
        if (c == '|') {
          pendingSkips.push_back(skip);
          rightStarted = false;
        }
        continue;
      }
      if (!pendingSkips.empty() && rightStarted) closePending();
      Chain element;
      if (!Element(element, depth)) return false;
      AppendChain(chain, element);
      if (!pendingSkips.empty()) rightStarted = true;
    }
    closePending();
    return true;
  }

  // One element: a group, a set, an anchor or a (possibly escaped) character.
  bool Element(Chain& element, int depth) {
    const char c = pattern_[pos_++];
    switch (c) {
      case '(':
      case '{': return Group(element, c == '(', depth);
      case '[': return Set(element);
      case '.': Append(element, NewNode(kAny)); return true;
      case '^': Append(element, NewNode(kTextStart)); return true;
      case '$': Append(element, NewNode(kTextEnd)); return true;
      case '<': Append(element, NewNode(kWordStart)); return true;
      case '>': Append(element, NewNode(kWordEnd)); return true;
      case '\\': {
        Atom atom;
        if (!Escape(atom, /*inSet=*/false)) return false;
        Append(element, atom.kind == kLiteral ? NewNode(kLiteral, atom.byte) : NewNode(atom.kind));
        return true;
      }
      default: Append(element, NewNode(kLiteral, static_cast<uint8_t>(c))); return true;
    }
  }

  bool Group(Chain& element, bool capturing, int depth) {
    if (depth + 1 > kPatternMaxGroupDepth) return false;
    uint16_t number = 0;
    if (capturing) {
      ++groupCount_;
      if (groupCount_ < kPatternCaptureSlots) number = static_cast<uint16_t>(groupCount_);
    }
    const uint16_t capture = number != 0 ? kCaptureBit : 0;
    Chain inner;
    if (!Sequence(inner, /*topLevel=*/false, depth + 1)) return false;
    if (inner.head == kNone) return false;
    const int32_t open = NewNode(kGroupBit | kGroupOpen | capture | number);
    const int32_t close = NewNode(kGroupBit | kGroupClose | capture | number, open);
    Append(element, open);
    AppendChain(element, inner);
    Append(element, close);
    return true;
  }

  // Rebuilds the tail of the chain around the operand of a postfix operator. Returns the
  // node that ends the operand's pass (the skip node for "|"), or kNone when refused.
  int32_t Postfix(Chain& chain, char op) {
    const int32_t last = chain.tail;
    const PatternNode& lastNode = Node(last);
    const bool closesGroup = IsGroupMarker(lastNode.kind) && (lastNode.kind & kGroupClose) != 0;
    const int32_t operand = closesGroup ? lastNode.data : last;

    const bool repeats = op == '*' || op == '@' || op == '+' || op == '#';
    if (repeats) {
      bool consumes = false;
      for (int32_t n = operand; n != kNone && !consumes; n = Node(n).next) {
        consumes = IsConsuming(Node(n).kind);
        if (n == last) break;
      }
      if (!consumes) return kNone;
    }
    const bool greedy = op == '*' || op == '+' || op == '?' || op == '|';
    const int32_t branch = NewNode(kBranchBit | (greedy ? kGreedyBit : 0) | static_cast<uint8_t>(op));
    const int32_t empty = NewNode(kEmpty);
    Node(branch).data = empty;

    if (repeats) {
      const int32_t loop = out_.loopCount++;
      Node(branch).loop = loop;
      if (op == '+' || op == '#') {
        const int32_t entry = NewNode(kJump, operand);
        Node(entry).role = JumpRole::kLoopEntry;
        Node(entry).loop = loop;
        InsertBefore(chain, operand, entry);
      }
      InsertBefore(chain, operand, branch);
      const int32_t back = NewNode(kJump, branch);
      Node(back).role = JumpRole::kLoopBack;
      Node(back).loop = loop;
      Append(chain, back);
      Append(chain, empty);
      return back;
    }
    InsertBefore(chain, operand, branch);
    if (op == '|') {
      const int32_t skip = NewNode(kSkipRight);
      Append(chain, skip);
      Append(chain, empty);
      Node(skip).data = empty;  // until the right-hand element is known: skip nothing
      return skip;
    }
    Append(chain, empty);
    return empty;
  }

  // Reads the escape after a "\". Sets take case switches as plain letters.
  bool Escape(Atom& atom, bool inSet) {
    if (pos_ >= pattern_.size()) return false;
    const char c = pattern_[pos_++];
    atom.kind = kLiteral;
    switch (c) {
      case 'a': atom.byte = 7; return true;
      case 'b': atom.byte = 8; return true;
      case 'e': atom.byte = 27; return true;
      case 'f': atom.byte = 12; return true;
      case 'n': atom.byte = 10; return true;
      case 'r': atom.byte = 13; return true;
      case 't': atom.byte = 9; return true;
      case 'v': atom.byte = 11; return true;
      case 'N': return Number(atom, 3, 10);
      case 'o': return Number(atom, 3, 8);
      case 'x': return Number(atom, 2, 16);
      case 's': atom.kind = kSpace; return true;
      case 'S': atom.kind = kNotSpace; return true;
      case 'd': atom.kind = kDigit; return true;
      case 'D': atom.kind = kNotDigit; return true;
      case 'w': atom.kind = kAlnum; return true;
      case 'W': atom.kind = kNotAlnum; return true;
      case 'U': atom.kind = kUpper; return true;
      case 'L': atom.kind = kLower; return true;
      case 'C':
      case 'c':
        if (inSet) break;
        atom.kind = c == 'C' ? kCaseOn : kCaseOff;
        return true;
      default: break;
    }
    atom.byte = static_cast<uint8_t>(c);
    return true;
  }

  // Exactly `digits` digits of the base; the value is taken modulo 256.
  bool Number(Atom& atom, int digits, int base) {
    unsigned value = 0;
    for (int i = 0; i < digits; ++i) {
      if (pos_ >= pattern_.size()) return false;
      const uint8_t c = static_cast<uint8_t>(pattern_[pos_]);
      int digit = -1;
      if (IsDigit(c)) {
        digit = c - '0';
      } else if (base == 16 && c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else if (base == 16 && c >= 'A' && c <= 'F') {
        digit = c - 'A' + 10;
      }
      if (digit < 0 || digit >= base) return false;
      value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
      ++pos_;
    }
    atom.byte = static_cast<uint8_t>(value % 256);
    return true;
  }

  static void AddClass(ByteSet& set, uint16_t kind) {
    for (int b = 0; b < 256; ++b) {
      if (ClassMatches(kind, static_cast<uint8_t>(b))) set[static_cast<size_t>(b / 8)] |= static_cast<uint8_t>(1u << (b % 8));
    }
  }
  static void AddRange(ByteSet& set, uint8_t from, uint8_t to) {
    for (int b = from; b <= to; ++b) set[static_cast<size_t>(b / 8)] |= static_cast<uint8_t>(1u << (b % 8));
  }

  // Reads a set after its "[" up to and including its "]".
  bool Set(Chain& element) {
    bool negated = false;
    if (pos_ < pattern_.size() && pattern_[pos_] == '^') {
      negated = true;
      ++pos_;
    }
    ByteSet set{};
    int rangeStart = -1;  // a single byte just read, which a "-" may extend into a range
    for (;;) {
      if (pos_ >= pattern_.size()) return false;
      const char c = pattern_[pos_];
      if (c == ']') {
        ++pos_;
        break;
      }
      if (c == '-' && rangeStart >= 0) {
        ++pos_;
        if (pos_ >= pattern_.size() || pattern_[pos_] == ']') return false;  // "[a-]"
        Atom end;
        if (!SetItem(end)) return false;
        if (end.kind != kLiteral || end.byte < rangeStart) return false;
        AddRange(set, static_cast<uint8_t>(rangeStart), end.byte);
        rangeStart = -1;
        continue;
      }
      Atom item;
      if (!SetItem(item)) return false;
      if (item.kind != kLiteral) {
        AddClass(set, item.kind);
        rangeStart = -1;
      } else {
        AddRange(set, item.byte, item.byte);
        rangeStart = item.byte;
      }
    }
    out_.sets.push_back(set);
    Append(element, NewNode(negated ? kNotInSet : kInSet, static_cast<int32_t>(out_.sets.size() - 1)));
    return true;
  }

  bool SetItem(Atom& atom) {
    const char c = pattern_[pos_++];
    if (c == '\\') return Escape(atom, /*inSet=*/true);
    atom.kind = kLiteral;
    atom.byte = static_cast<uint8_t>(c);
    return true;
  }

  std::string_view pattern_;
  CompiledPattern& out_;
  size_t pos_ = 0;
  int groupCount_ = 0;
};

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

CompiledPattern* CompilePattern(std::string_view pattern) {
  if (pattern.empty()) return nullptr;
  try {
    auto compiled = std::make_unique<CompiledPattern>();
    PatternCompiler compiler(pattern, *compiled);
    if (!compiler.Compile()) return nullptr;
    return compiled.release();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

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
