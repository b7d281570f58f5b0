#include "ui/find/highlight_list.h"

#include "core/settings/settings_store.h"

namespace qv {

const std::array<Colour, 8> kDefaultSeverityColours = {
    MakeColour(255, 0, 0),     MakeColour(255, 192, 0),   MakeColour(255, 255, 0),   MakeColour(255, 192, 192),
    MakeColour(255, 255, 192), MakeColour(192, 255, 192), MakeColour(192, 255, 255), MakeColour(224, 224, 224),
};

std::array<Colour, 8> LoadSeverityColours() {
  std::array<Colour, 8> colours{};
  for (size_t n = 0; n < colours.size(); ++n) {
    colours[n] = static_cast<Colour>(AppSettings().GetInt("Settings", "color" + std::to_string(n),
                                                          static_cast<int32_t>(kDefaultSeverityColours[n])));
  }
  return colours;
}

std::string HighlightSection(size_t index) { return "Highlights\\highlight" + std::to_string(index); }

HighlightEntry LoadHighlightEntry(size_t index, HighlightColours systemColours) {
  const CSettingsStore& store = AppSettings();
  const std::string section = HighlightSection(index);
  HighlightEntry entry;
  entry.text = store.GetString(section, "String");
  entry.useRegExp = store.GetInt(section, "useregexp", 0) != 0;
  entry.colours.text = static_cast<Colour>(store.GetInt(section, "fg", static_cast<int32_t>(systemColours.text)));
  entry.colours.background =
      static_cast<Colour>(store.GetInt(section, "bg", static_cast<int32_t>(systemColours.background)));
  return entry;
}

void CHighlightList::ReloadHighlights(HighlightColours systemColours) {
  elements_.clear();
  const int32_t count = AppSettings().GetInt("Settings", "hlcount", 0);
  for (int32_t n = 0; n < count; ++n) {
    HighlightEntry entry = LoadHighlightEntry(static_cast<size_t>(n), systemColours);
    if (entry.text.empty()) continue;
    Element element{CRule(), entry.colours};
    element.rule.Message = std::move(entry.text);
    element.rule.UseRegExp = entry.useRegExp;
    elements_.push_back(std::move(element));
  }
}

std::optional<HighlightColours> CHighlightList::MatchHighlight(const SyslogMessage& message) {
  for (Element& element : elements_) {
    if (element.rule.Matches(message)) return element.colours;
  }
  return std::nullopt;
}

}  // namespace qv
