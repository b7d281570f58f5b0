#pragma once
// Event logs of our own, shaped like the platform's event-log calls that the system was designed
// against: logs of numbered records that programs report events to and that readers read
// forwards or backwards, with change notification.
//
// A log is a sub-key of the registry key kEventLogKey
// (SYSTEM\CurrentControlSet\Services\Eventlog); Application, System and Security are created
// at the first use of this layer, and another log is made by creating its key. An event source
// is a sub-key of its log's key (Application\quorvel); its value "EventMessageFile" names the
// message files that readers use to format its events (see message_file.h). A log's optional
// DWORD value "MaxSize" caps the bytes its records take (default 20 MiB, at least 64 KiB); past
// it the oldest records are removed, as the platform's "overwrite as needed" logs do.
//
// The records live in the SQLite database "eventlog/eventlog.db" in the data root (WAL mode, busy
// timeout), so any number of processes write and read the logs at once. Records of a log are
// numbered from 1 without gaps; removal only ever takes the oldest ones. Each record is stored in
// the layout that reads return (event_record.h).
//
// Calls return status codes in the platform's style. Handles are small objects owned by the
// caller; one handle is used by one thread at a time, different handles by any threads.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/eventlog/event_record.h"

namespace qv::evt {

using Status = long;
inline constexpr Status kSuccess = 0;
inline constexpr Status kFileNotFound = 2;          // no such log
inline constexpr Status kAccessDenied = 5;          // the data root or a database cannot be opened
inline constexpr Status kInvalidHandle = 6;
inline constexpr Status kHandleEof = 38;            // no further record in the direction read
inline constexpr Status kInvalidParameter = 87;
inline constexpr Status kInsufficientBuffer = 122;  // the next record does not fit; see minBytesNeeded
inline constexpr Status kStoreFailed = 1009;

inline constexpr std::string_view kEventLogKey = "SYSTEM\\CurrentControlSet\\Services\\Eventlog";

// ReadEventLog flags: one of the first two with one of the last two.
inline constexpr uint32_t kSequentialRead = 0x0001;
inline constexpr uint32_t kSeekRead = 0x0002;
inline constexpr uint32_t kForwardsRead = 0x0004;
inline constexpr uint32_t kBackwardsRead = 0x0008;

// Limits of one event. A longer insertion string is cut to kMaxStringBytes; more strings, longer
// names or more data are refused with kInvalidParameter.
inline constexpr std::size_t kMaxStrings = 256;
inline constexpr std::size_t kMaxStringBytes = 31839;
inline constexpr std::size_t kMaxNameBytes = 256;
inline constexpr std::size_t kMaxDataBytes = 65536;

// Creates the keys of Application, System and Security when missing. Every call below does this
// on its first use in a data root; callers that only enumerate logs through the registry call it
// themselves.
Status EnsureDefaultLogs();

// ---- Reading -------------------------------------------------------------------------------

struct EventLogHandle;
using HEventLog = EventLogHandle*;

// Opens the log named like its key (letter case aside). kFileNotFound when there is no such key.
// A new handle reads forwards from the oldest record, or backwards from the newest.
Status OpenEventLog(std::string_view logName, HEventLog* log);
void CloseEventLog(HEventLog log);

Status GetNumberOfEventLogRecords(HEventLog log, uint32_t* count);
// The number of the oldest record; 0 for an empty log.
Status GetOldestEventLogRecord(HEventLog log, uint32_t* number);

// Copies as many whole records as fit into `buffer`, starting at the handle's read position
// (kSequentialRead) or at record `recordOffset` (kSeekRead), going forwards or backwards; the read
// position then follows the last record copied. When even the first record does not fit,
// nothing is copied, `minBytesNeeded` receives its size and kInsufficientBuffer is returned (a
// zero-byte read is the way to ask for the size). kHandleEof when no record is left in that
// direction; kInvalidParameter for a seek to a number that is not in the log. Records removed
// by the size cap while a reader holds a position are skipped.
Status ReadEventLog(HEventLog log, uint32_t flags, uint32_t recordOffset, void* buffer, uint32_t bytesToRead,
                    uint32_t* bytesRead, uint32_t* minBytesNeeded);

// Arms change notification for the handle: from now on WaitForEventLogChange reports each time
// that the log gained records since the previous report, whichever process wrote them.
Status NotifyChangeEventLog(HEventLog log);

enum class WaitResult { kChanged, kStopped, kTimedOut, kFailed };

// Waits until the log has gained records since notification was armed or last reported, until
// `stopFd` (any descriptor, such as an eventfd or a pipe, that becomes readable to ask for a
// stop; -1 for none) is readable, or until `timeoutMs` passed (-1: no limit). A change that is
// already there is reported at once, and wins over a stop asked for at the same time. The stop
// descriptor is only polled, never read. kFailed when notification was not armed.
// Writes are noticed through inotify on the data root, or by checking four times a second where
// inotify is not available.
WaitResult WaitForEventLogChange(HEventLog log, int stopFd, int timeoutMs);

// ---- Writing -------------------------------------------------------------------------------

struct EventSourceHandle;
using HEventSource = EventSourceHandle*;

// A handle for reporting as `sourceName` from this computer. The log is the one whose key has a
// sub-key of that name (case aside), else Application. The source need not be registered.
Status RegisterEventSource(std::string_view sourceName, HEventSource* source);
void DeregisterEventSource(HEventSource source);

// Writes one event; both times are now. `recordNumber` (when not null) receives its number.
Status ReportEvent(HEventSource source, uint16_t eventType, uint16_t category, uint32_t eventId,
                   const std::vector<std::string>& strings, std::string_view data = {},
                   uint32_t* recordNumber = nullptr);

// Writes `event` to the log named `logName` with every field as given, except the record number
// and the time written, which the log assigns (and stores back into `event`). A zero
// `timeGenerated` means now. For tools that write on behalf of another source or computer.
Status WriteEvent(std::string_view logName, EventRecord& event);

// This machine's host name, the computer name of events reported here.
std::string LocalComputerName();

}  // namespace qv::evt
