#include "ui/settings_file/settings_file.h"

#include <algorithm>
#include <limits>
#include <fstream>
#include <istream>
#include <ostream>

#include "core/settings/settings_store.h"
#include "rules/rule.h"

namespace qv {
namespace {

// Longest line read whole: three parts at their limit with room for the blanks between them.
// Longer lines are skipped without being held in memory.
constexpr std::streamsize kLineBuffer = 4 * 1024;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

void WriteInteger(std::ostream& out, std::string_view section, const char* name, long long value) {
  out << "i " << section << ' ' << name << ' ' << value << "\r\n";
}

void WriteText(std::ostream& out, std::string_view section, const char* name, const std::string& value) {
  out << "s " << section << ' ' << name << ' ' << value << "\r\n";
}

std::string Numbered(const char* prefix, int n) { return prefix + std::to_string(n); }

void ExportHighlights(std::ostream& out, const HighlightColourDefaults& colours) {
  const CSettingsStore& store = AppSettings();
  const int32_t count = store.GetInt("Settings", "hlcount", 0);
  WriteInteger(out, "Settings", "hlcount", count);
  for (int n = 0; n < count && out; ++n) {
    const std::string section = Numbered("Highlights\\highlight", n);
    WriteText(out, section, "String", store.GetString(section, "String"));
    WriteInteger(out, section, "useregexp", store.GetInt(section, "useregexp", 0) != 0 ? 1 : 0);
    WriteInteger(out, section, "fg", static_cast<uint32_t>(store.GetInt(section, "fg", static_cast<int32_t>(colours.text))));
    WriteInteger(out, section, "bg",
                 static_cast<uint32_t>(store.GetInt(section, "bg", static_cast<int32_t>(colours.background))));
  }
}

// Rules and custom filters are the same record; a rule's highlight condition never leaves the
// store, a filter's does.
void ExportRuleList(std::ostream& out, const char* countName, const char* sectionPrefix, bool keepHighlighted) {
  const int32_t count = AppSettings().GetInt("Settings", countName, 0);
  WriteInteger(out, "Settings", countName, count);
  for (int n = 0; n < count && out; ++n) {
    const std::string section = Numbered(sectionPrefix, n);
    CRule rule;
    rule.Load(section);
    if (!keepHighlighted) rule.Highlighted = false;
    rule.WriteSettingsLines(out, section);
  }
}

// The next run of characters without white space, at most kSettingsPartLimit long.
bool ReadWord(std::string_view line, std::size_t& pos, std::string& word) {
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  const std::size_t start = pos;
  while (pos < line.size() && !IsBlank(line[pos])) ++pos;
  word.assign(line.substr(start, pos - start));
  return !word.empty() && word.size() <= kSettingsPartLimit;
}

void Apply(const SettingsLine& line, SettingsImportResult& result) {
  const CSettingsStore& store = AppSettings();
  if (line.kind == 'i') {
    store.SetInt(line.section, line.name, ReadSettingsInteger(line.value));
  } else if (line.kind == 's') {
    store.SetString(line.section, line.name.c_str(), line.value.c_str());
  } else {
    ++result.ignored;
    return;
  }
  ++result.applied;
}

}  // namespace

bool ExportSettings(std::ostream& out, const HighlightColourDefaults& colours) {
  ExportHighlights(out, colours);
  if (out) ExportRuleList(out, "rulescount", "Rules\\rule", false);
  if (out) ExportRuleList(out, "customcount", "Custom\\custom", true);
  out.flush();
  return static_cast<bool>(out);
}

bool ExportSettings(const std::string& path, const HighlightColourDefaults& colours) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  if (!ExportSettings(out, colours)) return false;
  out.close();
  return static_cast<bool>(out);
}

std::optional<SettingsLine> ParseSettingsLine(std::string_view line) {
  line = line.substr(0, line.find('\0'));
  if (line.empty()) return std::nullopt;
  SettingsLine parsed;
  parsed.kind = line[0];
  std::size_t pos = 1;
  if (!ReadWord(line, pos, parsed.section) || !ReadWord(line, pos, parsed.name)) return std::nullopt;
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  const std::size_t end = std::min(line.find('\r', pos), line.size());
  if (end == pos || end - pos > kSettingsPartLimit) return std::nullopt;
  parsed.value.assign(line.substr(pos, end - pos));
  return parsed;
}

int32_t ReadSettingsInteger(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  uint32_t value = 0;  // unsigned arithmetic wraps modulo 2^32 by definition
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    value = value * 10u + static_cast<uint32_t>(text[pos] - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

SettingsImportResult ImportSettings(std::istream& in) {
  SettingsImportResult result;
  char buffer[kLineBuffer];
  for (;;) {
    in.getline(buffer, kLineBuffer);
    const std::streamsize extracted = in.gcount();
    if (in.bad()) return result;
    if (in.eof() && extracted == 0) break;
    if (in.fail() && !in.eof()) {
      // Longer than any line with parts within their limits: drop the rest of it.
      in.clear();
      in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
      if (in.bad()) return result;
      ++result.ignored;
      continue;
    }
    const std::size_t length = static_cast<std::size_t>(extracted) - (in.eof() ? 0 : 1);
    if (std::optional<SettingsLine> line = ParseSettingsLine(std::string_view(buffer, length))) {
      Apply(*line, result);
    } else {
      ++result.ignored;
    }
    if (in.eof()) break;
  }
  result.completed = true;
  return result;
}

SettingsImportResult ImportSettings(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return ImportSettings(in);
}

}  // namespace qv
