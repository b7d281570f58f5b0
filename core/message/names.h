#pragma once
// The vocabulary of a syslog record: facility, severity and month names.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace qv {

inline constexpr int32_t kFacilityUser = 1;
inline constexpr int32_t kFacilitySyslog = 5;     // every record the system makes itself
inline constexpr int32_t kFacilityWindows = 24;   // entries of the event-log translator
inline constexpr int32_t kFacilityUnknown = 25;   // highest facility after parsing

// Indexed by facility 0..25; 25 is "UNKNOWN". Facility 4 is "security" and 10 "authpriv", as
// Linux names them, so that the two can be told apart in the tree, the list and exports.
extern const std::array<const char*, 26> kFacilityNames;
// Indexed by severity 0..7: "EMERGENCY".., "Emergency".., "Emergency or Higher"..
extern const std::array<const char*, 8> kSeverityNames;
extern const std::array<const char*, 8> kSeverityListNames;
extern const std::array<const char*, 8> kSeverityThresholdNames;
// "Jan".."Dec", used to read and to write syslog time stamps.
extern const std::array<const char*, 12> kMonthNames;

// The rendering name of a facility: a negative facility reads as 0, 25 and above as "UNKNOWN".
const char* FacilityName(int32_t facility);
// The rendering name of a severity: a negative severity reads as 0, others modulo 8.
const char* SeverityName(int32_t severity);

namespace names_detail {

// Three characters folded to lower case as one number, so that a month word is found with
// whole-number compares. Only letters fold into letters: the case bit of anything else makes
// no month.
constexpr uint32_t PackedMonth(std::string_view name) {
  constexpr uint32_t kLowerCase = 0x202020;
  return (static_cast<uint32_t>(static_cast<uint8_t>(name[0])) << 16 |
          static_cast<uint32_t>(static_cast<uint8_t>(name[1])) << 8 | static_cast<uint8_t>(name[2])) |
         kLowerCase;
}

// The month names packed once, in the order of kMonthNames.
inline constexpr std::array<uint32_t, 12> kPackedMonths = [] {
  constexpr std::string_view kNames = "janfebmaraprmayjunjulaugsepoctnovdec";
  std::array<uint32_t, 12> packed{};
  for (std::size_t i = 0; i < packed.size(); ++i) packed[i] = PackedMonth(kNames.substr(3 * i, 3));
  return packed;
}();

}  // namespace names_detail

// The index 0..11 of the month name equal to the first three characters of `word`, in any case
// ("AUG", "aug" and "Aug" are August), or nullopt when none is: a word that names no month
// makes no time stamp, since a wrong date is worse than none. Inline: nearly every datagram
// asks it.
inline std::optional<int> MonthIndex(std::string_view word) {
  if (word.size() < 3) return std::nullopt;  // no month name is that short
  const uint32_t head = names_detail::PackedMonth(word);
  for (std::size_t i = 0; i < names_detail::kPackedMonths.size(); ++i) {
    if (head == names_detail::kPackedMonths[i]) return static_cast<int>(i);
  }
  return std::nullopt;
}

}  // namespace qv
