#include "rules/pattern_matcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace qv {
namespace {

// Compiles, searches from the start with the given case flag, and releases.
bool Matches(std::string_view pattern, std::string_view text, int caseFlag = kPatternCaseSensitive) {
  PatternPtr compiled(CompilePattern(pattern));
  EXPECT_NE(compiled, nullptr) << "does not compile: " << pattern;
  return MatchPattern(compiled.get(), text, 0, nullptr, caseFlag);
}

bool Compiles(std::string_view pattern) { return PatternPtr(CompilePattern(pattern)) != nullptr; }

// Slot `n` of a successful search, as (start, end).
std::pair<int, int> Group(std::string_view pattern, std::string_view text, int n) {
  PatternPtr compiled(CompilePattern(pattern));
  PatternCaptures captures;
  EXPECT_TRUE(MatchPattern(compiled.get(), text, 0, &captures, kPatternCaseSensitive)) << pattern;
  return {captures.start[static_cast<size_t>(n)], captures.end[static_cast<size_t>(n)]};
}

TEST(PatternMatcherTest, AlternationBindsTheSingleElementsAroundIt) {
  EXPECT_TRUE(Matches("ab|cd", "abd"));
  EXPECT_TRUE(Matches("ab|cd", "acd"));
  EXPECT_FALSE(Matches("ab|cd", "ab"));
  EXPECT_FALSE(Matches("ab|cd", "cd"));
  EXPECT_TRUE(Matches("(ab)|(cd)", "ab"));
  EXPECT_TRUE(Matches("^(ab)|(cd)$", "cd"));
  EXPECT_FALSE(Matches("^(ab)|(cd)$", "abcd"));
  EXPECT_EQ(Group("(ab)|(cd)", "xcd", 1), std::make_pair(-1, -1));
  EXPECT_EQ(Group("(ab)|(cd)", "xcd", 2), std::make_pair(1, 3));

  // Chains: the first alternative that leads to a match wins, and a matched left side skips
  // every later alternative.
  for (const char* text : {"xay", "xby", "xcy"}) EXPECT_TRUE(Matches("^xa|b|cy$", text)) << text;
  EXPECT_FALSE(Matches("^xa|b|cy$", "xdy"));
  EXPECT_FALSE(Matches("^xa|b|cy$", "xaby"));
  EXPECT_TRUE(Matches("^(a|ab)$", "ab"));  // "a or a", then b
  EXPECT_FALSE(Matches("^(a|ab)$", "a"));
  EXPECT_EQ(Group("^{a|b}(c)", "bc", 1), std::make_pair(1, 2));
}

TEST(PatternMatcherTest, AlternationWithNothingOrARepetitionOnTheRight) {
  EXPECT_TRUE(Matches("^x(a|)$", "x"));
  EXPECT_TRUE(Matches("^x(a|)$", "xa"));
  EXPECT_FALSE(Matches("^x(a|)$", "xb"));
  EXPECT_TRUE(Matches("^xa|", "xb"));
  for (const char* text : {"a", "", "bbb"}) EXPECT_TRUE(Matches("^(a|b*)$", text)) << text;
  EXPECT_FALSE(Matches("^(a|b*)$", "ab"));
  EXPECT_TRUE(Matches("^a|b+c$", "ac"));
  EXPECT_TRUE(Matches("^a|b+c$", "bbc"));
  EXPECT_FALSE(Matches("^a|b+c$", "c"));
  // After a repetition "|" binds that repetition's empty end node and is never reached.
  EXPECT_FALSE(Matches("^a*|b$", "b"));
  EXPECT_TRUE(Matches("^(a*)|b$", "b"));
  EXPECT_FALSE(Compiles("a|*"));
  EXPECT_FALSE(Compiles("a||b"));
}

TEST(PatternMatcherTest, CaseSwitchesApplyFromWhereTheyStand) {
  EXPECT_FALSE(Matches("error", "ERROR"));
  EXPECT_TRUE(Matches("\\cerror", "ERROR"));
  EXPECT_TRUE(Matches("\\cERR\\Cor", "error"));
  EXPECT_FALSE(Matches("\\cERR\\Cor", "ERROR"));
  EXPECT_TRUE(Matches("error", "An ERROR", 0));
  EXPECT_FALSE(Matches("\\Cerror", "An ERROR", 0));
  // A switch inside an abandoned choice does not outlive it.
  EXPECT_TRUE(Matches("{\\ca}?b", "Ab"));
  EXPECT_FALSE(Matches("{\\ca}?b", "B"));
  // Sets and classes ignore the switches.
  EXPECT_FALSE(Matches("\\c[a]", "A"));
  EXPECT_TRUE(Matches("\\C\\U", "A"));
}

TEST(PatternMatcherTest, MinimalRepetitionTriesTheRestFirst) {
  EXPECT_TRUE(Matches("a@b", "aab"));
  EXPECT_TRUE(Matches("a*b", "aab"));
  EXPECT_EQ(Group("^(a@)(a*)$", "aaa", 1), std::make_pair(0, 0));
  EXPECT_EQ(Group("^(a*)(a*)$", "aaa", 1), std::make_pair(0, 3));
  EXPECT_EQ(Group("^(x#)(x*)$", "xxx", 1), std::make_pair(0, 1));
  EXPECT_EQ(Group("\\<(.+)\\>", "<b>x</b>", 1), std::make_pair(1, 7));
  EXPECT_EQ(Group("\\<(.#)\\>", "<b>x</b>", 1), std::make_pair(1, 2));
  EXPECT_TRUE(Matches("^x#$", "x"));
  EXPECT_TRUE(Matches("^x#$", "xxx"));
  EXPECT_FALSE(Matches("^x#$", ""));
  EXPECT_TRUE(Matches("^x@$", ""));
  EXPECT_TRUE(Matches("^x?y$", "y"));
  EXPECT_FALSE(Matches("^x?y$", "xxy"));
}

TEST(PatternMatcherTest, WordBoundariesAndTextAnchors) {
  EXPECT_TRUE(Matches("<is>", "it is"));
  EXPECT_FALSE(Matches("<is>", "this"));
  EXPECT_FALSE(Matches("<is>", "isn't it"));
  EXPECT_TRUE(Matches("<", "a"));
  EXPECT_TRUE(Matches("<", " "));  // the start of the text counts whatever byte is there
  EXPECT_FALSE(Matches("<", ""));
  EXPECT_FALSE(Matches(">", ""));
  EXPECT_TRUE(Matches("<\\d+>", "port 514 down"));
  EXPECT_TRUE(Matches("$", ""));
  EXPECT_TRUE(Matches("$", "abc"));
  EXPECT_TRUE(Matches("^$", ""));
  EXPECT_FALSE(Matches("^$", "a"));
  EXPECT_FALSE(Matches("a^", "a"));  // "^" anywhere means the start of the text
  EXPECT_TRUE(Matches(".", "\n"));
}

TEST(PatternMatcherTest, SetsAndClasses) {
  EXPECT_TRUE(Matches("[\\d]", "5"));
  EXPECT_FALSE(Matches("[\\d]", "d"));
  EXPECT_TRUE(Matches("[a-c-]", "-"));
  EXPECT_TRUE(Matches("[a-c-]", "b"));
  EXPECT_FALSE(Matches("[a-c-]", "d"));
  EXPECT_TRUE(Matches("[-x]", "-"));
  EXPECT_TRUE(Matches("[\\d-z]", "-"));  // a class does not begin a range
  EXPECT_FALSE(Matches("[\\d-z]", "m"));
  EXPECT_TRUE(Matches("[\\x41-\\x43]", "B"));
  EXPECT_FALSE(Matches("[]", "]"));
  EXPECT_FALSE(Matches("[]", ""));
  EXPECT_TRUE(Matches("^[^]$", "\x80"));
  EXPECT_FALSE(Matches("[^]", ""));
  EXPECT_FALSE(Matches("[^a-z\\s]", "ab cd"));
  EXPECT_TRUE(Matches("[^a-z\\s]", "ab Cd"));
  EXPECT_TRUE(Matches("[\\s]", "\t"));
  EXPECT_TRUE(Matches("[.]", "."));
  EXPECT_FALSE(Matches("[.]", "a"));
  // Bytes above 0x7F are in no class and in every negated one.
  EXPECT_FALSE(Matches("\\w", "\xE9"));
  EXPECT_TRUE(Matches("\\W", "\xE9"));
  EXPECT_FALSE(Matches("\\L", "\xE9"));
  EXPECT_TRUE(Matches("^\\U\\L\\d\\D\\s\\S$", "Ab7x z"));
}

TEST(PatternMatcherTest, EscapesStandForBytes) {
  for (const char* pattern : {"\\N065", "\\x41", "\\o101", "\\N321", "\\x4a|\\x41"}) {
    EXPECT_TRUE(Matches(pattern, "A")) << pattern;
  }
  EXPECT_TRUE(Matches("\\xfF", "\xFF"));
  EXPECT_TRUE(Matches("^\\a\\b\\e\\f\\n\\r\\t\\v$", "\x07\x08\x1B\x0C\n\r\t\x0B"));
  EXPECT_TRUE(Matches("\\.", "."));
  EXPECT_FALSE(Matches("\\.", "a"));
  EXPECT_TRUE(Matches("\\\\\\(\\*", "\\(*"));
  EXPECT_TRUE(Matches("a\\|b", "a|b"));
  EXPECT_FALSE(Matches("a\\|b", "b"));
}

TEST(PatternMatcherTest, InvalidPatternsDoNotCompile) {
  for (const char* pattern :
       {"", "a**", "()", "{}", "(", "[a-", "[a-]", "[z-a]", "[a-\\d]", "[abc", "\\N12", "\\o018", "\\x4",
        "\\xg0", "a\\", "*a", "(*a)", "{+}", "|a", "^*", "(\\c)+", "$#", "(^)+", "x(()y)"}) {
    EXPECT_FALSE(Compiles(pattern)) << pattern;
  }
  for (const char* pattern : {"^?", "(\\c)?", "a*?", "<>|x", "a]", "[]]", "-"}) {
    EXPECT_TRUE(Compiles(pattern)) << pattern;
  }
  EXPECT_FALSE(MatchPattern(nullptr, "abc", 0, nullptr, kPatternCaseSensitive));
}

TEST(PatternMatcherTest, UnbalancedGroupMarks) {
  EXPECT_TRUE(Matches("abc)def", "xabcx"));
  EXPECT_TRUE(Matches("abc}(", "abc"));
  EXPECT_TRUE(Matches("(abc", "abc"));
  EXPECT_TRUE(Matches("^(a}b)$", "ab"));  // a "}" may close a "("
  EXPECT_EQ(Group("x(a}b", "xab", 1), std::make_pair(1, 2));
}

TEST(PatternMatcherTest, CapturesKeepTheFirstPassAndTheStartPositionLimitsTheSearch) {
  EXPECT_EQ(Group("(.)*$", "abc", 1), std::make_pair(0, 1));
  EXPECT_EQ(Group("(.)*$", "abc", 0), std::make_pair(0, 3));
  EXPECT_EQ(Group("b(\\d+)", "ab12c", 0), std::make_pair(1, 4));
  EXPECT_EQ(Group("b(\\d+)", "ab12c", 1), std::make_pair(2, 4));
  EXPECT_EQ(Group("b(\\d+)", "ab12c", 2), std::make_pair(-1, -1));

  PatternPtr anchored(CompilePattern("^a"));
  EXPECT_FALSE(MatchPattern(anchored.get(), "ba", 1, nullptr, 1));
  PatternPtr word(CompilePattern("<b"));
  EXPECT_FALSE(MatchPattern(word.get(), "ab", 1, nullptr, 1));  // boundaries look at the real text
  PatternPtr literal(CompilePattern("a"));
  EXPECT_FALSE(MatchPattern(literal.get(), "ab", 1, nullptr, 1));
  EXPECT_TRUE(MatchPattern(literal.get(), "aba", 1, nullptr, 1));
  EXPECT_FALSE(MatchPattern(literal.get(), "aba", 4, nullptr, 1));

  // Groups past the 63rd are matched but not recorded.
  std::string many;
  for (int i = 0; i < 70; ++i) many += "(x)";
  PatternPtr compiled(CompilePattern(many));
  ASSERT_NE(compiled, nullptr);
  PatternCaptures captures;
  EXPECT_TRUE(MatchPattern(compiled.get(), std::string(70, 'x'), 0, &captures, 1));
  EXPECT_EQ(captures.start[63], 62);
  EXPECT_FALSE(MatchPattern(compiled.get(), std::string(69, 'x'), 0, &captures, 1));
}

TEST(PatternMatcherTest, SearchesFindMatchesThatBeginAfterChoicesAndSwitches) {
  EXPECT_TRUE(Matches("{x?}y", "aay"));
  EXPECT_TRUE(Matches("\\c(sshd)|(sudo)\\[", "x SUDO["));
  EXPECT_FALSE(Matches("\\C(sshd)|(sudo)\\[", "x SUDO[", 0));
  EXPECT_TRUE(Matches("\\ca", "xA"));
  EXPECT_TRUE(Matches("<\\d", "ab 5"));
  EXPECT_TRUE(Matches("[^a]", "aab"));
  EXPECT_TRUE(Matches("q*$", "abc"));  // an empty match at the end of the text
  EXPECT_TRUE(Matches("(a#)|b", "xxb"));
}

// A pattern that begins with literals is searched for them all at once, and one that begins
// with one of a few bytes by memchr; "{a}bc..." and a larger set mean the same without those
// shortcuts, so both must find the same first match everywhere.
TEST(PatternMatcherTest, SearchShortcutsFindWhatThePlainSearchFinds) {
  EXPECT_TRUE(Matches("changed state to <down>", "Interface Gi0/1, changed state to down"));
  EXPECT_TRUE(Matches("denied \\w+", "x DENIED tcp", 0));
  EXPECT_FALSE(Matches("denied \\w+", "x DENIED tcp"));
  EXPECT_TRUE(Matches("abc?d", "xabd"));  // only "ab" is the prefix: "c" is optional
  EXPECT_TRUE(Matches("ab*c", "xac"));
  EXPECT_TRUE(Matches("ab|cd", "acd"));
  EXPECT_TRUE(Matches("1-\\d", "a1-1-5"));  // a second occurrence after a failed attempt

  const std::vector<std::string> suffixes = {"", "b", "c*a", "(b)|c", "\\cB", "a#b", ">", "$", "[ab]?b"};
  const std::string alphabet = "aAbBc1 ";
  std::mt19937 random(7);
  for (int round = 0; round < 4000; ++round) {
    const std::string head = std::string(1, "aAb1"[random() % 4]) + "ab"[random() % 2];
    const std::string suffix = suffixes[random() % suffixes.size()];
    std::string text;
    for (std::size_t i = random() % 16; i > 0; --i) text += alphabet[random() % alphabet.size()];
    const int caseFlag = static_cast<int>(random() % 2);
    const std::size_t start = random() % (text.size() + 1);
    PatternPtr withPrefix(CompilePattern(head + suffix));
    PatternPtr without(CompilePattern("{" + head.substr(0, 1) + "}" + head.substr(1) + suffix));
    ASSERT_NE(withPrefix, nullptr) << head + suffix;
    PatternCaptures a, b;
    const bool found = MatchPattern(withPrefix.get(), text, start, &a, caseFlag);
    ASSERT_EQ(found, MatchPattern(without.get(), text, start, &b, caseFlag))
        << "'" << head + suffix << "' in '" << text << "' from " << start << " case " << caseFlag;
    ASSERT_EQ(a.start[0], b.start[0]) << "'" << head + suffix << "' in '" << text << "'";
    ASSERT_EQ(a.end[0], b.end[0]) << "'" << head + suffix << "' in '" << text << "'";
    // A match that may begin with one of few bytes, each found by memchr, against the same
    // set made larger by bytes that no text holds.
    const std::string few = std::vector<std::string>{"a", "aB", "a1 "}[random() % 3];
    PatternPtr fewFirst(CompilePattern("[" + few + "]" + suffix));
    PatternPtr manyFirst(CompilePattern("[" + few + "xyz]" + suffix));
    ASSERT_EQ(MatchPattern(fewFirst.get(), text, start, &a, caseFlag), MatchPattern(manyFirst.get(), text, start, &b, caseFlag))
        << "'[" << few << "]" << suffix << "' in '" << text << "' from " << start;
    ASSERT_EQ(a.start[0], b.start[0]) << "'[" << few << "]" << suffix << "' in '" << text << "'";
  }
}

TEST(PatternMatcherTest, EmptyPassesEndAndHardSearchesStopWithinTheirBounds) {
  EXPECT_TRUE(Matches("^(a*)*b$", "aab"));
  EXPECT_FALSE(Matches("^(a*)*b$", "aac"));
  EXPECT_TRUE(Matches("^(a*)+$", ""));
  EXPECT_TRUE(Matches("^{x?}@y", "xxy"));
  EXPECT_TRUE(Matches("^(a|)*$", "aaa"));
  EXPECT_FALSE(Matches("^{\\c}?{a?}#b", "c"));

  // Exponential backtracking and deep nesting end as "no match", each in bounded time.
  auto endsWithoutMatch = [](std::string_view pattern, const std::string& text) {
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(Matches(pattern, text)) << pattern;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3)) << pattern;
  };
  endsWithoutMatch("(a*)*b", std::string(5000, 'a'));
  endsWithoutMatch("(a*)*b", std::string(65536, 'a'));
  endsWithoutMatch("(((a+)+)+)+c", std::string(40, 'a'));
  endsWithoutMatch("(.)*$", std::string(200000, 'q'));
  // Every byte a candidate start, the other first byte only at the very end: looked for once.
  endsWithoutMatch("[ab]c", std::string(1'000'000, 'b') + "a");

  // A long match within the bounds is found.
  EXPECT_TRUE(Matches("^.*x$", std::string(60000, 'q') + "x"));
  std::string deep(kPatternMaxGroupDepth, '(');
  EXPECT_TRUE(Compiles(deep + "a"));
  EXPECT_FALSE(Compiles("(" + deep + "a"));
}

