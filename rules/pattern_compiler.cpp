#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "rules/pattern_matcher.h"
#include "rules/pattern_program.h"

namespace qv {
using namespace pattern_program;
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

}  // namespace qv
