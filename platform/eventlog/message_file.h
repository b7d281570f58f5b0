#pragma once
// Message files: the texts of event identifiers, with insertion places for an event's strings.
//
// A message file is a text file in the manner of a message-compiler source:
//
//   ; comment lines start with ";" outside a message
//   MessageId=1000
//   Disk %1 is almost full (%2 free).
//   .
//   MessageId=0x2000
//   Severity=Warning
//   First line%n
//   second line%0
//   .
//
// A message starts with a line "MessageId=N", where N is the whole 32-bit event identifier in
// decimal or, after "0x", hexadecimal (empty: one more than the previous message, 0 for the
// first). Lines "Severity=", "Facility=", "SymbolicName=" and "Language=" right after it are
// accepted and ignored. The text is every following line up to a line that holds a single ".";
// each line ends with CR LF, the last one too. Lines outside messages that are neither blank
// nor comments are ignored, and so are messages whose identifier is not a number or that never
// end, so that a file that is no message file simply holds no messages.
//
// Texts use the platform's formatting escapes, applied by FormatMessage:
//   %1 .. %99     the insertion string of that number; "%1!-10s!" adds a printf-style width,
//                 precision and "-" for left alignment (string conversions only)
//   %0            ends the text here (used to drop the final line end)
//   %n %r %t      CR LF, CR, tab;    %% %. %! "% "   a literal "%", ".", "!", " "
// An insertion number with no string to fill it stays as it is written ("%3"), rather than
// reading past the strings as the platform's own function would.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::evt {

class CMessageFile {
 public:
  // Reads and parses the file; nothing when it cannot be read or is larger than 16 MiB.
  static std::optional<CMessageFile> Load(const std::string& path);
  static CMessageFile Parse(std::string_view text);

  // The raw text of message `id`, before formatting; null when the file has none.
  const std::string* Find(uint32_t id) const;

 private:
  std::map<uint32_t, std::string> messages_;
};

// Applies the escapes above to `text` with `args` as the insertion strings.
std::string FormatMessage(std::string_view text, const std::vector<std::string>& args);

// Formats message `eventId` of `file` for an event with `strings`, as readers of event logs do:
// an insertion string made of "%%" and a decimal number is first replaced by the formatted text
// of that message of the same file (with no insertion strings of its own) when the file has it.
// Nothing when the file has no message `eventId`.
std::optional<std::string> FormatEventMessage(const CMessageFile& file, uint32_t eventId,
                                              const std::vector<std::string>& strings);

// The message file of this system's own event source: event identifier 0 is exactly its one
// insertion string. It is kept as "qvmsg.txt" in the data root.
std::string OwnMessageFilePath();
// Writes the file when it is missing or differs (atomically, by rename); false on failure.
bool InstallOwnMessageFile();

// A message or event id: a decimal number, or a hexadecimal one after "0x", that fits 32 bits.
std::optional<uint32_t> ParseNumber(std::string_view text);

}  // namespace qv::evt
