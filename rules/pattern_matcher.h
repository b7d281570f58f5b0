#pragma once
// The system's own small regular-expression language, used when a rule, filter or highlighting
// entry matches message contents "using Regexp". It is not POSIX or Perl syntax:
//
//   .  any byte          ^ $  start, end of the text     < >  start, end of a word
//   [set] [^set]         ( ) capturing group              { } group without capture
//   *  zero or more, greedy      @  zero or more, as few as possible
//   +  one or more, greedy       #  one or more, as few as possible
//   ?  zero or one, one first    |  the element before or the element after, before first
//   \C \c  from here on, literals compare with / without regard to case
//   \s \S \d \D \w \W \U \L  classes; \a \b \e \f \n \r \t \v control bytes;
//   \Nddd decimal, \oooo octal, \xhh hexadecimal byte; "\" before anything else: that byte
//
// Operators, "|" included, bind the single element before them: one node, or a whole group
// when a group ends there ("ab|cd" is a, then b or c, then d). An operator that follows another
// one applies to the first one's final (empty) node, so "a**" is refused, "a*?" is "a*", and
// in "a*|b" the "|" is never reached: it is "a*" (write "(a*)|b" for the alternation).
// Letters are A-Z and a-z, digits 0-9; bytes 0x80-0xFF are in no class. Sets ignore the case
// switches. A ")" or "}" without its opener ends the pattern; a group left open is closed at the
// end of the pattern.
//
// Choices made where the language leaves room:
//   - "|" with nothing after it (end of the pattern or of its group) means "the element before,
//     or nothing": "a|" behaves like "a?". A postfix operator straight after "|" ("a|*") has no
//     operand and the pattern is refused.
//   - The right-hand side of "|" is one whole element including any operator applied to it:
//     "a|b*" is "a, or any number of b", and "a|b|c" is one of the three.
//   - Groups are numbered in the order of their "(" without limit, but only groups 1..63 have
//     capture slots; higher groups match like groups without capture and are not recorded.
//   - A class escape as the end of a range ("[a-\d]") is refused like any other bad range.
//   - Groups nested deeper than kPatternMaxGroupDepth are refused.
//   - A pass through "*", "@", "+" or "#" (after the mandatory first pass of "+" and "#") that
//     consumes nothing is a dead end, so "(a*)*" ends.
//
// Matching backtracks completely: every choice is tried depth first until one reaches the end
// of the pattern. Each search is bounded: it stops with "no match" after PatternStepBudget node
// visits, which grows with the text and the pattern so that ordinary patterns still find their
// matches in long messages, or when more than kPatternMaxNesting choices and captures are
// pending. A pattern that begins with a repeated single element ("\S+ failed", "(\w+)=")
// does not retry the starts inside a run that a failed attempt has already covered, so such
// searches stay linear in the text. The
// matcher keeps its state on the caller's stack and heap, so a compiled pattern, which is never
// changed after compiling, may be searched from several threads at once.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace qv {

struct CompiledPattern;

inline constexpr int kPatternCaptureSlots = 64;
inline constexpr int kPatternMaxGroupDepth = 256;
inline constexpr int64_t kPatternStepsPerByteAndNode = 4;
inline constexpr int64_t kPatternMinStepBudget = 1'000'000;
inline constexpr int64_t kPatternMaxStepBudget = 6'000'000;
inline constexpr size_t kPatternMaxNesting = 1u << 18;

// Bit 0 of the case flag: literals compare case-sensitively until the pattern switches.
inline constexpr int kPatternCaseSensitive = 1;

// Offsets in bytes from the start of the text; -1 = unset. Slot 0 is the whole match, slot n
// (1..63) the capturing group n, taken from the first pass through the group on the matching
// path.
struct PatternCaptures {
  std::array<int32_t, kPatternCaptureSlots> start;
  std::array<int32_t, kPatternCaptureSlots> end;
};

// Compiles a pattern; null for an empty or invalid pattern, or when memory runs out. The caller
// owns the result and releases it with FreePattern (or holds it in a PatternPtr).
CompiledPattern* CompilePattern(std::string_view pattern);

// True when the pattern occurs in `text` at a position from `startPosition` on. "^", "<", ">"
// and the capture offsets refer to the start of `text`. `captures` may be null; when given it is
// reset and, on a match, filled. A null pattern never matches.
bool MatchPattern(const CompiledPattern* pattern, std::string_view text, size_t startPosition,
                  PatternCaptures* captures, int caseFlag);

// Node visits one search may make: kPatternStepsPerByteAndNode per text byte (plus one) and
// pattern node, within [kPatternMinStepBudget, kPatternMaxStepBudget].
int64_t PatternStepBudget(size_t textLength, size_t patternNodes);

// The size of a compiled pattern in nodes (0 for null), the measure PatternStepBudget takes.
size_t PatternNodeCount(const CompiledPattern* pattern);

// Releases a compiled pattern; null is allowed.
void FreePattern(CompiledPattern* pattern);

struct PatternDeleter {
  void operator()(CompiledPattern* pattern) const { FreePattern(pattern); }
};
using PatternPtr = std::unique_ptr<CompiledPattern, PatternDeleter>;

}  // namespace qv
