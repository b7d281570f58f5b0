#pragma once
// The "Match" fields shared by the Filter, Find and custom filter dialogs, as plain values, and
// their conversion to and from the match record. The facility and severity lists of those
// dialogs start with an empty entry, so list index k means the value k - 1 (index 0: any; no
// selection, index -1, gives -2, which the matcher also treats as any).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "rules/rule.h"

namespace qv {

// The 16 severity entries of the filter tree and the dialogs' severity list, item data 0..15.
extern const std::array<const char*, 16> kSeverityFilterNames;

struct TimeWindowEntry {
  const char* name;
  uint32_t seconds;
};
// The 16 "Time Received" entries of the filter tree.
extern const std::array<TimeWindowEntry, 16> kTimeWindowEntries;

struct FilterFields {
  std::string name;            // custom filter editor only
  std::string address;         // dotted address; blank = any
  int facilityIndex = 0;       // list index: 0 = empty entry (any), k = facility k - 1
  int severityIndex = 0;       // list index: 0 = empty entry (any), k = severity entry k - 1
  std::string message;
  bool useRegExp = false;
  std::string hostName;
  bool highlighted = false;
  uint32_t seconds = 0;        // "Time received within (secs)"; 0 = no time condition

  bool operator==(const FilterFields&) const = default;

  // The match record of these fields. The time field is not applied here: callers turn it into
  // a window around a moment (ApplyTimeWindow) or store it as TimeRange (custom filters).
  CRule ToRule() const;
  // The fields a stored custom filter shows in the editor (address blank when 0, list indexes
  // one above the values, TimeRange as seconds).
  static FilterFields FromRule(const CRule& rule);
};

// The address field of the rule editor and of the Filter, Find and custom filter dialogs, as a
// number in host byte order: blank parts read as 0 and a blank field as 0 (any); nothing when it
// is not up to four numbers 0..255 separated by dots (blanks around a number are allowed).
std::optional<uint32_t> ParseAddressField(std::string_view text);
// The field text of an address; blank for 0.
std::string AddressFieldText(uint32_t address);

// The address field's value: ParseAddressField's, and 0xFFFFFFFF, which no sender has, for a
// text that is not an address.
uint32_t AddressFieldValue(const std::string& text);

// Sets the rule's time condition to [moment - seconds, moment + seconds]. The bounds are worked
// out in 64 bits and kept within the 32-bit time range, and a lower bound that would read as 0
// ("no condition") becomes -1, so a huge window still matches rather than overflowing.
void ApplyTimeWindow(CRule& rule, int64_t moment, uint32_t seconds);

// The lower bound of the window of the last `seconds` at `now`, kept within the 32-bit time
// range and never 0 ("no condition"), as ApplyTimeWindow's.
int32_t RecentWindowLow(int64_t now, uint32_t seconds);
// Sets the rule's time condition to the last `seconds` at `now`, open towards the future
// (CRule::kTimeRangeEndOpen), so that new arrivals pass and the window can move with the clock.
void ApplyRecentWindow(CRule& rule, int64_t now, uint32_t seconds);

}  // namespace qv