TEST(PatternMatcherTest, LongMessagesStillFindTheirMatches) {
  // Each start inside a long word or token used to cost a pass over the rest of it, and the
  // search gave up on these long before reaching the match.
  EXPECT_EQ(Group("(\\w+)=(\\d+)", std::string(600, 'w') + " port=514", 2), std::make_pair(606, 609));
  EXPECT_TRUE(Matches("\\S+ failed", std::string(1500, 'x') + " failed"));
  EXPECT_TRUE(Matches("\\S+ failed", std::string(65000, 'x') + " failed"));
  EXPECT_TRUE(Matches(".*x$", std::string(65000, 'q') + "x"));
  std::string prose;
  while (prose.size() < 60000) prose += "the quick brown fox jumps over the lazy dog, ";
  EXPECT_TRUE(Matches("\\w+\\@\\w+\\.com", prose + "mail root@example.com now"));
  EXPECT_FALSE(Matches("\\w+\\@\\w+\\.com", prose));
  // Skipping covered starts keeps the leftmost match, also for minimal runs.
  EXPECT_EQ(Group("([a-z]@)=", "xy ab=c", 1), std::make_pair(3, 5));
  EXPECT_EQ(Group("\\d*5", "12346 15", 0), std::make_pair(6, 8));

  // The budget grows with the text and the pattern, within its bounds.
  EXPECT_EQ(PatternStepBudget(0, 10), kPatternMinStepBudget);
  EXPECT_GT(PatternStepBudget(100000, 10), PatternStepBudget(50000, 10));
  EXPECT_EQ(PatternStepBudget(65536, 100000), kPatternMaxStepBudget);
}

}  // namespace
}  // namespace qv
