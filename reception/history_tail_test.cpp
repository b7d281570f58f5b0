#include "reception/history_tail.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "testing/temp_home.h"

namespace qv {
namespace {

std::string Lines(int from, int to) {
  std::string text;
  for (int i = from; i <= to; ++i) text += "line " + std::to_string(i) + "\r\n";
  return text;
}

TEST(HistoryTailTest, LastWholeLinesOfBothFilesOldestFirst) {
  qv::testing::TempHome home;
  const std::string older = home.file("qvhistb.txt");
  const std::string newer = home.file("qvhista.txt");
  // Lines long enough that the newer file spans several read blocks.
  const std::string padding(200, 'p');
  std::string big, bigTail;
  for (int i = 0; i < 2000; ++i) {
    big += padding + std::to_string(i) + "\r\n";
    if (i >= 500) bigTail += padding + std::to_string(i) + "\r\n";
  }
  const struct {
    const char* name;
    std::string olderText, newerText;
    std::size_t lines;
    std::string expected;
  } cases[] = {
      {"from the newer file only", Lines(1, 5), Lines(6, 10), 3, Lines(8, 10)},
      {"across both files", Lines(1, 5), Lines(6, 10), 7, Lines(4, 10)},
      {"more than there are", Lines(1, 5), Lines(6, 10), 100, Lines(1, 10)},
      {"none asked", Lines(1, 5), Lines(6, 10), 0, ""},
      {"an unfinished last line is left out", Lines(1, 5), Lines(6, 7) + "line 8 half", 2, Lines(6, 7)},
      {"an older file only", Lines(1, 5), "", 2, Lines(4, 5)},
      {"many blocks", "", big, 1500, bigTail},
  };
  for (const auto& c : cases) {
    std::ofstream(older, std::ios::binary | std::ios::trunc) << c.olderText;
    std::ofstream(newer, std::ios::binary | std::ios::trunc) << c.newerText;
    EXPECT_EQ(ReadHistoryTail(older, c.newerText.empty() ? "" : newer, c.lines), c.expected) << c.name;
  }
  EXPECT_EQ(ReadHistoryTail(home.file("missing"), "", 10), "");
}

}  // namespace
}  // namespace qv
