#pragma once
// The settings export and import file: plain text, one assignment per line, CR LF line ends.
//
//   i Settings rulescount 2
//   s Rules\rule0 Message disk full on /var
//
// Each line is a kind character ("i" integer, "s" text, anything else ignored), a section, a
// value name and the value, separated by blanks; the value is the rest of the line up to a
// carriage return and may contain blanks. Export writes the highlighting entries, the rules and
// the custom filters with their counts; import applies every line it can read to the settings
// store, whatever section it names, so it is in fact a general settings writer.
//
// Both directions use the program's settings store (AppSettings) and are meant for one thread
// at a time. Nothing here knows about windows: the viewer and `qvreg export|import` share it.

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// Colours as stored: red in the lowest byte, then green, then blue.
struct HighlightColourDefaults {
  uint32_t text = 0x000000;        // the desktop's window-text colour
  uint32_t background = 0xFFFFFF;  // the desktop's window colour
};

// Writes the export file: "hlcount" and each highlighting entry (absent values with their
// defaults, colours from `colours`), "rulescount" and each rule (its highlight condition
// cleared), "customcount" and each custom filter. Replaces any earlier content of `path`.
// False when the file cannot be created or a write fails; what was written stays.
bool ExportSettings(const std::string& path, const HighlightColourDefaults& colours);
bool ExportSettings(std::ostream& out, const HighlightColourDefaults& colours);

struct SettingsImportResult {
  bool completed = false;  // the whole file was read; false when it could not be opened or read
  int applied = 0;         // lines written to the store
  int ignored = 0;         // lines skipped: another kind, a missing or too long part
};

// Applies each line of the file to the settings store. On a read error the lines applied so far
// stay applied and `completed` is false, so the caller skips its refresh.
SettingsImportResult ImportSettings(const std::string& path);
SettingsImportResult ImportSettings(std::istream& in);

// The longest section, name or value a line may carry; a line with a longer part is ignored
// whole rather than cut.
inline constexpr std::size_t kSettingsPartLimit = 1023;

struct SettingsLine {
  char kind = 0;
  std::string section;
  std::string name;
  std::string value;
};

// Splits one line (without its line feed) as the format "%c %s %s %[^\r]" does: the first
// character is the kind; section and name are runs without white space, each after skipping
// white space; the value is what follows the next white space up to a carriage return. Nothing
// when a part is missing or empty, or longer than kSettingsPartLimit. The text ends at a zero byte.
std::optional<SettingsLine> ParseSettingsLine(std::string_view line);

// Reads a decimal number as atoi does: leading white space skipped, an optional sign, digits up
// to the first other character, 0 when there are none. Unlike a 32-bit atoi, numbers up to
// 4294967295 keep their bits (the export writes addresses and other unsigned values that way),
// and longer numbers wrap instead of being undefined.
int32_t ReadSettingsInteger(std::string_view text);

}  // namespace qv
