#include "rules/caseless_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace qv {
namespace {

// The plain definition: upper-case both (a-z only) and look for the one in the other.
std::size_t Reference(std::string haystack, std::string needle, std::size_t from = 0) {
  for (std::string* text : {&haystack, &needle}) {
    for (char& c : *text) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return haystack.find(needle, from);
}

TEST(CaselessSearchTest, FindsWhatThePlainDefinitionFindsAtEveryPlace) {
  EXPECT_TRUE(CCaselessSearch("").FoundIn(""));
  EXPECT_TRUE(CCaselessSearch("").FoundIn("x"));
  EXPECT_FALSE(CCaselessSearch("x").FoundIn(""));
  EXPECT_FALSE(CCaselessSearch("error!").FoundIn("error"));
  EXPECT_TRUE(CCaselessSearch("ErRoR").FoundIn("error"));
  EXPECT_TRUE(CCaselessSearch("disk full").FoundIn("ERROR: DISK FULL"));
  EXPECT_TRUE(CCaselessSearch("full").FoundIn("ERROR: DISK FULL"));   // at the very end
  EXPECT_TRUE(CCaselessSearch("error").FoundIn("ERROR: DISK FULL"));  // at the very start
  EXPECT_FALSE(CCaselessSearch("disk  full").FoundIn("ERROR: disk full"));
  // Only a-z fold: bytes of 128 and above, and '@' against '`', stay apart.
  EXPECT_FALSE(CCaselessSearch("\xe9t\xe9").FoundIn("\xc9T\xc9"));
  EXPECT_TRUE(CCaselessSearch("\xe9t\xe9").FoundIn("x\xe9T\xe9"));
  EXPECT_FALSE(CCaselessSearch("a@b").FoundIn("A`B"));
  // The window's last byte moves it by that byte's place in the needle, whatever its case.
  EXPECT_TRUE(CCaselessSearch("abcab").FoundIn("xxABCAbABCAB"));
  EXPECT_TRUE(CCaselessSearch(std::string(300, 'q') + "z").FoundIn(std::string(400, 'Q') + "Z"));
  EXPECT_EQ(CCaselessSearch("MiXed").needle(), "MiXed");

  // Every needle of a small alphabet against every text: places, repeats and near misses.
  std::mt19937 random(13);
  const std::string alphabet = "aAbB \xe0\xc0";
  auto draw = [&](std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
    return text;
  };
  for (int round = 0; round < 20000; ++round) {
    const std::string needle = draw(1 + random() % 6);
    const std::string haystack = draw(random() % 24);
    const std::size_t from = random() % 26;
    ASSERT_EQ(CCaselessSearch(needle).FoundIn(haystack), Reference(haystack, needle) != std::string::npos)
        << "needle '" << needle << "' in '" << haystack << "'";
    ASSERT_EQ(CCaselessSearch(needle).Find(haystack, from), Reference(haystack, needle, from))
        << "needle '" << needle << "' in '" << haystack << "' from " << from;
  }
  EXPECT_EQ(CCaselessSearch("").Find("ab", 2), 2u);
  EXPECT_EQ(CCaselessSearch("").Find("ab", 3), std::string::npos);
}

}  // namespace
}  // namespace qv
