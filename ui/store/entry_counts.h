#pragma once
// The running message counts that the filter tree shows beside its entries ("beta (59)"). The
// store keeps them as messages arrive in and leave its list of all (the ring overwriting its
// oldest, the store emptied), so reading a count is one look-up, never a walk of the messages.
// Counts are of the list of all, whatever filter is shown: they say how many messages choosing
// the entry would show. User-interface thread only.

#include <cstdint>
#include <string_view>

namespace qv {

class CEntryCounts {
 public:
  virtual ~CEntryCounts() = default;
  // Changes whenever a count may have changed, so that a reader that saw the same number may
  // skip its update.
  virtual uint64_t CountsVersion() const = 0;
  virtual uint64_t HostNameCount(std::string_view hostName) const = 0;
  virtual uint64_t AddressCount(std::string_view address) const = 0;
  // Facility 0..24; 25 counts every facility above 24. Negative facilities count nowhere.
  virtual uint64_t FacilityCount(int32_t facility) const = 0;
  // The messages of exactly this severity, 0..7; -1 counts those below 0 (which every "or
  // Higher" threshold takes). Severities above 7 count nowhere.
  virtual uint64_t SeverityCount(int32_t severity) const = 0;
};

}  // namespace qv
