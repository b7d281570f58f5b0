#include "ui/find/highlight_list.h"

#include <gtest/gtest.h>

#include "core/settings/settings_store.h"
#include "testing/temp_home.h"

namespace qv {
namespace {

SyslogMessage Text(std::string text) {
  SyslogMessage message;
  message.message = std::move(text);
  return message;
}

TEST(HighlightListTest, FirstMatchingEntryWinsAndEmptyTextsAreLeftOut) {
  qv::testing::TempHome home;
  const CSettingsStore& store = AppSettings();
  const HighlightColours system{MakeColour(0, 0, 0), MakeColour(255, 255, 255)};
  const HighlightColours redOnYellow{MakeColour(255, 0, 0), MakeColour(255, 255, 0)};
  const HighlightColours blueOnWhite{MakeColour(0, 0, 255), MakeColour(255, 255, 255)};
  auto write = [&](int n, const char* text, HighlightColours colours, int regexp = 0) {
    const std::string section = "Highlights\\highlight" + std::to_string(n);
    store.SetString(section, "string", text);
    store.SetInt(section, "fg", static_cast<int32_t>(colours.text));
    store.SetInt(section, "bg", static_cast<int32_t>(colours.background));
    store.SetInt(section, "useregexp", regexp);
  };
  write(0, "", redOnYellow);
  write(1, "error", redOnYellow);
  write(2, "err", blueOnWhite);
  write(3, "^link [0-9]+ down$", blueOnWhite, 1);
  write(4, "never read", redOnYellow);
  store.SetInt("Settings", "hlcount", 4);

  CHighlightList list;
  EXPECT_FALSE(list.MatchHighlight(Text("disk error")));
  list.ReloadHighlights(system);
  EXPECT_EQ(list.size(), 3u);
  EXPECT_EQ(list.MatchHighlight(Text("disk error")), redOnYellow);
  EXPECT_EQ(list.MatchHighlight(Text("ERR: fan")), blueOnWhite);
  EXPECT_EQ(list.MatchHighlight(Text("link 3 down")), blueOnWhite);
  EXPECT_FALSE(list.MatchHighlight(Text("link 3 down again")));
  EXPECT_FALSE(list.MatchHighlight(Text("never read")));

  // Reloading rebuilds rather than appends.
  store.SetInt("Settings", "hlcount", 2);
  list.ReloadHighlights(system);
  EXPECT_EQ(list.size(), 1u);
}

TEST(HighlightListTest, SeverityColoursDefaultToTheTable) {
  qv::testing::TempHome home;
  std::array<Colour, 8> colours = LoadSeverityColours();
  EXPECT_EQ(colours, kDefaultSeverityColours);
  EXPECT_EQ(RedOf(colours[1]), 255);
  EXPECT_EQ(GreenOf(colours[1]), 192);
  EXPECT_EQ(BlueOf(colours[1]), 0);
  AppSettings().SetInt("Settings", "color7", static_cast<int32_t>(MakeColour(1, 2, 3)));
  colours = LoadSeverityColours();
  EXPECT_EQ(colours[7], 0x030201u);
  EXPECT_EQ(colours[0], MakeColour(255, 0, 0));
}

}  // namespace
}  // namespace qv
