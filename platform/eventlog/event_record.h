#pragma once
// The byte layout of one event-log record, as reads of an event log return it.
//
// A record is the platform's EVENTLOGRECORD with 8-bit strings:
//   offset  0  Length            total bytes of the record, a multiple of 4
//           4  Reserved          the signature 0x654c664c ("LfLe")
//           8  RecordNumber
//          12  TimeGenerated     seconds since 1970, UTC
//          16  TimeWritten
//          20  EventID           the whole 32-bit identifier
//          24  EventType         16 bits (kErrorType, ...)
//          26  NumStrings        16 bits
//          28  EventCategory     16 bits
//          30  ReservedFlags     16 bits, 0
//          32  ClosingRecordNumber  0
//          36  StringOffset      where the insertion strings start
//          40  UserSidLength     0 (no user is recorded)
//          44  UserSidOffset     after the computer name, rounded up to 4
//          48  DataLength
//          52  DataOffset        after the insertion strings
//          56  source name, NUL; computer name, NUL; padding to 4;
//              insertion strings, each NUL-terminated; raw data; padding to 4;
//              Length again as the last 4 bytes.
// Numbers are in host byte order (little-endian here), as the platform's readers expect.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::evt {

inline constexpr uint16_t kErrorType = 0x0001;
inline constexpr uint16_t kWarningType = 0x0002;
inline constexpr uint16_t kInformationType = 0x0004;
inline constexpr uint16_t kAuditSuccessType = 0x0008;
inline constexpr uint16_t kAuditFailureType = 0x0010;

inline constexpr std::size_t kRecordHeaderSize = 56;
inline constexpr uint32_t kRecordSignature = 0x654c664c;

struct EventRecord {
  uint32_t recordNumber = 0;
  uint32_t timeGenerated = 0;
  uint32_t timeWritten = 0;
  uint32_t eventId = 0;
  uint16_t eventType = 0;
  uint16_t category = 0;
  std::string source;
  std::string computer;
  std::vector<std::string> strings;
  std::string data;

  bool operator==(const EventRecord&) const = default;
};

// The record in the layout above. Texts end at their first NUL byte, since the layout cannot
// carry one; callers check counts and sizes beforehand (at most 65535 strings).
std::string EncodeEventRecord(const EventRecord& record);

// Reads the record at the start of `bytes`, checking every length and offset against the
// record's own Length and the bytes given. On success `length` (when not null) receives the
// record's Length, so that the next record starts there. Nothing on malformed input.
std::optional<EventRecord> DecodeEventRecord(std::string_view bytes, std::size_t* length = nullptr);

}  // namespace qv::evt
