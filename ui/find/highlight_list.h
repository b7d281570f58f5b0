#pragma once
// The colourings of the message list that come from settings: the eight severity colours
// ("color0".."color7") and the text-highlighting list ("Highlights\highlight%d", "hlcount").
//
// Colours are stored as 32-bit numbers with red in the lowest byte, then green, then blue.
// The system colours that stand in for missing "fg" and "bg" values are passed in by the
// caller, so this code needs no window system. Not thread-safe: one thread matches at a time
// (a match compiles and caches the entry's pattern).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "rules/rule.h"

namespace qv {

using Colour = uint32_t;

constexpr Colour MakeColour(uint32_t red, uint32_t green, uint32_t blue) {
  return (red & 0xFFu) | ((green & 0xFFu) << 8) | ((blue & 0xFFu) << 16);
}
constexpr int RedOf(Colour colour) { return static_cast<int>(colour & 0xFFu); }
constexpr int GreenOf(Colour colour) { return static_cast<int>((colour >> 8) & 0xFFu); }
constexpr int BlueOf(Colour colour) { return static_cast<int>((colour >> 16) & 0xFFu); }

// The default severity colours, index = severity 0..7 (also Preferences' "Reset Color").
extern const std::array<Colour, 8> kDefaultSeverityColours;

// Reads "color0".."color7" with the default table.
std::array<Colour, 8> LoadSeverityColours();

struct HighlightColours {
  Colour text;
  Colour background;
  bool operator==(const HighlightColours&) const = default;
};

// One stored highlighting entry.
struct HighlightEntry {
  std::string text;
  bool useRegExp = false;
  HighlightColours colours{};
};

// The section of entry `index`: "Highlights\highlight<index>".
std::string HighlightSection(size_t index);
// Reads entry `index`; missing colours are the given system colours.
HighlightEntry LoadHighlightEntry(size_t index, HighlightColours systemColours);

class CHighlightList {
 public:
  // Empties the list and appends entries 0 .. "hlcount" - 1 whose text is not empty.
  void ReloadHighlights(HighlightColours systemColours);
  // The colours of the first entry, in list order, whose rule matches the message.
  std::optional<HighlightColours> MatchHighlight(const SyslogMessage& message);
  size_t size() const { return elements_.size(); }

 private:
  struct Element {
    CRule rule;
    HighlightColours colours;
  };
  std::vector<Element> elements_;
};

}  // namespace qv
