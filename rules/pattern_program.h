#pragma once
// The compiled form of a pattern (pattern_matcher.h), shared by the compiler
// (pattern_compiler.cpp) and the search (pattern_matcher.cpp): a list of nodes linked into
// sequences, with the byte sets and the hints that let a search skip hopeless start positions.
// Internal to the pattern matcher.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "rules/caseless_search.h"
#include "rules/pattern_matcher.h"

namespace qv {
namespace pattern_program {

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

inline bool IsConsuming(uint16_t kind) { return kind >= 32 && kind <= 63; }
inline bool IsBranch(uint16_t kind) { return (kind & kBranchBit) != 0; }
inline bool IsGroupMarker(uint16_t kind) { return !IsBranch(kind) && (kind & kGroupBit) != 0; }

inline bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
inline bool IsUpper(uint8_t c) { return c >= 'A' && c <= 'Z'; }
inline bool IsLower(uint8_t c) { return c >= 'a' && c <= 'z'; }
inline bool IsAlnum(uint8_t c) { return IsDigit(c) || IsUpper(c) || IsLower(c); }
inline bool IsSpace(uint8_t c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }
inline uint8_t ToUpper(uint8_t c) { return IsLower(c) ? static_cast<uint8_t>(c - 'a' + 'A') : c; }

inline bool ClassMatches(uint16_t kind, uint8_t c) {
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

}  // namespace pattern_program

struct CompiledPattern {
  using PatternNode = pattern_program::PatternNode;
  using ByteSet = pattern_program::ByteSet;
  std::vector<PatternNode> nodes;
  std::vector<ByteSet> sets;
  int32_t first = pattern_program::kNone;
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
  int32_t leadingRun = pattern_program::kNone;
  // The literals every match begins with (two or more, else empty): searches look for them all
  // at once, exactly or without regard to case as the case flag says, and try only there.
  std::string literalPrefix;
  CCaselessSearch caselessPrefix;
};

}  // namespace qv
