#include "core/report/report_throttle.h"

namespace qv {

std::optional<uint64_t> CReportThrottle::Count(std::string_view kind, uint64_t occurrences, Clock::time_point now) {
  auto [it, isNew] = kinds_.try_emplace(std::string(kind));
  Kind& entry = it->second;
  if (!isNew && now - entry.lastSaid < interval_) {
    entry.heldBack += occurrences;
    return std::nullopt;
  }
  const uint64_t count = entry.heldBack + occurrences;
  entry.heldBack = 0;
  entry.lastSaid = now;
  return count;
}

std::vector<std::pair<std::string, uint64_t>> CReportThrottle::TakeDue(Clock::time_point now) {
  std::vector<std::pair<std::string, uint64_t>> due;
  for (auto& [kind, entry] : kinds_) {
    if (entry.heldBack == 0 || now - entry.lastSaid < interval_) continue;
    due.emplace_back(kind, entry.heldBack);
    entry.heldBack = 0;
    entry.lastSaid = now;
  }
  return due;
}

}  // namespace qv
