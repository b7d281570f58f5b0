#pragma once
// The files of the simulated telephony spool, "<data root>/telephony":
//
//   lines/<id>   one line device ("a modem") per file; the devices are numbered in name order
//   calls/<any>  one call per file; it starts when the file has been written and ends when the
//                file is removed (or after its "duration")
//
// Both are texts of "key=value" lines; blank lines and lines starting with "#" are skipped, keys
// compare without regard to case, spaces around keys and values are dropped, unknown keys are
// ignored. Line files: name (default: the id), media (default "datamodem"), versions (default
// "0x00010003-0x00020002"). Call files: line (a line's id or name; default: the first line),
// direction ("in" or "out", default "in"), caller, callername, callerflags, called, calledflags,
// app, duration (seconds). Flags are names separated by commas, spaces or "|": blocked,
// outofarea, name, address, partial, unknown, unavail, or "none"; when a call file gives no
// flags, a party with a number has "address" and one without has none. The README's
// "Simulated telephony" section shows examples.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::simtapi {

struct SpoolLine {
  std::string id;  // the file name
  std::string name;
  uint32_t mediaModes = 0;
  uint32_t lowVersion = 0;
  uint32_t highVersion = 0;
};

struct SpoolCall {
  std::string line;  // empty: the first line
  bool outbound = false;
  std::string callerId;
  std::string callerName;
  uint32_t callerFlags = 0;
  std::string calledId;
  uint32_t calledFlags = 0;
  std::string appName;
  std::optional<int64_t> durationSeconds;
};

// Files larger than this are not read.
inline constexpr std::size_t kMaxSpoolFileBytes = 65536;

SpoolLine ParseSpoolLine(const std::string& id, std::string_view text);
SpoolCall ParseSpoolCall(std::string_view text);

// Reads a whole spool file; nothing when it cannot be read or is too large.
std::optional<std::string> ReadSpoolFile(const std::string& path);
// Every line device of `folder` (files not starting with "."), in name order.
std::vector<SpoolLine> ReadSpoolLines(const std::string& folder);

}  // namespace qv::simtapi
