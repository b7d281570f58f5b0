#include "ui/find/readable_colour.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

constexpr Colour kBlack = MakeColour(0, 0, 0);
constexpr Colour kWhite = MakeColour(255, 255, 255);

TEST(ReadableColourTest, ContrastFollowsLuminanceNotTheSumOfChannels) {
  EXPECT_NEAR(ContrastRatio(kBlack, kWhite), 21.0, 1e-9);
  EXPECT_NEAR(ContrastRatio(kWhite, kBlack), 21.0, 1e-9);
  EXPECT_NEAR(ContrastRatio(MakeColour(10, 200, 30), MakeColour(10, 200, 30)), 1.0, 1e-9);
  // Green weighs most and blue least: pure green is far lighter than pure blue.
  EXPECT_GT(RelativeLuminance(MakeColour(0, 255, 0)), 0.7);
  EXPECT_LT(RelativeLuminance(MakeColour(0, 0, 255)), 0.08);
  // Channel order: the settings keep red in the lowest byte.
  EXPECT_NEAR(RelativeLuminance(0x0000FFu), 0.2126, 1e-4);
}

TEST(ReadableColourTest, TextOnEachBackgroundIsBlackOrWhiteByItsLuminance) {
  const struct {
    Colour background;
    Colour text;
  } cases[] = {
      {kWhite, kBlack},
      {kBlack, kWhite},
      {MakeColour(255, 0, 0), kBlack},      // red: lighter than it looks
      {MakeColour(0, 0, 255), kWhite},      // blue
      {MakeColour(0, 0, 128), kWhite},      // navy
      {MakeColour(128, 128, 128), kBlack},  // the middle grey reads better in black
      {MakeColour(90, 90, 90), kWhite},
      {MakeColour(0x2B, 0x2B, 0x2B), kWhite},  // a dark palette's base
      {MakeColour(255, 255, 192), kBlack},     // pale yellow
  };
  for (const auto& c : cases) EXPECT_EQ(ReadableTextColour(c.background), c.text) << std::hex << c.background;
  // The default severity colours are light: their cells keep black text in either palette.
  for (const Colour colour : kDefaultSeverityColours) EXPECT_EQ(ReadableTextColour(colour), kBlack) << std::hex << colour;
}

TEST(ReadableColourTest, ChosenTextIsKeptWhileItCanBeRead) {
  const struct {
    Colour text, background, shown;
  } cases[] = {
      {MakeColour(255, 0, 0), kWhite, MakeColour(255, 0, 0)},               // red on white: 4:1, kept
      {kWhite, MakeColour(255, 255, 192), kBlack},                         // a light palette's text...
      {MakeColour(0xE0, 0xE0, 0xE0), MakeColour(255, 255, 0), kBlack},     // ...or a dark one's, on yellow
      {MakeColour(0xE0, 0xE0, 0xE0), MakeColour(0x2B, 0x2B, 0x2B), MakeColour(0xE0, 0xE0, 0xE0)},
      {MakeColour(0, 0, 128), kBlack, kWhite},                             // navy on black
      {MakeColour(0, 0, 128), MakeColour(0, 0, 128), kWhite},              // the same colour twice
  };
  for (const auto& c : cases) EXPECT_EQ(ReadableOn(c.text, c.background), c.shown) << std::hex << c.text << " on " << c.background;
}

}  // namespace
}  // namespace qv
