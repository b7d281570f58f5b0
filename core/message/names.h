#pragma once
// The vocabulary of a syslog record: facility, severity and month names.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace qv {

inline constexpr int32_t kFacilityUser = 1;
inline constexpr int32_t kFacilitySyslog = 5;     // every record the system makes itself
inline constexpr int32_t kFacilityWindows = 24;   // entries of the event-log translator
inline constexpr int32_t kFacilityUnknown = 25;   // highest facility after parsing

// Indexed by facility 0..25; 25 is "UNKNOWN".
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

// The index 0..11 of the month name equal to the first three characters of `word`, in any case
// ("AUG", "aug" and "Aug" are August), or nullopt when none is: a word that names no month
// makes no time stamp, since a wrong date is worse than none.
std::optional<int> MonthIndex(std::string_view word);

}  // namespace qv
