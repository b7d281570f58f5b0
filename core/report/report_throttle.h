#pragma once
// Says a recurring failure at most once per interval for each kind, with how many times it
// happened since it was last said, so that a flood of bad handshakes, failed mails or dropped
// actions becomes one local message a minute instead of one per event.
//
// A kind is any short text the caller chooses ("tls handshake", "mail:<rule name>"); the
// callers choose from a bounded set, so the table stays small. Occurrences held back are said
// with the next one that is let through, or by TakeDue once their interval has passed, so a
// burst that stops is still reported.
//
// Not locked: one owner thread.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qv {

class CReportThrottle {
 public:
  using Clock = std::chrono::steady_clock;

  explicit CReportThrottle(Clock::duration interval = std::chrono::minutes(1)) : interval_(interval) {}

  // Counts one occurrence of `kind`. When the kind may be said now, returns the count to say
  // (this occurrence and those held back before it) and starts a new interval; otherwise holds
  // the occurrence back and returns nothing.
  std::optional<uint64_t> Count(std::string_view kind, Clock::time_point now = Clock::now()) {
    return Count(kind, 1, now);
  }
  // The same for `occurrences` at once (at least one).
  std::optional<uint64_t> Count(std::string_view kind, uint64_t occurrences, Clock::time_point now = Clock::now());

  // The kinds whose interval has passed with occurrences held back, each with its count; they
  // count as said.
  std::vector<std::pair<std::string, uint64_t>> TakeDue(Clock::time_point now = Clock::now());

 private:
  struct Kind {
    Clock::time_point lastSaid;
    uint64_t heldBack = 0;
  };
  Clock::duration interval_;
  std::unordered_map<std::string, Kind> kinds_;
};

}  // namespace qv
